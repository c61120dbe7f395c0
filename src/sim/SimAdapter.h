// The built-in adapter: a link::Adapter on a simulated bus, with a clock and faults on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/Adapter.h"
#include "sim/FtdiTiming.h"
#include "sim/SimBus.h"
#include "sim/Timing.h"

namespace qubix::sim {

// Adapter-level faults. Processor-level ones (silent, late, wrong checksum, non-hex, garbage)
// are in SimProcessor::faults.
struct SimFaults {
  bool listFails = false;  // the listing call itself fails
  bool noDevice = false;   // the listing succeeds with zero devices
  bool openFails = false;
  bool writeFails = false;  // every write fails at the driver
  bool shortWrite = false;  // writes report one byte fewer than asked
  bool readFails = false;   // every read fails at the driver
  bool infoFails = false;   // the device-info query fails
  bool baudFails = false;   // setting the baud rate fails (a server that hangs up meanwhile)
  // The adapter is pulled out once this many more bytes have been written.
  std::optional<std::uint64_t> unplugAfterBytes;
  // The adapter is gone (set by unplugAfterBytes or directly); clear it to plug it back.
  bool unplugged = false;
};

// How often each driver function was called.
struct DriverCalls {
  int list = 0, open = 0, close = 0, read = 0, write = 0, reset = 0, baud = 0, data = 0, flow = 0,
      timeouts = 0, info = 0, latency = 0, eventChar = 0;
  int total() const {
    return list + open + close + read + write + reset + baud + data + flow + timeouts + info +
           latency + eventChar;
  }
};

class SimAdapter : public link::Adapter {
 public:
  explicit SimAdapter(std::shared_ptr<SimBus> bus, ClockMode mode = ClockMode::Virtual);

  link::Status listDevices(std::span<link::Description> slots, std::uint32_t& deviceCount) override;
  link::Status open(int deviceIndex, link::Handle& handle) override;
  link::Status close(link::Handle handle) override;
  link::Status read(link::Handle handle, std::uint8_t* buffer, std::uint32_t count,
                    std::uint32_t& bytesRead) override;
  link::Status write(link::Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                     std::uint32_t& bytesWritten) override;
  link::Status resetDevice(link::Handle handle) override;
  link::Status setBaudRate(link::Handle handle, std::uint32_t baud) override;
  link::Status setDataCharacteristics(link::Handle handle, std::uint8_t wordLength,
                                      std::uint8_t stopBits, std::uint8_t parity) override;
  link::Status setFlowControl(link::Handle handle, std::uint16_t flow, std::uint8_t xon,
                              std::uint8_t xoff) override;
  link::Status setTimeouts(link::Handle handle, std::uint32_t readMs,
                           std::uint32_t writeMs) override;
  link::Status getDeviceInfo(link::Handle handle, link::DeviceInfo& info) override;
  link::Status queueStatus(link::Handle handle, std::uint32_t& bytesWaiting) override;
  link::Status setLatencyTimer(link::Handle handle, std::uint8_t ms) override;
  link::Status setEventCharacter(link::Handle handle, std::uint8_t ch, bool enable) override;
  link::Status getLatencyTimer(link::Handle handle, std::uint8_t& ms) override;
  std::string lastError() const override { return lastError_; }
  std::string backendName() const override { return "sim"; }

  double nowMs() const override { return clock_.nowMs(); }
  SimClock& clock() { return clock_; }
  SimBus& bus() { return *bus_; }
  SimFaults& faults() { return faults_; }
  // Called as each write begins, with the number of bytes asked: a test's way of striking at
  // one exchange of an operation (pulling the adapter, silencing a machine, spoiling a reply).
  std::function<void(std::uint32_t count)> beforeWrite;
  const DriverCalls& calls() const { return calls_; }
  // How often the link asked how many bytes wait (kept apart from the driver calls above).
  int queueQueries() const { return queueQueries_; }
  // The driver functions called, in order ("list", "open", "write", "close", ...).
  const std::vector<std::string>& callLog() const { return callLog_; }
  // The same calls with their arguments and outcome, each with the clock time it returned at:
  // "timeouts(500,200)", "read(16)->0", "write(7)->7"; the others by name alone.
  struct TracedCall {
    std::string call;
    double atMs = 0.0;
  };
  const std::vector<TracedCall>& trace() const { return trace_; }
  // Off: the calls are still counted, but neither logged nor traced; building the texts is most
  // of an adapter call's cost in a long upload, and a fault campaign reads neither.
  bool keepCallLog = true;
  void resetCalls() {
    calls_ = {};
    callLog_.clear();
    trace_.clear();
  }

  // Puts an FTDI chip's timing (latency timer, event character) between the bus and the reads;
  // off by default, when replies are readable as soon as they have arrived.
  void emulateChip(bool on) { chip_ = on ? std::optional<FtdiTiming>(FtdiTiming{}) : std::nullopt; }
  const std::optional<FtdiTiming>& chip() const { return chip_; }

  bool isOpen() const { return open_; }
  std::uint32_t readTimeoutMs() const { return readTimeoutMs_; }
  std::uint32_t writeTimeoutMs() const { return writeTimeoutMs_; }
  std::uint32_t baudRate() const { return baud_; }

  // What the listing reports: the number of devices and the first one's description (the
  // others are "Velmoria USBNet").
  std::uint32_t deviceCount = 1;
  std::string description = "Velmoria USBTo422";

 private:
  link::Status checkHandle(link::Handle handle);
  void note(int& counter, const char* name);
  link::Status fail(link::Status status, std::string reason);
  link::Status readBody(link::Handle handle, std::uint8_t* buffer, std::uint32_t count,
                        std::uint32_t& bytesRead);
  link::Status writeBody(link::Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesWritten);
  void traceOutcome(std::string call);
  link::Status readThroughChip(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& bytesRead,
                               double start);

  std::shared_ptr<SimBus> bus_;
  SimClock clock_;
  SimFaults faults_;
  DriverCalls calls_;
  int queueQueries_ = 0;
  std::vector<std::string> callLog_;
  std::vector<TracedCall> trace_;
  std::string lastError_;
  bool open_ = false;
  std::uintptr_t handleSerial_ = 0;
  std::uint32_t readTimeoutMs_ = 0;
  std::uint32_t writeTimeoutMs_ = 0;
  std::uint32_t baud_ = 9600;
  std::optional<FtdiTiming> chip_;
};

}  // namespace qubix::sim
