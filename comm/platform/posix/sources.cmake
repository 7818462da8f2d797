# The POSIX (Linux termios) platform layer.
set(COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StopSignal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TermiosMapping.cpp
  # The only file that includes <asm/termbits.h> (termios2, any baud rate through BOTHER).
  ${CMAKE_CURRENT_LIST_DIR}/Termios2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PosixCommDevice.cpp
)
