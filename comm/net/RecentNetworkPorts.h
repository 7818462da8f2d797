#pragma once
// Notes the network ports this process opened, for RecentNetworkPorts (SerialPorts.h).

#include <string>

namespace xcom {

void NoteRecentNetworkPort(const std::string& name);

}  // namespace xcom
