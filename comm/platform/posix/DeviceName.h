#pragma once
// How a port's bare device name becomes a path on this host. This plays the part of the
// Windows device-namespace prefix "\\.\":
//   "COM1", "COM2", ... "COMn" (n >= 1, any letter case)  ->  /dev/ttyS0 ... /dev/ttyS{n-1}
//   a name with a '/' in it                              ->  that path as it is, absolute or
//                                                            relative to the working folder
//                                                            (/dev/pts/3, ./link, ../sim/link)
//   any other (bare) name                                ->  /dev/<name>  (ttyUSB0, ttyACM1)

#include <string>

namespace xcom {

std::string DevicePathForName(const std::string& name);

}  // namespace xcom
