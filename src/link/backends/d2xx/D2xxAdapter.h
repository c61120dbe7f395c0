// The adapter through the vendor's own D2XX library, loaded at run time with dlopen and its
// functions resolved by name, so that the program builds and runs where it is not installed
// (then `d2xx:` says so). The library is found as libftd2xx.so on the loader's path, or at the
// path in QUBIX_D2XX_LIBRARY.
#pragma once

#include <string>

#include "link/Adapter.h"
#include "link/backends/PortReport.h"
#include "link/backends/d2xx/D2xxApi.h"

namespace qubix::link::backends {

class D2xxAdapter final : public Adapter {
 public:
  // library: a path or soname; empty picks QUBIX_D2XX_LIBRARY, else libftd2xx.so.
  explicit D2xxAdapter(std::string library = {});
  ~D2xxAdapter() override;
  D2xxAdapter(const D2xxAdapter&) = delete;
  D2xxAdapter& operator=(const D2xxAdapter&) = delete;

  // Whether the library was loaded and has every function we call; otherwise lastError() says
  // why ("d2xx: not available: ...").
  bool loaded() const { return api_.ok; }
  static BackendReport probe(std::string library = {});
  static std::string defaultLibrary();

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
  Status setEventCharacter(Handle handle, std::uint8_t ch, bool enable) override;

  std::string lastError() const override { return lastError_; }
  std::string backendName() const override { return "d2xx"; }

 private:
  struct Api {
    bool ok = false;
    d2xx::ListDevicesFn listDevices = nullptr;
    d2xx::OpenFn open = nullptr;
    d2xx::CloseFn close = nullptr;
    d2xx::ReadFn read = nullptr;
    d2xx::WriteFn write = nullptr;
    d2xx::ResetDeviceFn resetDevice = nullptr;
    d2xx::SetBaudRateFn setBaudRate = nullptr;
    d2xx::SetDataCharacteristicsFn setDataCharacteristics = nullptr;
    d2xx::SetFlowControlFn setFlowControl = nullptr;
    d2xx::SetTimeoutsFn setTimeouts = nullptr;
    d2xx::GetDeviceInfoFn getDeviceInfo = nullptr;
    // Optional: older builds of the library may lack them.
    d2xx::SetLatencyTimerFn setLatencyTimer = nullptr;
    d2xx::SetCharsFn setChars = nullptr;
    d2xx::GetLatencyTimerFn getLatencyTimer = nullptr;
    d2xx::GetQueueStatusFn getQueueStatus = nullptr;
  };

  Status unavailable();
  Status checked(Status status, const char* call);

  void* library_ = nullptr;
  Api api_;
  std::string lastError_;
};

}  // namespace qubix::link::backends
