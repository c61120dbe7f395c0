// What a real backend sees on this machine, for `qubix24ctl adapters` and for connect failures:
// one entry per adapter, or the reason why the backend cannot look at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qubix::link::backends {

inline constexpr std::uint16_t kFtdiVendorId = 0x0403;

struct PortInfo {
  std::string path;  // device node (serial) or USB bus location (ftdi, d2xx: "index N")
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string description;
  std::string serialNumber;
  int latencyTimerMs = -1;  // -1: not known to this backend
  std::string note;         // e.g. why the strings could not be read
};

struct BackendReport {
  std::string backend;  // "serial", "ftdi", "d2xx"
  bool available = false;
  std::string reason;  // why not available (empty when available)
  std::vector<PortInfo> ports;
};

}  // namespace qubix::link::backends
