// The adapter of a PC with nothing plugged in: the listing succeeds with zero devices and
// opening fails, so the program shows "NoOpenDvc" and keeps retrying.
#pragma once

#include "link/Adapter.h"

namespace qubix::link::backends {

class NoDeviceAdapter : public Adapter {
 public:
  Status listDevices(std::span<Description> slots, std::uint32_t& deviceCount) override;
  Status open(int deviceIndex, Handle& handle) override;
  Status close(Handle) override { return kInvalidHandle; }
  Status read(Handle, std::uint8_t*, std::uint32_t, std::uint32_t& bytesRead) override {
    bytesRead = 0;
    return kInvalidHandle;
  }
  Status write(Handle, const std::uint8_t*, std::uint32_t, std::uint32_t& bytesWritten) override {
    bytesWritten = 0;
    return kInvalidHandle;
  }
  Status resetDevice(Handle) override { return kInvalidHandle; }
  Status setBaudRate(Handle, std::uint32_t) override { return kInvalidHandle; }
  Status setDataCharacteristics(Handle, std::uint8_t, std::uint8_t, std::uint8_t) override {
    return kInvalidHandle;
  }
  Status setFlowControl(Handle, std::uint16_t, std::uint8_t, std::uint8_t) override {
    return kInvalidHandle;
  }
  Status setTimeouts(Handle, std::uint32_t, std::uint32_t) override { return kInvalidHandle; }
  Status getDeviceInfo(Handle, DeviceInfo&) override { return kInvalidHandle; }
  Status queueStatus(Handle, std::uint32_t& bytesWaiting) override {
    bytesWaiting = 0;
    return kInvalidHandle;
  }
  std::string lastError() const override { return "no adapter is connected"; }
  std::string backendName() const override { return "none"; }
};

}  // namespace qubix::link::backends
