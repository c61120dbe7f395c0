// Telling what went over the wire in a bus trace (network/TraceReader.h) as a person reads it:
// which machine was selected, each query with its parameter's name and value, each command with
// its values, the answers, the time-outs, and the Extra preset upload as one summarised line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "network/TraceReader.h"

namespace qubix::network {

struct DecodedLine {
  enum class Kind {
    Link,  // the adapter opened, closed, or the trace's start
    Select,
    Attention,  // "e"
    Release,    // "R"
    Query,
    Command,
    Upload,  // the whole Extra preset upload
    Stray,   // bytes nothing asked for
    Fault,   // a driver call, read or write that failed
    Unknown  // a frame the program does not send
  };
  double t = 0.0;  // when the exchange began
  Kind kind = Kind::Unknown;
  std::string text;
  bool timeout = false;  // no complete answer came within the read time-out
};

// "link", "select", … "unknown": the kind's name in `decode --json`.
std::string_view KindName(DecodedLine::Kind kind);

std::vector<DecodedLine> DecodeTrace(const std::vector<TraceRecord>& records);

// "    12.345  select H000000010002: acknowledged"
std::string FormatDecodedLine(const DecodedLine& line);

}  // namespace qubix::network
