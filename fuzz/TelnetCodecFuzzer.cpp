// Arbitrary server traffic through the Telnet codec and the COM-PORT-OPTION state of a network
// line, in chunks of arbitrary size, checking the bounds the device relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ComPortOption.h"
#include "TelnetCodec.h"

using namespace xcom;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  telnet::TelnetCodec codec({telnet::kOptionBinary, telnet::kOptionComPort},
                            {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead});
  rfc2217::ServerState server;
  codec.OnSubnegotiation([&](std::uint8_t option, const ByteString& body) {
    Check(body.size() <= telnet::kSubnegotiationCap);
    if (option == telnet::kOptionComPort) server.Take(body);
  });
  // The first byte chooses the chunk size, as reads from a socket split the stream anywhere.
  const std::size_t chunk = size > 0 ? bytes[0] % 16 + 1 : 1;
  std::size_t dataBytes = 0;
  for (std::size_t at = 0; at < size; at += chunk) {
    const std::size_t count = size - at < chunk ? size - at : chunk;
    ByteString data, replies;
    codec.Receive(bytes + at, count, data, replies);
    Check(data.size() <= count);
    Check(replies.size() <= 3 * count);
    dataBytes += data.size();
  }
  Check(dataBytes <= size);
  server.TakeEvents();
  server.TakeErrors();
  // What goes out: every 0xFF doubled, read back unchanged.
  ByteString escaped;
  telnet::AppendEscaped(bytes, size, escaped);
  ByteString back, replies;
  telnet::TelnetCodec reader({}, {});
  reader.Receive(escaped.data(), escaped.size(), back, replies);
  Check(back == ByteString(bytes, bytes + size) && replies.empty());
  return 0;
}
