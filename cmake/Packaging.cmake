# What `cmake --install` adds to the programs, and the Debian package made from it
# (`cpack -G DEB` in the build directory): a manual page for each program, the licence in
# Debian's machine-readable copyright format, the changelog, hardened and stripped binaries.
include(GNUInstallDirs)

set(RTUTEST_PACKAGE_NAME kestrum-rtutest)
# The project has no mail domain of its own yet; example.org is reserved for exactly this
# (RFC 2606), so no stranger's mailbox gets the mail. Set the real address here once there is one.
set(RTUTEST_PACKAGE_MAINTAINER "KESTRUM RTU test tool developers <rtutest-dev@example.org>"
    CACHE STRING "Maintainer of the Debian package: name <address>")
set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${RTUTEST_PACKAGE_NAME})

# The changelog's newest entry must be this version, or the package would contradict itself.
file(STRINGS ${packaging_dir}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${RTUTEST_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not version "
                      "${PROJECT_VERSION}: ${changelog_head}")
endif()

# Debian wants manual pages and changelogs compressed, reproducibly (-n: no time stamp).
set(compressed_files)
function(rtutest_gzip source destination)
  add_custom_command(OUTPUT ${destination}
    COMMAND gzip -9nc ${source} > ${destination}
    DEPENDS ${source} VERBATIM)
  set(compressed_files ${compressed_files} ${destination} PARENT_SCOPE)
endfunction()

set(package_dir ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${package_dir})
set(RTUTEST_PROGRAMS)
foreach(program rtutest kestrum-sim kestrum)
  if(TARGET ${program})
    list(APPEND RTUTEST_PROGRAMS ${program})
    set(page ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
    if(NOT EXISTS ${page})
      message(FATAL_ERROR "${program} has no manual page docs/man/${program}.1")
    endif()
    rtutest_gzip(${page} ${package_dir}/${program}.1.gz)
    install(FILES ${package_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    # `--strip` (and the package) also drop the compiler's notes, as Debian's own packages do.
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND ${CMAKE_STRIP} --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
      endif()")
  endif()
endforeach()
rtutest_gzip(${packaging_dir}/changelog ${package_dir}/changelog.gz)
add_custom_target(package_docs ALL DEPENDS ${compressed_files})
install(FILES ${packaging_dir}/copyright ${package_dir}/changelog.gz DESTINATION ${doc_dir})

set(CPACK_PACKAGE_NAME ${RTUTEST_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "KESTRUM RTU test tool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${RTUTEST_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench-test tool for the KESTRUM Modbus RTU I/O module")
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop tool for bench-testing the KESTRUM remote I/O module (two
digital inputs, two relays) over a serial line with Modbus RTU: open a
port, read all channels once or every couple of seconds, switch the
relays, and watch every frame as time-stamped hex.

The package holds the window (rtutest), a command-line tool for scripts
and production lines (kestrum), and a simulated module on a
pseudo-terminal (kestrum-sim) for using and testing the tools without
the hardware.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (C++ runtime, Qt 6) come from dpkg-shlibdeps; the Qt platform
# plugins, the font with the Chinese glyphs and Qt's translations are loaded at run time, so
# they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
# The programs only: the serial component's headers, library and CMake package (component
# "xcom") are for building other programs and stay out of this package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
include(CPack)
