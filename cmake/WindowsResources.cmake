# What a Windows program carries for Windows: the icon, the version information and the
# application manifest (cmake/windows/). Windows builds only.
#
#   rtutest_windows_resources(<target> "<description for Properties > Details>")

if(WIN32)
  enable_language(RC)
endif()

function(rtutest_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(RC_NAME ${target})
  set(RC_FILE_NAME ${target}.exe)
  set(RC_DESCRIPTION "${description}")
  set(RC_ICON ${PROJECT_SOURCE_DIR}/app/packaging/rtutest.ico)
  set(RC_MANIFEST ${CMAKE_BINARY_DIR}/generated/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/Program.manifest.in ${RC_MANIFEST} @ONLY)
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/Program.rc.in ${rc} @ONLY)
  # windres reports no dependencies: name the files it reads.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${RC_ICON};${RC_MANIFEST}")
  target_sources(${target} PRIVATE ${rc})
endfunction()
