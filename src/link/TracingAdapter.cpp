#include "link/TracingAdapter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace qubix::link {

namespace {
std::string Hex(const std::uint8_t* bytes, std::uint32_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * static_cast<std::size_t>(count));
  for (std::uint32_t i = 0; i < count; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return text;
}

std::string Field(const char* name, const std::string& jsonValue) {
  return std::string(",\"") + name + "\":" + jsonValue;
}
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
}  // namespace

std::unique_ptr<TracingAdapter> TracingAdapter::open(std::unique_ptr<Adapter> inner,
                                                     const std::string& path, std::string& error,
                                                     Clock clock) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    error = "cannot write the trace " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!clock) {
    const auto start = std::chrono::steady_clock::now();
    clock = [start] {
      return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
          .count();
    };
  }
  std::unique_ptr<TracingAdapter> adapter(
      new TracingAdapter(std::move(inner), file, std::move(clock)));
  adapter->line(Field("dir", Quoted("start")) +
                Field("backend", Quoted(adapter->inner_->backendName())));
  return adapter;
}

TracingAdapter::TracingAdapter(std::unique_ptr<Adapter> inner, std::FILE* file, Clock clock)
    : inner_(std::move(inner)), file_(file), clock_(std::move(clock)) {}

TracingAdapter::~TracingAdapter() { std::fclose(file_); }

void TracingAdapter::line(const std::string& fields) {
  char time[32];
  std::snprintf(time, sizeof time, "{\"t\":%.3f", clock_());
  std::fputs(time, file_);
  std::fputs(fields.c_str(), file_);
  std::fputs("}\n", file_);
  // Line by line: whatever happens to the program later, the trace up to here is on disk.
  std::fflush(file_);
}

Status TracingAdapter::call(const char* name, Status status, const std::string& extra) {
  line(Field("dir", Quoted("call")) + Field("call", Quoted(name)) + extra +
       Field("status", std::to_string(status)));
  return status;
}

Status TracingAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  const Status st = inner_->listDevices(slots, deviceCount);
  return call("list", st, Field("devices", std::to_string(deviceCount)));
}

Status TracingAdapter::open(int deviceIndex, Handle& handle) {
  return call("open", inner_->open(deviceIndex, handle));
}

Status TracingAdapter::close(Handle handle) { return call("close", inner_->close(handle)); }

Status TracingAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                            std::uint32_t& bytesRead) {
  const Status st = inner_->read(handle, buffer, count, bytesRead);
  const std::uint32_t got = st == kOk ? std::min(bytesRead, count) : 0;
  line(Field("dir", Quoted("rx")) + Field("want", std::to_string(count)) +
       Field("hex", Quoted(Hex(buffer, got))) + Field("status", std::to_string(st)));
  return st;
}

Status TracingAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                             std::uint32_t& bytesWritten) {
  const Status st = inner_->write(handle, buffer, count, bytesWritten);
  // What the driver took, or the whole frame with the failure beside it.
  const std::uint32_t shown = st == kOk ? std::min(bytesWritten, count) : count;
  line(Field("dir", Quoted("tx")) + Field("hex", Quoted(Hex(buffer, shown))) +
       Field("status", std::to_string(st)));
  return st;
}

Status TracingAdapter::resetDevice(Handle handle) {
  return call("reset", inner_->resetDevice(handle));
}

Status TracingAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  return call("baud", inner_->setBaudRate(handle, baud), Field("baud", std::to_string(baud)));
}

Status TracingAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                              std::uint8_t stopBits, std::uint8_t parity) {
  return call("data", inner_->setDataCharacteristics(handle, wordLength, stopBits, parity));
}

Status TracingAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                      std::uint8_t xoff) {
  return call("flow", inner_->setFlowControl(handle, flow, xon, xoff));
}

Status TracingAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  return call("timeouts", inner_->setTimeouts(handle, readMs, writeMs),
              Field("read", std::to_string(readMs)));
}

Status TracingAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  return call("info", inner_->getDeviceInfo(handle, info));
}

Status TracingAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  return call("latency", inner_->setLatencyTimer(handle, ms));
}

Status TracingAdapter::setEventCharacter(Handle handle, std::uint8_t ch, bool enable) {
  return call("eventchar", inner_->setEventCharacter(handle, ch, enable));
}

Status TracingAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  return call("getlatency", inner_->getLatencyTimer(handle, ms));
}

}  // namespace qubix::link
