# What every POSIX device layer shares: the plain POSIX parts (descriptor owner, errno texts,
# device names, termios mapping, restoring lines at exit, taking an opened terminal) and the
# engine that makes a terminal behave as the Windows communications API (TerminalDevice: held
# input, handed reads, read time-outs, event masks). A backend's sources.cmake includes this
# file and adds its system calls: how a node is checked and opened, and what the seams below
# declare (Wakeup.h, DeviceEventWait.h, DriverCounters.h, LineSettings.h's ReadLineSettings
# and WriteLineSettings).
set(COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TermiosMapping.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineRestore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OpenRefusal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TerminalOpen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QueueSizeLimit.cpp
  # Pure rules of the device, apart from its system calls.
  ${CMAKE_CURRENT_LIST_DIR}/ReadTimeouts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OutputExcess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HeldInput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineEvents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TerminalProperties.cpp
  # The engine: settings and queues, transfers, events.
  ${CMAKE_CURRENT_LIST_DIR}/LineSampler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TerminalDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TerminalTransfers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TerminalEvents.cpp
  # A serial device server's connection (the device itself is in ../../net).
  ${CMAKE_CURRENT_LIST_DIR}/NetSocket.cpp
)
set(COMM_PLATFORM_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR})
set(COMM_PLATFORM_LIBRARIES)
