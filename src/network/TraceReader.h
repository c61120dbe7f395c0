// Reading a bus trace file (the lines link::TracingAdapter writes, link/TraceFormat.h) into its
// records, one per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qubix::network {

struct TraceRecord {
  enum class Kind { Start, Tx, Rx, Call };
  Kind kind = Kind::Call;
  double t = 0.0;            // milliseconds
  std::string bytes;         // Tx, Rx
  std::uint32_t want = 0;    // Rx: the count the read asked for
  std::uint32_t status = 0;  // the driver's status, 0 = success
  std::string name;          // Call: the driver call; Start: the backend
  std::int64_t readMs = -1;  // the "timeouts" call: the read time-out set
};

// The records of a trace text, or false with "line N: what is wrong" in error. Empty lines are
// skipped.
bool ParseTrace(std::string_view text, std::vector<TraceRecord>& records, std::string& error);

// Bytes from pairs of hex digits (either case); false when the text is not such pairs.
bool HexToBytes(std::string_view hex, std::string& bytes);

}  // namespace qubix::network
