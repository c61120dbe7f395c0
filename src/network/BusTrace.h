// Reading a bus trace (the JSON lines link::TracingAdapter writes) and telling what went over
// the wire as a person reads it: which machine was selected, each query with its parameter's
// name and value, each command with its values, the answers, the time-outs, and the Extra preset
// upload as one summarised line.
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

struct DecodedLine {
  double t = 0.0;    // when the exchange began
  std::string kind;  // link, select, attention, release, query, command, upload, stray,
                     // fault, unknown
  std::string text;
  bool timeout = false;  // no complete answer came within the read time-out
};

std::vector<DecodedLine> DecodeTrace(const std::vector<TraceRecord>& records);

// "    12.345  select H000000010002: acknowledged"
std::string FormatDecodedLine(const DecodedLine& line);

}  // namespace qubix::network
