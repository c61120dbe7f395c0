// The adapter interface: one call per driver function the program makes, shaped like the
// vendor's D2XX API so that every backend (simulated bus, serial port, libftdi, the vendor
// library itself) is interchangeable under link::Link.
//
// Every call returns a Status where 0 (kOk) is success and anything else a failure; arguments
// mean what they mean in the vendor's API. In particular read() returns kOk with fewer bytes than
// asked when the read time-out runs out: a short read is not an error.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace qubix::link {

using Status = std::uint32_t;
using Handle = void*;

// The vendor's status codes; the program relies only on kOk versus anything else.
enum StatusCode : Status {
  kOk = 0,
  kInvalidHandle = 1,
  kDeviceNotFound = 2,
  kDeviceNotOpened = 3,
  kIoError = 4,
  kInsufficientResources = 5,
  kInvalidParameter = 6,
  kNotSupported = 17,
  kOtherError = 18,
};

inline constexpr std::size_t kDescriptionSize = 64;
using Description = std::array<char, kDescriptionSize>;  // zero-terminated text

inline constexpr std::uint8_t kBits8 = 8;
inline constexpr std::uint8_t kStopBits1 = 0;
inline constexpr std::uint8_t kParityNone = 0;
inline constexpr std::uint16_t kFlowNone = 0;

struct DeviceInfo {
  std::uint32_t type = 0;
  std::uint32_t id = 0;
  std::array<char, 16> serialNumber{};
  Description description{};
};

class Adapter {
 public:
  virtual ~Adapter() = default;

  // Lists all devices by description (FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION). Fills
  // deviceCount, and the descriptions of the first slots.size() devices; it never writes
  // past the slots given, however many devices there are.
  virtual Status listDevices(std::span<Description> slots, std::uint32_t& deviceCount) = 0;
  virtual Status open(int deviceIndex, Handle& handle) = 0;
  virtual Status close(Handle handle) = 0;
  virtual Status read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                      std::uint32_t& bytesRead) = 0;
  virtual Status write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                       std::uint32_t& bytesWritten) = 0;
  virtual Status resetDevice(Handle handle) = 0;
  virtual Status setBaudRate(Handle handle, std::uint32_t baud) = 0;
  virtual Status setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                        std::uint8_t stopBits, std::uint8_t parity) = 0;
  virtual Status setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                std::uint8_t xoff) = 0;
  virtual Status setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) = 0;
  virtual Status getDeviceInfo(Handle handle, DeviceInfo& info) = 0;
  // How many received bytes wait to be read (FT_GetQueueStatus): asked without waiting, so it
  // costs no time on the line. Every adapter answers it; one that cannot know says kNotSupported.
  virtual Status queueStatus(Handle handle, std::uint32_t& bytesWaiting) = 0;

  // Beyond the vendor's core calls: what real chips need for speed. Backends that have no such
  // setting answer kNotSupported, which callers ignore.
  virtual Status setLatencyTimer(Handle, std::uint8_t /*ms*/) { return kNotSupported; }
  virtual Status setEventCharacter(Handle, std::uint8_t /*ch*/, bool /*enable*/) {
    return kNotSupported;
  }
  // The latency timer as the chip reports it, where the backend can ask.
  virtual Status getLatencyTimer(Handle, std::uint8_t& /*ms*/) { return kNotSupported; }

  // A person-readable reason for the last failure ("" when there is none), for diagnostics.
  virtual std::string lastError() const { return {}; }
  // A short name of the backend ("sim", "serial", "ftdi", "d2xx", "none").
  virtual std::string backendName() const = 0;
  // Milliseconds on the clock the adapter's time-outs run on: the steady clock, or the simulated
  // bus's own clock. Only differences between two readings mean anything.
  virtual double nowMs() const {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace qubix::link
