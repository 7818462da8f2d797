# The Linux device layer: the shared POSIX layer (../posix) and Linux's own system calls: epoll
# and eventfd for the waits, termios2 for any baud rate, TIOCGICOUNT for the line counters,
# O_PATH, /proc and sysfs for what is behind a node.
include(${CMAKE_CURRENT_LIST_DIR}/../posix/sources.cmake)
list(APPEND COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/DeviceNode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialPortScan.cpp
  # The only file that includes <asm/termbits.h> (termios2, any baud rate through BOTHER).
  ${CMAKE_CURRENT_LIST_DIR}/Termios2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialLineCheck.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OpenSerialLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EventFdWakeup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EpollEventWait.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CounterEvents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DriverCounters.cpp
)
list(APPEND COMM_PLATFORM_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR})
