#include "link/backends/NoDeviceAdapter.h"

#include <algorithm>

namespace qubix::link::backends {

Status NoDeviceAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  for (auto& s : slots) s.fill('\0');
  deviceCount = 0;
  return kOk;
}

Status NoDeviceAdapter::open(int, Handle& handle) {
  handle = nullptr;
  return kDeviceNotFound;
}

}  // namespace qubix::link::backends
