#pragma once
// The Telnet layer of a network line, without any I/O: it splits what a server sends into data
// bytes and Telnet commands, answers option negotiation (the RFC 1143 "Q method", so that two
// sides never loop on an option), collects sub-negotiations up to a size cap, and doubles 0xFF
// in data going out. Whatever a server sends, the answers are bounded (each option is refused
// at most once, agreed at most once per change) and so is the memory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "ByteString.h"

namespace xcom::telnet {

inline constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                              SE = 240;
inline constexpr std::uint8_t kOptionBinary = 0, kOptionSuppressGoAhead = 3, kOptionComPort = 44;

// The longest sub-negotiation kept; a longer one is dropped whole (its end is still awaited).
inline constexpr std::size_t kSubnegotiationCap = 64;

// Where one side of one option stands (RFC 1143).
enum class OptionState : std::uint8_t { No, Yes, WantNo, WantYes };

class TelnetCodec {
 public:
  // Called with a whole sub-negotiation: its option and the bytes between the option and IAC SE,
  // IAC IAC already undone.
  using SubnegotiationHandler = std::function<void(std::uint8_t option, const ByteString& body)>;

  // `localOptions` / `remoteOptions`: the options this side agrees to enable on its own side
  // (WILL) and on the server's side (DO). Every other option is refused.
  TelnetCodec(std::initializer_list<std::uint8_t> localOptions,
              std::initializer_list<std::uint8_t> remoteOptions);

  void OnSubnegotiation(SubnegotiationHandler handler) { onSubnegotiation_ = std::move(handler); }

  // Asks to enable an option on this side (WILL) or on the server's (DO); the request goes to
  // `replies`, and nothing is sent when the option is already on or asked for.
  void RequestLocal(std::uint8_t option, ByteString& replies);
  void RequestRemote(std::uint8_t option, ByteString& replies);

  // Takes bytes received from the server: data bytes go to `data`, answers to `replies`.
  void Receive(const std::uint8_t* bytes, std::size_t count, ByteString& data, ByteString& replies);

  OptionState Local(std::uint8_t option) const { return local_[option]; }
  OptionState Remote(std::uint8_t option) const { return remote_[option]; }
  // Sub-negotiations dropped for being longer than the cap.
  std::size_t OversizedSubnegotiations() const { return oversized_; }

 private:
  enum class Parse : std::uint8_t { Data, Command, Verb, Subnegotiation, SubnegotiationIac };

  void Command(std::uint8_t verb, std::uint8_t option, ByteString& replies);
  void EndSubnegotiation();

  std::array<OptionState, 256> local_{};
  std::array<OptionState, 256> remote_{};
  std::array<bool, 256> localWanted_{};
  std::array<bool, 256> remoteWanted_{};
  std::array<bool, 256> localRefused_{};
  std::array<bool, 256> remoteRefused_{};
  Parse parse_ = Parse::Data;
  std::uint8_t verb_ = 0;
  ByteString subnegotiation_;  // option first, then the body; never longer than the cap + 1
  bool subnegotiationTooLong_ = false;
  std::size_t oversized_ = 0;
  SubnegotiationHandler onSubnegotiation_;
};

// Appends `count` data bytes to `out` as Telnet sends them: each 0xFF doubled.
void AppendEscaped(const std::uint8_t* bytes, std::size_t count, ByteString& out);

// IAC SB option body IAC SE, with 0xFF in the body doubled.
ByteString Subnegotiation(std::uint8_t option, const ByteString& body);

}  // namespace xcom::telnet
