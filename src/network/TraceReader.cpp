#include "network/TraceReader.h"

#include <algorithm>
#include <cmath>

#include "link/TraceFormat.h"
#include "protocol/Hex.h"

namespace qubix::network {

namespace trace = link::trace;

bool HexToBytes(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const auto b = protocol::HexPairToByte(hex[i], hex[i + 1]);
    if (!b) return false;
    bytes.push_back(static_cast<char>(*b));
  }
  return true;
}

namespace {

// A count the adapter writes (a status, a byte count, milliseconds): a whole number that fits in
// 32 bits. Left as it is when the field is absent.
bool ReadCount(const trace::LineReader& o, std::string_view key, std::uint32_t& out,
               std::string& error) {
  const auto v = o.number(key);
  if (!v) return true;
  if (!(*v >= 0 && *v <= 4294967295.0) || *v != std::floor(*v))
    return error = "\"" + std::string(key) + "\" is not a whole number from 0 to 4294967295", false;
  out = static_cast<std::uint32_t>(*v);
  return true;
}

bool ParseRecord(std::string_view text, TraceRecord& r, std::string& error) {
  trace::LineReader o;
  if (!o.parse(text, error)) return false;
  const auto t = o.number(trace::kTime);
  if (!t) return error = "no time \"t\"", false;
  r.t = *t;
  const std::string* dir = o.text(trace::kDirection);
  if (!dir) return error = "no direction \"dir\"", false;
  if (!ReadCount(o, trace::kStatus, r.status, error)) return false;
  if (*dir == trace::kTx || *dir == trace::kRx) {
    r.kind = *dir == trace::kTx ? TraceRecord::Kind::Tx : TraceRecord::Kind::Rx;
    const std::string* hex = o.text(trace::kHex);
    if (!hex || !HexToBytes(*hex, r.bytes))
      return error = "\"hex\" is not pairs of hex digits", false;
    r.want = static_cast<std::uint32_t>(std::min<std::size_t>(r.bytes.size(), UINT32_MAX));
    return ReadCount(o, trace::kWant, r.want, error);
  }
  if (*dir == trace::kCall) {
    r.kind = TraceRecord::Kind::Call;
    const std::string* name = o.text(trace::kCallName);
    if (!name) return error = "a call without its name \"call\"", false;
    r.name = *name;
    std::uint32_t ms = 0;
    if (!ReadCount(o, trace::kReadMs, ms, error)) return false;
    if (o.number(trace::kReadMs)) r.readMs = ms;
    return true;
  }
  if (*dir == trace::kStart) {
    r.kind = TraceRecord::Kind::Start;
    const std::string* backend = o.text(trace::kBackend);
    r.name = backend ? *backend : std::string();
    return true;
  }
  error = "unknown direction \"" + *dir + "\"";
  return false;
}

}  // namespace

bool ParseTrace(std::string_view text, std::vector<TraceRecord>& records, std::string& error) {
  records.clear();
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    TraceRecord r;
    std::string why;
    if (!ParseRecord(line, r, why)) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
    records.push_back(std::move(r));
  }
  return true;
}

}  // namespace qubix::network
