// Built without libserialport: `serial:` is still known and says why it cannot be used.
#include "link/backends/serial/SerialAdapter.h"

namespace qubix::link::backends {

namespace {
constexpr const char* kReason = "not available: this program was built without libserialport";
}

bool SerialAdapter::compiledIn() { return false; }

BackendReport SerialAdapter::probe() { return BackendReport{"serial", false, kReason, {}}; }

// The real backend's signature, which keeps its arguments.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::unique_ptr<Adapter> makeSerialAdapter(std::string, std::string& reason) {
  reason = kReason;
  return nullptr;
}

}  // namespace qubix::link::backends
