#include "TelnetCodec.h"

#include <utility>

namespace xcom::telnet {

TelnetCodec::TelnetCodec(std::initializer_list<std::uint8_t> localOptions,
                         std::initializer_list<std::uint8_t> remoteOptions) {
  for (const std::uint8_t option : localOptions) localWanted_[option] = true;
  for (const std::uint8_t option : remoteOptions) remoteWanted_[option] = true;
  subnegotiation_.reserve(kSubnegotiationCap + 1);
}

void TelnetCodec::RequestLocal(std::uint8_t option, ByteString& replies) {
  if (local_[option] != OptionState::No) return;
  localWanted_[option] = true;
  local_[option] = OptionState::WantYes;
  replies.insert(replies.end(), {IAC, WILL, option});
}

void TelnetCodec::RequestRemote(std::uint8_t option, ByteString& replies) {
  if (remote_[option] != OptionState::No) return;
  remoteWanted_[option] = true;
  remote_[option] = OptionState::WantYes;
  replies.insert(replies.end(), {IAC, DO, option});
}

namespace {

// One side of one option answering the other side's WILL/DO (`enable`) or WONT/DONT. Only a
// change of state is answered, which is what keeps two sides from looping; an option this side
// does not want is refused once (`refused`), so that a server asking again and again gets no
// stream of answers.
void Negotiate(OptionState& state, bool wanted, bool& refused, bool enable, std::uint8_t agree,
               std::uint8_t refuse, std::uint8_t option, ByteString& replies) {
  switch (state) {
    case OptionState::No:
      if (!enable) return;
      if (wanted) {
        state = OptionState::Yes;
        replies.insert(replies.end(), {IAC, agree, option});
      } else if (!std::exchange(refused, true)) {
        replies.insert(replies.end(), {IAC, refuse, option});
      }
      return;
    case OptionState::Yes:
      if (enable) return;
      state = OptionState::No;
      replies.insert(replies.end(), {IAC, refuse, option});
      return;
    case OptionState::WantNo:
      state = OptionState::No;
      return;
    case OptionState::WantYes:
      state = enable ? OptionState::Yes : OptionState::No;
      return;
  }
}

}  // namespace

void TelnetCodec::Command(std::uint8_t verb, std::uint8_t option, ByteString& replies) {
  switch (verb) {
    case WILL:
    case WONT:
      Negotiate(remote_[option], remoteWanted_[option], remoteRefused_[option], verb == WILL, DO,
                DONT, option, replies);
      return;
    case DO:
    case DONT:
      Negotiate(local_[option], localWanted_[option], localRefused_[option], verb == DO, WILL, WONT,
                option, replies);
      return;
    default:
      return;
  }
}

void TelnetCodec::EndSubnegotiation() {
  if (subnegotiationTooLong_) {
    ++oversized_;
  } else if (!subnegotiation_.empty() && onSubnegotiation_) {
    const ByteString body(subnegotiation_.begin() + 1, subnegotiation_.end());
    onSubnegotiation_(subnegotiation_.front(), body);
  }
  subnegotiation_.clear();
  subnegotiationTooLong_ = false;
}

void TelnetCodec::Receive(const std::uint8_t* bytes, std::size_t count, ByteString& data,
                          ByteString& replies) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t byte = bytes[i];
    switch (parse_) {
      case Parse::Data:
        if (byte == IAC)
          parse_ = Parse::Command;
        else
          data.push_back(byte);
        break;
      case Parse::Command:
        if (byte == IAC) {
          data.push_back(IAC);
          parse_ = Parse::Data;
        } else if (byte == SB) {
          parse_ = Parse::Subnegotiation;
        } else if (byte >= WILL) {
          verb_ = byte;
          parse_ = Parse::Verb;
        } else {
          parse_ = Parse::Data;  // NOP, GA and the other one-byte commands carry nothing here
        }
        break;
      case Parse::Verb:
        Command(verb_, byte, replies);
        parse_ = Parse::Data;
        break;
      case Parse::Subnegotiation:
        if (byte == IAC) {
          parse_ = Parse::SubnegotiationIac;
        } else if (subnegotiation_.size() <= kSubnegotiationCap) {
          subnegotiation_.push_back(byte);
        } else {
          subnegotiationTooLong_ = true;
        }
        break;
      case Parse::SubnegotiationIac:
        if (byte == SE) {
          EndSubnegotiation();
          parse_ = Parse::Data;
        } else {
          // IAC IAC is a 0xFF of the body; any other command inside is a broken server's and
          // is taken as a byte too, so that the end is still found.
          if (subnegotiation_.size() <= kSubnegotiationCap)
            subnegotiation_.push_back(byte);
          else
            subnegotiationTooLong_ = true;
          parse_ = Parse::Subnegotiation;
        }
        break;
    }
  }
}

void AppendEscaped(const std::uint8_t* bytes, std::size_t count, ByteString& out) {
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == IAC) out.push_back(IAC);
  }
}

ByteString Subnegotiation(std::uint8_t option, const ByteString& body) {
  ByteString out{IAC, SB, option};
  AppendEscaped(body.data(), body.size(), out);
  out.insert(out.end(), {IAC, SE});
  return out;
}

}  // namespace xcom::telnet
