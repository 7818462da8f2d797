# The Win32 platform layer: the Windows communications API itself.
set(COMM_PLATFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemError.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Win32CommDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceNode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialPortList.cpp
  # A serial device server's connection (the device itself is in ../../net).
  ${CMAKE_CURRENT_LIST_DIR}/NetSocket.cpp
)
set(COMM_PLATFORM_INCLUDE_DIRS ${CMAKE_CURRENT_LIST_DIR})
set(COMM_PLATFORM_LIBRARIES setupapi ws2_32)
