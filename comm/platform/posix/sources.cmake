# The POSIX (Linux termios) platform layer.
set(COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
  # Why the last open failed (shared by every OS; each layer notes its own reasons).
  ${CMAKE_CURRENT_LIST_DIR}/StopSignal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceNode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialPortScan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TermiosMapping.cpp
  # The only file that includes <asm/termbits.h> (termios2, any baud rate through BOTHER).
  ${CMAKE_CURRENT_LIST_DIR}/Termios2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialLineCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineRestore.cpp
  # Pure rules of the device, apart from its system calls.
  ${CMAKE_CURRENT_LIST_DIR}/ReadTimeouts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HeldInput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineEvents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PosixCommDevice.cpp
)
set(COMM_PLATFORM_LIBRARIES)
