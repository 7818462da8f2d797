#include "Reporter.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <ostream>

#include "HexText.h"

using namespace modbus;  // the protocol layer

namespace kestrum {
namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 where there is none (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || at + length > text.size()) return 0;
  // The second byte's range narrows for the leads whose short forms would be invalid.
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if ((byte(i) & 0xC0) != 0x80) return 0;
  return length;
}

// `text` with what could break a line or a string escaped as JSON escapes it: a backslash (and
// a double quote, inside a JSON string) by a backslash, a control character such as a newline
// as \u00XX. Device names are bytes, not always UTF-8: a byte that begins no well-formed
// sequence is given as the code point of the same number (\u00XX), so that the text stays
// valid and still names the port.
std::string Escaped(const std::string& text, bool inJsonString) {
  std::string escaped;
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const std::size_t length = Utf8SequenceAt(text, at);
    if ((c == '"' && inJsonString) || c == '\\') {
      escaped += '\\';
      escaped += c;
    } else if (length == 0 || static_cast<unsigned char>(c) < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
      escaped += code;
    } else {
      escaped.append(text, at, length);
      at += length;
      continue;
    }
    ++at;
  }
  return escaped;
}

std::string JsonString(const std::string& text) {
  return '"' + Escaped(text, true) + '"';
}

// A port's name in a plain line: a newline in it cannot start a line of its own.
std::string PlainName(const std::string& port) {
  return Escaped(port, false);
}

std::string Milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

std::string ValuesText(const Result& result) {
  std::string text;
  for (const auto& [name, value] : result.values) {
    if (!text.empty()) text += ' ';
    text += name;
    text += '=';
    text += std::to_string(value);
  }
  return text;
}

// Local time of day with milliseconds.
std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms.count()));
  return text;
}

}  // namespace

std::string JsonLine(const std::string& port, std::uint8_t address, const Result& result) {
  std::string line = "{\"port\":" + JsonString(port) + ",\"address\":" + std::to_string(address) +
                     ",\"command\":" + JsonString(result.command);
  if (!result.step.empty()) line += ",\"step\":" + JsonString(result.step);
  line += ",\"values\":{";
  for (std::size_t i = 0; i < result.values.size(); ++i) {
    if (i > 0) line += ',';
    line += JsonString(result.values[i].first);
    line += ':';
    line += std::to_string(result.values[i].second);
  }
  line += "}";
  if (result.pass) line += std::string(",\"pass\":") + (*result.pass ? "true" : "false");
  line += ",\"round_trip_ms\":" + (result.roundTripMs ? Milliseconds(*result.roundTripMs) : "null");
  line += ",\"error\":" + (result.error.empty() ? "null" : JsonString(result.error));
  return line + "}";
}

Reporter::Reporter(std::ostream& out, std::ostream& err, ReportStyle style)
    : out_(out), err_(err), style_(style) {}

// "[PORT:] [step] values [PASS|FAIL]", or "ok" for a line with nothing else to say.
std::string Reporter::PlainLine(const std::string& port, const Result& result) const {
  std::string line = style_.tagPorts ? PlainName(port) + ":" : "";
  const auto add = [&line](const std::string& part) {
    if (part.empty()) return;
    if (!line.empty()) line += ' ';
    line += part;
  };
  add(result.step);
  add(ValuesText(result));
  if (result.pass) add(*result.pass ? "PASS" : "FAIL");
  if (result.values.empty() && !result.pass) add("ok");
  return line;
}

void Reporter::WriteResultLine(const std::string& line) {
  const bool closed = !out_;  // standard output was not open at the start
  errno = 0;
  out_ << line << std::endl;
  if (out_) return;
  const int why = closed ? EBADF : errno;
  outputFailed_ = true;
  if (stopOnFailure_) *stopOnFailure_ = true;
  if (why != EPIPE)
    err_ << "kestrum: cannot write the results: "
         << (why != 0 ? std::strerror(why) : "the output failed") << std::endl;
}

void Reporter::Report(const std::string& port, std::uint8_t address, const Result& result) {
  std::lock_guard lock(mutex_);
  if (outputFailed_) return;  // the run is ending because of it: nothing more to say
  if (!result.error.empty())
    err_ << "kestrum: " << PlainName(port) << ": " << result.error << std::endl;
  if (style_.quiet) return;
  if (style_.json)
    WriteResultLine(JsonLine(port, address, result));
  else if (result.error.empty() || result.pass)
    WriteResultLine(PlainLine(port, result));
}

void Reporter::Message(const std::string& port, const std::string& text) {
  std::lock_guard lock(mutex_);
  err_ << "kestrum: " << PlainName(port) << ": " << text << std::endl;
}

void Reporter::Frame(const std::string& port, bool sent, const xcom::ByteString& bytes) {
  if (!style_.verbose) return;
  std::lock_guard lock(mutex_);
  err_ << TimeStamp() << ' ' << PlainName(port) << (sent ? " TX " : " RX ") << BytesToHexText(bytes)
       << std::endl;
}

}  // namespace kestrum
