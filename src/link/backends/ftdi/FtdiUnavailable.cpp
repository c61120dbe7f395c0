// Built without libftdi1: `ftdi:` is still known and says why it cannot be used.
#include "link/backends/ftdi/FtdiAdapter.h"

namespace qubix::link::backends {

namespace {
constexpr const char* kReason = "not available: this program was built without libftdi1";
}

bool FtdiAdapter::compiledIn() { return false; }

BackendReport FtdiAdapter::probe() { return BackendReport{"ftdi", false, kReason, {}}; }

// The real backend's signature, which keeps its arguments.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::unique_ptr<Adapter> makeFtdiAdapter(std::string, std::string& reason) {
  reason = kReason;
  return nullptr;
}

}  // namespace qubix::link::backends
