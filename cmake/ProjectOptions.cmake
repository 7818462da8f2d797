# Warnings and sanitizers for the project's own targets.
# Call rtutest_target_options(<target>) on every target the project defines.

function(rtutest_target_options target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
endfunction()

if(RTUTEST_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(RTUTEST_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT RTUTEST_SANITIZE STREQUAL "")
  message(FATAL_ERROR "RTUTEST_SANITIZE must be empty, 'address' or 'thread'")
endif()

# Fuzzing: instrument every library for coverage, so the fuzzers see into the code they drive.
if(RTUTEST_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
