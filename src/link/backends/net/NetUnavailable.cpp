// Built without gensio: `tcp:` and `rfc2217:` are still known and say why they cannot be used.
#include "link/backends/net/NetAdapter.h"

namespace qubix::link::backends {

namespace {
constexpr const char* kReason = "this program was built without gensio";
}

bool NetAdapter::compiledIn() { return false; }

BackendReport NetAdapter::probe() { return BackendReport{"tcp, rfc2217", false, kReason, {}}; }

// The real backend's signature, which keeps its arguments.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
std::unique_ptr<Adapter> makeNetAdapter(NetProtocol, NetAddress, std::string& reason) {
  reason = kReason;
  return nullptr;
}

}  // namespace qubix::link::backends
