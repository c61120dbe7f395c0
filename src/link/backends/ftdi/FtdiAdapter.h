// The adapter driven directly over USB with libftdi1, for adapters that have no kernel driver
// bound (or where the operator prefers it): the chip's latency timer and event character are set
// here directly. `ftdi:` opens the first FTDI chip (vendor 0x0403, the usual product ids);
// `ftdi:DESCRIPTION` the first whose USB product string is DESCRIPTION.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/Adapter.h"
#include "link/backends/OneDevice.h"
#include "link/backends/PortReport.h"

namespace qubix::link::backends {

// The time the read loop goes by: the steady clock on hardware, where every empty read has
// already waited a latency period at the chip; a test that emulates the chip gives its own.
struct ReadClock {
  std::function<double()> nowMs;
  std::function<void()> pause;  // between two empty reads
};
ReadClock steadyReadClock();

class FtdiAdapter final : public Adapter {
 public:
  explicit FtdiAdapter(std::string description, ReadClock clock = steadyReadClock());
  ~FtdiAdapter() override;
  FtdiAdapter(const FtdiAdapter&) = delete;
  FtdiAdapter& operator=(const FtdiAdapter&) = delete;

  static bool compiledIn();
  static BackendReport probe();

  Status listDevices(std::span<Description> slots, std::uint32_t& deviceCount) override;
  Status open(int deviceIndex, Handle& handle) override;
  Status close(Handle handle) override;
  Status read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
              std::uint32_t& bytesRead) override;
  Status write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
               std::uint32_t& bytesWritten) override;
  Status resetDevice(Handle handle) override;
  Status setBaudRate(Handle handle, std::uint32_t baud) override;
  Status setDataCharacteristics(Handle handle, std::uint8_t wordLength, std::uint8_t stopBits,
                                std::uint8_t parity) override;
  Status setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                        std::uint8_t xoff) override;
  Status setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) override;
  Status getDeviceInfo(Handle handle, DeviceInfo& info) override;
  Status queueStatus(Handle handle, std::uint32_t& bytesWaiting) override;
  Status setLatencyTimer(Handle handle, std::uint8_t ms) override;
  Status setEventCharacter(Handle handle, std::uint8_t ch, bool enable) override;
  Status getLatencyTimer(Handle handle, std::uint8_t& ms) override;

  std::string lastError() const override { return device_.error; }
  std::string backendName() const override { return "ftdi"; }

 private:
  struct Device;
  Status fail(Status status, std::string reason);
  Device* check(Handle handle);

  std::string description_;
  ReadClock clock_;
  OneDevice<Device> device_;
};

// The adapter, or nullptr with the reason when the program was built without libftdi1.
std::unique_ptr<Adapter> makeFtdiAdapter(std::string description, std::string& reason);

}  // namespace qubix::link::backends
