// What a real backend sees on this machine, for `qubix24ctl adapters` and for connect failures:
// one entry per adapter, or the reason why the backend cannot look at all.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
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

// Copies text into a fixed zero-terminated field of the driver's, cutting it to fit.
inline void copyText(const std::string& text, std::span<char> out) {
  if (out.empty()) return;
  std::memset(out.data(), 0, out.size());
  std::memcpy(out.data(), text.data(), std::min(text.size(), out.size() - 1));
}

// What the kernel driver and libftdi1 can set: 7 or 8 bits, 1 or 2 stop bits, parity 0 ... 4.
inline bool supportedDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                         std::uint8_t parity) {
  return (wordLength == 7 || wordLength == 8) && (stopBits == 0 || stopBits == 2) && parity <= 4;
}

}  // namespace qubix::link::backends
