// The bus trace reader: `decode` reads trace files that users send around. Any bytes are either
// records or refused naming the line at fault; records are told in at most one line each, every
// line of a known kind and with a text.
#include <algorithm>
#include <array>
#include <string_view>

#include "FuzzSupport.h"
#include "network/TraceDecoder.h"
#include "network/TraceReader.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<network::TraceRecord> records;
  std::string error;
  if (!network::ParseTrace(text, records, error)) {
    if (!error.starts_with("line ")) fuzz::Broken("a refused trace without the line at fault");
    return 0;
  }
  const auto lines = network::DecodeTrace(records);
  if (lines.size() > records.size()) fuzz::Broken("more lines told than records");
  static constexpr std::array<std::string_view, 10> kKinds{
      "link",    "select", "attention", "release", "query",
      "command", "upload", "stray",     "fault",   "unknown"};
  for (const auto& line : lines) {
    if (std::find(kKinds.begin(), kKinds.end(), network::KindName(line.kind)) == kKinds.end())
      fuzz::Broken("a line of no known kind");
    if (line.text.empty()) fuzz::Broken("a line without a text");
    if (network::FormatDecodedLine(line).find(line.text) == std::string::npos)
      fuzz::Broken("a printed line without its text");
  }
  return 0;
}
