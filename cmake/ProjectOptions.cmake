# Warnings, hardening and sanitizers for the project's own targets.
# Call rtutest_target_options(<target>) on every target the project defines.

# The project's scripts and CI turn warnings into errors; a packager's plain cmake build with a
# newer compiler must not fail on a warning that compiler has just learnt.
option(RTUTEST_WERROR "Treat compiler warnings as errors (the project's scripts turn it on)" OFF)
# Debian's usual hardening of release builds: fortified libc calls, stack protector, PIE, full
# RELRO with bind-now. Left out of Debug builds (fortification needs optimisation), sanitizer
# and fuzzing builds (the sanitizers replace those checks) and the Windows build.
option(RTUTEST_HARDENING "Harden release builds (fortify, stack protector, PIE, RELRO, bind-now)" ON)

function(rtutest_target_options target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 $<$<BOOL:${RTUTEST_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${RTUTEST_WERROR}>:-Werror>)
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
# A sanitizer build finds faults and is never shipped: the optimisation the sanitizers are made
# for, and line tables only, which is all their reports use. It compiles in less than half the
# time of -O2 with full debug information.
if(NOT RTUTEST_SANITIZE STREQUAL "")
  add_compile_options(-O1 -g1)
endif()

# Fuzzing: instrument every library for coverage, so the fuzzers see into the code they drive.
if(RTUTEST_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(RTUTEST_HARDENING AND RTUTEST_SANITIZE STREQUAL "" AND NOT RTUTEST_FUZZ AND NOT WIN32)
  include(CheckPIESupported)
  check_pie_supported()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  set(optimised $<NOT:$<CONFIG:Debug>>)
  # A packager's flags (dpkg-buildflags) may set their own level of fortification: keep it.
  if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
    add_compile_definitions($<${optimised}:_FORTIFY_SOURCE=2>)
  endif()
  add_compile_options($<${optimised}:-fstack-protector-strong>)
  add_link_options($<${optimised}:LINKER:-z,relro,-z,now>)
endif()
