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
  adapter->put(adapter->begin(trace::kStart).text(trace::kBackend, adapter->inner_->backendName()));
  return adapter;
}

TracingAdapter::TracingAdapter(std::unique_ptr<Adapter> inner, std::FILE* file, Clock clock)
    : inner_(std::move(inner)), file_(file), clock_(std::move(clock)) {}

TracingAdapter::~TracingAdapter() { std::fclose(file_); }

trace::LineWriter TracingAdapter::begin(std::string_view direction) const {
  trace::LineWriter w(clock_());
  w.text(trace::kDirection, direction);
  return w;
}

void TracingAdapter::put(const trace::LineWriter& w) {
  const std::string text = w.line();
  std::fwrite(text.data(), 1, text.size(), file_);
  // Line by line: whatever happens to the program later, the trace up to here is on disk.
  std::fflush(file_);
}

Status TracingAdapter::call(std::string_view name, Status status, std::string_view field,
                            std::uint64_t value) {
  trace::LineWriter w = begin(trace::kCall);
  w.text(trace::kCallName, name);
  if (!field.empty()) w.number(field, value);
  put(w.number(trace::kStatus, status));
  return status;
}

Status TracingAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  const Status st = inner_->listDevices(slots, deviceCount);
  return call(trace::calls::kList, st, trace::kDevices, deviceCount);
}

Status TracingAdapter::open(int deviceIndex, Handle& handle) {
  return call(trace::calls::kOpen, inner_->open(deviceIndex, handle));
}

Status TracingAdapter::close(Handle handle) {
  return call(trace::calls::kClose, inner_->close(handle));
}

Status TracingAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                            std::uint32_t& bytesRead) {
  const Status st = inner_->read(handle, buffer, count, bytesRead);
  const std::uint32_t got = st == kOk ? std::min(bytesRead, count) : 0;
  put(begin(trace::kRx)
          .number(trace::kWant, count)
          .text(trace::kHex, Hex(buffer, got))
          .number(trace::kStatus, st));
  return st;
}

Status TracingAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                             std::uint32_t& bytesWritten) {
  const Status st = inner_->write(handle, buffer, count, bytesWritten);
  // What the driver took, or the whole frame with the failure beside it.
  const std::uint32_t shown = st == kOk ? std::min(bytesWritten, count) : count;
  put(begin(trace::kTx).text(trace::kHex, Hex(buffer, shown)).number(trace::kStatus, st));
  return st;
}

Status TracingAdapter::resetDevice(Handle handle) {
  return call(trace::calls::kReset, inner_->resetDevice(handle));
}

Status TracingAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  return call(trace::calls::kBaud, inner_->setBaudRate(handle, baud), trace::kBaud, baud);
}

Status TracingAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                              std::uint8_t stopBits, std::uint8_t parity) {
  return call(trace::calls::kData,
              inner_->setDataCharacteristics(handle, wordLength, stopBits, parity));
}

Status TracingAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t xon,
                                      std::uint8_t xoff) {
  return call(trace::calls::kFlow, inner_->setFlowControl(handle, flow, xon, xoff));
}

Status TracingAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  return call(trace::calls::kTimeouts, inner_->setTimeouts(handle, readMs, writeMs), trace::kReadMs,
              readMs);
}

Status TracingAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  return call(trace::calls::kInfo, inner_->getDeviceInfo(handle, info));
}

// Asked before every frame: forwarded without a line, so that a trace shows what went over the
// line (the bytes a stray drain reads are traced as reads).
Status TracingAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  return inner_->queueStatus(handle, bytesWaiting);
}

Status TracingAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  return call(trace::calls::kLatency, inner_->setLatencyTimer(handle, ms));
}

Status TracingAdapter::setEventCharacter(Handle handle, std::uint8_t ch, bool enable) {
  return call(trace::calls::kEventChar, inner_->setEventCharacter(handle, ch, enable));
}

Status TracingAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  return call(trace::calls::kGetLatency, inner_->getLatencyTimer(handle, ms));
}

}  // namespace qubix::link
