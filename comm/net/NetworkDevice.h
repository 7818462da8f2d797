#pragma once
// A serial line reached through a serial device server, as one more device under the port
// component: the same transfers, queue counts, events, purge and loss as a local line.
//
// A receiving thread per connection takes what the server sends into the input queue (through
// the Telnet codec for RFC 2217), notes the events (characters arrived; for RFC 2217 the modem
// lines and line errors the server notifies) and rings the monitor's doorbell. A connection the
// server ends, or that stays silent through the keepalive probes, makes the device lost.
//
// RFC 2217: the COM-PORT-OPTION is negotiated at open; every SetCommState sends the rate, format
// and flow control and waits a short, bounded time for the answers; what stays unanswered is
// told by SettingsReport() and not waited for again. Raw TCP: the settings are accepted and kept,
// and SettingsReport() says that the server owns them.

#include <memory>

#include "CommDevice.h"
#include "NetworkName.h"

namespace xcom {

// Connects and, for RFC 2217, negotiates; nullptr, with the reason noted, when that fails.
std::unique_ptr<CommDevice> OpenNetworkDevice(const NetworkAddress& address);

}  // namespace xcom
