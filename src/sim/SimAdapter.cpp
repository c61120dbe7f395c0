#include "sim/SimAdapter.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qubix::sim {

using link::Handle;
using link::Status;

namespace {
void CopyText(std::span<char> dest, std::string_view text) {
  std::fill(dest.begin(), dest.end(), '\0');
  const std::size_t n = std::min(text.size(), dest.size() - 1);
  std::copy_n(text.begin(), n, dest.begin());
}

// A handle is an opaque token to the link; the simulator numbers its opens so that a handle
// kept from an earlier open is told apart.
Handle HandleFor(std::uintptr_t serial) {
  return reinterpret_cast<Handle>(serial);  // NOLINT(performance-no-int-to-ptr)
}
}  // namespace

SimAdapter::SimAdapter(std::shared_ptr<SimBus> bus, ClockMode mode)
    : bus_(std::move(bus)), clock_(mode) {}

void SimAdapter::note(int& counter, const char* name) {
  ++counter;
  if (!keepCallLog) return;
  callLog_.emplace_back(name);
  trace_.push_back({name, clock_.nowMs()});
}

// Completes the entry note() opened with the arguments and the outcome.
void SimAdapter::traceOutcome(std::string call) {
  if (!keepCallLog) return;
  trace_.back() = {std::move(call), clock_.nowMs()};
}

Status SimAdapter::fail(Status status, std::string reason) {
  lastError_ = std::move(reason);
  return status;
}

Status SimAdapter::checkHandle(Handle handle) {
  if (faults_.unplugged) return fail(link::kDeviceNotFound, "the adapter was unplugged");
  if (!open_ || handle != HandleFor(handleSerial_))
    return fail(link::kInvalidHandle, "not an open handle");
  return link::kOk;
}

Status SimAdapter::listDevices(std::span<link::Description> slots, std::uint32_t& count) {
  note(calls_.list, "list");
  if (faults_.listFails) return fail(link::kOtherError, "listing failed");
  const std::uint32_t n = (faults_.noDevice || faults_.unplugged) ? 0 : deviceCount;
  count = n;
  for (std::size_t i = 0; i < slots.size() && i < n; ++i) {
    CopyText(slots[i], i == 0 ? description : std::string("Velmoria USBNet"));
  }
  lastError_.clear();
  return link::kOk;
}

Status SimAdapter::open(int deviceIndex, Handle& handle) {
  note(calls_.open, "open");
  handle = nullptr;
  const std::uint32_t n = (faults_.noDevice || faults_.unplugged) ? 0 : deviceCount;
  if (faults_.openFails) return fail(link::kDeviceNotOpened, "open failed");
  if (deviceIndex < 0 || static_cast<std::uint32_t>(deviceIndex) >= n)
    return fail(link::kDeviceNotFound, "no device at this index");
  if (open_) return fail(link::kDeviceNotOpened, "the device is already open");
  open_ = true;
  handle = HandleFor(++handleSerial_);
  lastError_.clear();
  return link::kOk;
}

Status SimAdapter::close(Handle handle) {
  note(calls_.close, "close");
  if (!open_ || handle != HandleFor(handleSerial_))
    return fail(link::kInvalidHandle, "not an open handle");
  open_ = false;
  return link::kOk;
}

Status SimAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesWritten) {
  note(calls_.write, "write");
  const Status st = writeBody(handle, buffer, count, bytesWritten);
  if (keepCallLog)
    traceOutcome("write(" + std::to_string(count) + ")->" + std::to_string(bytesWritten));
  return st;
}

Status SimAdapter::writeBody(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                             std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (beforeWrite) beforeWrite(count);
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (faults_.writeFails) return fail(link::kIoError, "write failed");

  std::uint32_t n = count;
  if (faults_.shortWrite && n > 0) --n;
  bool unplugNow = false;
  if (faults_.unplugAfterBytes) {
    if (*faults_.unplugAfterBytes <= n) {
      n = static_cast<std::uint32_t>(*faults_.unplugAfterBytes);
      unplugNow = true;
    }
    *faults_.unplugAfterBytes -= n;
  }
  const double byteMs = bus_->wire().byteMs();
  const double start = clock_.nowMs();
  for (std::uint32_t i = 0; i < n; ++i) {
    bus_->hearByte(buffer[i], start + (i + 1) * byteMs);
  }
  // The bytes leave one after the other; the call returns once the last is out.
  clock_.waitUntil(start + n * byteMs);
  bytesWritten = n;
  if (unplugNow) {
    faults_.unplugAfterBytes.reset();
    faults_.unplugged = true;
    bus_->dropPending();
    return fail(link::kIoError, "the adapter was unplugged during a write");
  }
  return link::kOk;
}

Status SimAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                        std::uint32_t& bytesRead) {
  note(calls_.read, "read");
  const Status st = readBody(handle, buffer, count, bytesRead);
  if (keepCallLog)
    traceOutcome("read(" + std::to_string(count) + ")->" + std::to_string(bytesRead));
  return st;
}

Status SimAdapter::readBody(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                            std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (faults_.readFails) return fail(link::kIoError, "read failed");

  const double start = clock_.nowMs();
  bus_->addNoise(start, start + readTimeoutMs_);
  if (chip_) return readThroughChip(buffer, count, bytesRead, start);
  std::vector<double> arrivals;
  arrivals.reserve(std::min<std::size_t>(count, bus_->pending().size()));
  for (const auto& p : bus_->pending()) {
    if (arrivals.size() == count) break;
    arrivals.push_back(p.atMs);
  }
  const double until = bus_->wire().readReturnsAt(arrivals, count, start, readTimeoutMs_);
  clock_.waitUntil(until);
  const std::string got = bus_->take(count, until);
  std::copy(got.begin(), got.end(), buffer);
  bytesRead = static_cast<std::uint32_t>(got.size());
  return link::kOk;
}

// The same read with the chip in between: bytes count from when the chip hands them on.
Status SimAdapter::readThroughChip(std::uint8_t* buffer, std::uint32_t count,
                                   std::uint32_t& bytesRead, double start) {
  std::vector<ChipByte> waiting;
  waiting.reserve(bus_->pending().size());
  for (const auto& p : bus_->pending()) waiting.push_back({p.byte, p.atMs});
  const std::vector<double> delivered = chip_->deliveries(waiting);
  const std::size_t known = std::min<std::size_t>(count, delivered.size());
  const double until =
      bus_->wire().readReturnsAt(std::span(delivered).first(known), count, start, readTimeoutMs_);
  clock_.waitUntil(until);
  const auto ready = static_cast<std::size_t>(
      std::upper_bound(delivered.begin(), delivered.begin() + static_cast<std::ptrdiff_t>(known),
                       until) -
      delivered.begin());
  const std::string got = bus_->take(ready, until);
  chip_->settle(waiting, got.size(), until);
  std::copy(got.begin(), got.end(), buffer);
  bytesRead = static_cast<std::uint32_t>(got.size());
  return link::kOk;
}

Status SimAdapter::resetDevice(Handle handle) {
  note(calls_.reset, "reset");
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  bus_->dropPending();
  if (chip_) chip_->purge(clock_.nowMs());
  return link::kOk;
}

Status SimAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  note(calls_.baud, "baud");
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (faults_.baudFails) return fail(link::kIoError, "connection closed by the server");
  baud_ = baud;
  return link::kOk;
}

Status SimAdapter::setDataCharacteristics(Handle handle, std::uint8_t, std::uint8_t, std::uint8_t) {
  note(calls_.data, "data");
  return checkHandle(handle);
}

Status SimAdapter::setFlowControl(Handle handle, std::uint16_t, std::uint8_t, std::uint8_t) {
  note(calls_.flow, "flow");
  return checkHandle(handle);
}

Status SimAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  note(calls_.timeouts, "timeouts");
  traceOutcome("timeouts(" + std::to_string(readMs) + "," + std::to_string(writeMs) + ")");
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  readTimeoutMs_ = readMs;
  // A late answer (a line fault) leaves after the read waiting for it has given up; a read cut
  // into slices is given its whole time-out again once it ends, before the next frame.
  bus_->readTimeoutMs = readMs;
  writeTimeoutMs_ = writeMs;
  return link::kOk;
}

Status SimAdapter::getDeviceInfo(Handle handle, link::DeviceInfo& info) {
  note(calls_.info, "info");
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (faults_.infoFails) return fail(link::kIoError, "device info failed");
  info.type = 5;
  info.id = 0x00010001;
  CopyText(info.serialNumber, "SIM00001");
  CopyText(info.description, description);
  return link::kOk;
}

// The bytes a read started now would get within the read time-out in force. On the virtual
// clock no time passes between one exchange and the next, where a real PC always spends some
// (the USB frames, the program itself): a byte right behind a reply would otherwise never be
// seen waiting, so the simulated adapter counts what is already on its way as well. Not counted
// among the driver calls: it is asked before every frame and moves nothing on the line.
Status SimAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  ++queueQueries_;
  const double now = clock_.nowMs();
  bus_->addNoise(now, now);
  const double until = now + readTimeoutMs_;
  for (const auto& p : bus_->pending()) {
    if (p.atMs > until) break;
    ++bytesWaiting;
  }
  return link::kOk;
}

Status SimAdapter::setLatencyTimer(Handle handle, std::uint8_t ms) {
  note(calls_.latency, "latency");
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (!chip_) return link::kNotSupported;
  chip_->setLatencyTimer(ms);
  return link::kOk;
}

Status SimAdapter::getLatencyTimer(Handle handle, std::uint8_t& ms) {
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (!chip_) return link::kNotSupported;
  ms = static_cast<std::uint8_t>(chip_->latencyMs());
  return link::kOk;
}

Status SimAdapter::setEventCharacter(Handle handle, std::uint8_t ch, bool enable) {
  note(calls_.eventChar, "eventChar");
  if (auto st = checkHandle(handle); st != link::kOk) return st;
  if (!chip_) return link::kNotSupported;
  chip_->setEventCharacter(ch, enable);
  return link::kOk;
}

}  // namespace qubix::sim
