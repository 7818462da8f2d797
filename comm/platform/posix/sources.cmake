# The POSIX (Linux termios) platform layer.
set(COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
)
