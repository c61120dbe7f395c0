// Picks the adapter backend from a link address: "sim:", "serial:[DEVICE]", "ftdi:[DESC]",
// "d2xx:", "tcp:HOST:PORT", "rfc2217:HOST:PORT", or "" / "none:" for the adapter that lists no
// device.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "link/Adapter.h"

namespace qubix::link::backends {

// The adapter for `uri`, or nullptr with a person-readable reason in `error`.
std::unique_ptr<Adapter> makeAdapter(std::string_view uri, std::string& error);

// The adapter with every byte both ways written to the trace file at path (see
// link/TracingAdapter.h), on the simulated bus's clock for the simulator; nullptr with the reason
// in error when the file cannot be made.
std::unique_ptr<Adapter> traceAdapter(std::unique_ptr<Adapter> adapter, const std::string& path,
                                      std::string& error);

// The text shown for a backend that cannot be used here.
std::string notAvailableText(std::string_view backend, std::string_view reason);

}  // namespace qubix::link::backends
