# What every POSIX device layer shares: the plain POSIX parts (descriptor owner, errno texts,
# device names, termios mapping, restoring lines at exit) and the rules that make a terminal
# behave as the Windows communications API (held input, handed reads, read time-outs, line
# events). A backend's sources.cmake includes this file and adds its system calls.
set(COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TermiosMapping.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineRestore.cpp
  # Pure rules of the device, apart from its system calls.
  ${CMAKE_CURRENT_LIST_DIR}/ReadTimeouts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HeldInput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineEvents.cpp
)
set(COMM_PLATFORM_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR})
set(COMM_PLATFORM_LIBRARIES)
