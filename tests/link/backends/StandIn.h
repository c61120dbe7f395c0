// The control side of the stand-in D2XX library that the tests build: it serves the vendor's
// C calls from a link::Adapter (the simulated bus) and records every call with its arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/Adapter.h"

namespace qubix::test {

struct StandInCall {
  std::string function;
  std::vector<std::uint64_t> args;
  friend bool operator==(const StandInCall&, const StandInCall&) = default;
};

// For readable test failures.
template <typename Stream>
Stream& operator<<(Stream& out, const StandInCall& call) {
  out << call.function << "(";
  for (std::size_t i = 0; i < call.args.size(); ++i) out << (i ? ", " : "") << call.args[i];
  return out << ")";
}

struct StandInControl {
  link::Adapter* adapter = nullptr;  // answers the calls; nullptr: no device
  std::vector<StandInCall> calls;
  std::uint32_t extraDevices = 0;   // listed beyond the adapter's own devices
  std::uint32_t listRoomShort = 0;  // listings whose pointer array had too few entries
};

}  // namespace qubix::test

extern "C" qubix::test::StandInControl* qubix_standin_control();
