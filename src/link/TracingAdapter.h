// An adapter that writes down every byte both ways, and the calls around them, on its way to
// another adapter: one line per call in the format of link/TraceFormat.h, flushed as it is
// written, so that a trace survives a crash of the program. Bytes are hex texts.
//
// "t" is milliseconds on a monotonic clock (the simulated bus's own clock for the simulator), at
// the moment the call returned.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "link/Adapter.h"
#include "link/TraceFormat.h"

namespace qubix::link {

class TracingAdapter : public Adapter {
 public:
  using Clock = std::function<double()>;

  // Opens (truncates) the trace file; nullptr with the reason in error when it cannot be made.
  // Without a clock, milliseconds since the trace began on the steady clock.
  static std::unique_ptr<TracingAdapter> open(std::unique_ptr<Adapter> inner,
                                              const std::string& path, std::string& error,
                                              Clock clock = {});
  ~TracingAdapter() override;

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
  std::string lastError() const override { return inner_->lastError(); }
  std::string backendName() const override { return inner_->backendName(); }
  double nowMs() const override { return inner_->nowMs(); }

  Adapter& inner() { return *inner_; }

 private:
  TracingAdapter(std::unique_ptr<Adapter> inner, std::FILE* file, Clock clock);
  // A line of the current time and direction, to be given its fields and written by put().
  trace::LineWriter begin(std::string_view direction) const;
  void put(const trace::LineWriter& line);
  // A "call" line with one number field beside the status when field is given.
  Status call(std::string_view name, Status status, std::string_view field = {},
              std::uint64_t value = 0);

  std::unique_ptr<Adapter> inner_;
  std::FILE* file_;
  Clock clock_;
};

}  // namespace qubix::link
