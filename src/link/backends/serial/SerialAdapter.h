// The adapter as a serial port of the kernel's driver, through libserialport: the default on
// Linux, needs no root once the operator is in the dialout group.
//
// `serial:` opens the first USB serial port of an FTDI chip (vendor 0x0403); `serial:/dev/X` a
// given port, which may also be a pseudo-terminal of qubix24-sim. The kernel driver keeps the
// chip's latency timer in sysfs; we set it to 2 ms where we may write it (the udev rule makes it
// so at plug-in otherwise). The event character is not reachable through the kernel driver.
// A port is held alone (an advisory flock and the terminal's exclusive mode): a second opener
// is refused with "serial: /dev/ttyUSB0 is in use by qubix24d, PID 812" where the holder can be
// seen.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/Adapter.h"
#include "link/backends/OneDevice.h"
#include "link/backends/PortReport.h"

namespace qubix::link::backends {

class SerialAdapter final : public Adapter {
 public:
  // device: a path, or empty for the first FTDI USB serial port.
  explicit SerialAdapter(std::string device);
  ~SerialAdapter() override;
  SerialAdapter(const SerialAdapter&) = delete;
  SerialAdapter& operator=(const SerialAdapter&) = delete;

  // False when the program was built without libserialport.
  static bool compiledIn();
  // Every USB serial port of an FTDI chip (or why none can be listed).
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
  Status getLatencyTimer(Handle handle, std::uint8_t& ms) override;

  std::string lastError() const override { return port_.error; }
  std::string backendName() const override { return "serial"; }

  // The path of the open port ("" when closed).

 private:
  struct Port;
  Status fail(Status status, std::string reason);
  Port* check(Handle handle);
  std::vector<PortInfo> candidates(std::string& reason) const;

  std::string device_;
  OneDevice<Port> port_;
};

// The sysfs file of a kernel serial port's latency timer ("" when the port has none).
std::string latencyTimerFile(const std::string& devicePath);
// Reads it; -1 when there is none or it cannot be read.
int readLatencyTimer(const std::string& devicePath);

// The adapter, or nullptr with the reason when the program was built without libserialport.
std::unique_ptr<Adapter> makeSerialAdapter(std::string device, std::string& reason);

}  // namespace qubix::link::backends
