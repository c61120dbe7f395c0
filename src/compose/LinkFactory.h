// Picks the adapter backend from a link address: "sim:", "serial:[DEVICE]", "ftdi:[DESC]",
// "d2xx:", "tcp:HOST:PORT", "rfc2217:HOST:PORT", "none:" for the adapter that lists no device,
// or "" for the default, which looks for an FTDI adapter at every connect attempt
// (link/backends/auto/AutoAdapter.h says in which order).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "link/Adapter.h"

namespace qubix::sim {
class SimAdapter;
}

namespace qubix::compose {

// An adapter and the clock its waits pass on, in milliseconds: the simulator's own clock for a
// simulated bus (on the virtual clock waiting costs no real time), the steady clock otherwise.
// Whoever counts time next to the bus (the Extra preset upload's ticks) takes this clock.
struct AdapterWithClock {
  std::unique_ptr<link::Adapter> adapter;
  std::function<double()> nowMs;
};

// The adapter for `uri`, or nullptr with a person-readable reason in `error`.
std::unique_ptr<link::Adapter> makeAdapter(std::string_view uri, std::string& error);
// The same, with the adapter's clock; a null adapter when `uri` names none.
AdapterWithClock makeAdapterWithClock(std::string_view uri, std::string& error);
// A simulated adapter made elsewhere (tests that put faults on the bus), with its own clock.
AdapterWithClock withSimulatorClock(std::unique_ptr<sim::SimAdapter> adapter);
// Milliseconds of the steady clock since the call.
std::function<double()> steadyClockMs();

// The adapter with every byte both ways written to the trace file at path (see
// link/TracingAdapter.h), on the simulated bus's clock for the simulator; nullptr with the reason
// in error when the file cannot be made.
std::unique_ptr<link::Adapter> traceAdapter(std::unique_ptr<link::Adapter> adapter,
                                            const std::string& path, std::string& error);

// The text shown for a backend that cannot be used here.
std::string notAvailableText(std::string_view backend, std::string_view reason);

}  // namespace qubix::compose
