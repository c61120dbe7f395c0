// The line format of a bus trace, written by TracingAdapter and read back by `decode`: one flat
// JSON object of texts and numbers per line, its first field the time "t" in milliseconds.
//
//   {"t":0.000,"dir":"start","backend":"sim"}
//   {"t":12.345,"dir":"tx","hex":"48000000010002fd","status":0}
//   {"t":12.562,"dir":"rx","want":1,"hex":"4f","status":0}
//   {"t":12.600,"dir":"call","call":"timeouts","read":1000,"status":0}
//
// Texts are escaped as JSON requires (quotation mark, backslash, control characters) and read
// back byte for byte; bytes from 0x80 on pass as they are.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qubix::link::trace {

// Field names.
inline constexpr std::string_view kTime = "t";
inline constexpr std::string_view kDirection = "dir";
inline constexpr std::string_view kBackend = "backend";
inline constexpr std::string_view kHex = "hex";
inline constexpr std::string_view kWant = "want";
inline constexpr std::string_view kStatus = "status";
inline constexpr std::string_view kCallName = "call";
inline constexpr std::string_view kReadMs = "read";
inline constexpr std::string_view kDevices = "devices";
inline constexpr std::string_view kBaud = "baud";

// The values of "dir".
inline constexpr std::string_view kStart = "start";
inline constexpr std::string_view kTx = "tx";
inline constexpr std::string_view kRx = "rx";
inline constexpr std::string_view kCall = "call";

// The driver calls' names in "call".
namespace calls {
inline constexpr std::string_view kList = "list";
inline constexpr std::string_view kOpen = "open";
inline constexpr std::string_view kClose = "close";
inline constexpr std::string_view kReset = "reset";
inline constexpr std::string_view kBaud = "baud";
inline constexpr std::string_view kData = "data";
inline constexpr std::string_view kFlow = "flow";
inline constexpr std::string_view kTimeouts = "timeouts";
inline constexpr std::string_view kInfo = "info";
inline constexpr std::string_view kLatency = "latency";
inline constexpr std::string_view kEventChar = "eventchar";
inline constexpr std::string_view kGetLatency = "getlatency";
}  // namespace calls

// text as a JSON string, quotation marks included.
std::string Quoted(std::string_view text);

// One line, field by field, in the order written.
class LineWriter {
 public:
  explicit LineWriter(double t);
  LineWriter& text(std::string_view name, std::string_view value);
  LineWriter& number(std::string_view name, std::uint64_t value);
  // The object and its line end.
  std::string line() const { return text_ + "}\n"; }

 private:
  std::string text_;
};

// One line read back: its texts (unescaped) and numbers by field name.
class LineReader {
 public:
  // False with what is wrong in error.
  bool parse(std::string_view line, std::string& error);
  const std::string* text(std::string_view name) const;
  std::optional<double> number(std::string_view name) const;

 private:
  bool readString(std::string& out, std::string& error);
  char peek() const { return pos_ < line_.size() ? line_[pos_] : '\0'; }
  bool eat(char c);
  void skipBlanks();

  std::string_view line_;
  std::size_t pos_ = 0;
  std::map<std::string, std::string, std::less<>> texts_;
  std::map<std::string, double, std::less<>> numbers_;
};

}  // namespace qubix::link::trace
