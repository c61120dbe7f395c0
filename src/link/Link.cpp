#include "link/Link.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

namespace qubix::link {

namespace {
// Stops a drain on a device that never falls silent even where the adapter's clock does not run
// (a wrapper of the simulated bus that keeps the steady clock); far more than any reply of the
// protocol. The drain's time bound is kDrainTimeouts.
constexpr int kMaxDrainReads = 4096;

// The reason of a connect or driver failure, never empty.
std::string FailureReason(const Adapter& adapter, std::string_view fallback) {
  std::string reason = adapter.lastError();
  return reason.empty() ? std::string(fallback) : reason;
}

bool DescriptionIs(const Description& d, std::string_view name) {
  const auto len = static_cast<std::size_t>(std::find(d.begin(), d.end(), '\0') - d.begin());
  return std::string_view(d.data(), len) == name;
}
}  // namespace

Link::Link(std::unique_ptr<Adapter> adapter, StatusLine& status)
    : adapter_(std::move(adapter)), status_(status) {}

void Link::Connect() {
  state_.SendBuffer.fill(0);
  for (auto& d : state_.descriptions) d.fill('\0');

  state_.deviceCount = 0;
  state_.driverStatus = adapter_->listDevices(state_.descriptions, state_.deviceCount);
  if (state_.driverStatus != kOk) {
    state_.DeviceListed = false;
    status_.setStatusText(texts::kNoDevice);
    status_.setStatusDetail(adapter_->lastError());
    adapterError_ = FailureReason(*adapter_, "the adapter's devices cannot be listed");
    return;
  }
  state_.DeviceListed = true;
  const auto& first = state_.descriptions[0];
  if (DescriptionIs(first, texts::kAdapterNet) || DescriptionIs(first, texts::kAdapter422)) {
    status_.setStatusText(first.data());
  }

  // A handle left over from a lost connection is closed before the device is opened again,
  // so reconnecting never leaks driver handles.
  if (state_.handle != nullptr) {
    adapter_->close(state_.handle);
    state_.handle = nullptr;
  }
  Handle handle = nullptr;
  if (adapter_->open(0, handle) != kOk) {
    status_.setStatusText(texts::kNoOpenDvc);
    status_.setStatusDetail(adapter_->lastError());
    adapterError_ = FailureReason(*adapter_, "the adapter cannot be opened");
    return;
  }
  state_.handle = handle;
  adapter_->resetDevice(handle);
  adapter_->setTimeouts(handle, kStandardTimeoutMs, kStandardTimeoutMs);
  readTimeoutMs_ = kStandardTimeoutMs;
  // A line that cannot be set up (a device server that hangs up while confirming the settings)
  // is not connected: the next connect attempt tries again.
  const bool lineSet =
      adapter_->setBaudRate(handle, static_cast<std::uint32_t>(state_.baudRate)) == kOk &&
      adapter_->setDataCharacteristics(handle, kBits8, kStopBits1, kParityNone) == kOk &&
      adapter_->setFlowControl(handle, kFlowNone, 0, 0) == kOk;
  if (!lineSet) {
    status_.setStatusText(texts::kNoOpenDvc);
    status_.setStatusDetail(adapter_->lastError());
    adapterError_ = FailureReason(*adapter_, "the adapter's line cannot be set");
    adapter_->close(handle);
    state_.handle = nullptr;
    return;
  }
  state_.Connected = true;
  adapterError_.clear();
  if (onSelectionVoid) onSelectionVoid();
  status_.setStatusDetail({});
}

bool Link::QueryDeviceInfo() {
  state_.driverStatus = adapter_->getDeviceInfo(state_.handle, state_.deviceInfo);
  // The callers drop the connection on a failure here: an adapter that is gone.
  if (state_.driverStatus != kOk)
    adapterError_ = FailureReason(*adapter_, "the adapter does not answer");
  return state_.driverStatus == kOk;
}

bool Link::WriteFrame() {
  state_.bytesWritten = 0;
  // SendLength is set by callers; never hand the driver more than the buffer holds.
  const auto length = static_cast<std::uint32_t>(
      std::clamp<std::int32_t>(state_.SendLength, 0, static_cast<std::int32_t>(kBufferSize)));
  const Status st =
      adapter_->write(state_.handle, state_.SendBuffer.data(), length, state_.bytesWritten);
  if (st != kOk) {
    status_.setStatusColour(kRed);
    status_.setStatusText(texts::kConnectionFail);
    status_.setStatusDetail(adapter_->lastError());
    adapterError_ = FailureReason(*adapter_, "a write to the adapter failed");
    state_.Connected = false;
    if (onSelectionVoid) onSelectionVoid();
    if (onConnectionLost) onConnectionLost();
    return false;
  }
  if (state_.SendLength >= 0 &&
      state_.bytesWritten == static_cast<std::uint32_t>(state_.SendLength)) {
    status_.setStatusColour(kLime);
    status_.setStatusText(texts::kStatusOk);
    return true;
  }
  status_.setStatusColour(kRed);
  status_.setStatusText(texts::kCommError);
  return false;
}

bool Link::ReadReply() {
  state_.bytesRead = 0;
  // The buffer is cleared up to and including byte ReplyLength, but never beyond its end.
  const std::size_t clear =
      std::min<std::size_t>(static_cast<std::size_t>(state_.ReplyLength) + 1, kBufferSize);
  std::fill_n(state_.ReplyBuffer.begin(), clear, std::uint8_t{0});
  if (!state_.DeviceListed) {
    status_.setStatusColour(kRed);
    status_.setStatusText(texts::kNoDeviceRead);
    return false;
  }
  const auto count =
      static_cast<std::uint32_t>(std::min<std::size_t>(state_.ReplyLength, kBufferSize));
  const Status st = readWaiting(state_.ReplyBuffer.data(), count, state_.bytesRead);
  if (st != kOk) {
    status_.setStatusColour(kRed);
    status_.setStatusText(texts::kStatusNotOk);
    status_.setStatusDetail(adapter_->lastError());
    return false;
  }
  if (state_.bytesRead == state_.ReplyLength) {
    status_.setStatusColour(kLime);
    return true;
  }
  status_.setStatusColour(kRed);
  return false;
}

DrainOutcome Link::DrainInput() {
  state_.ReplyLength = kDrainReadSize;
  const double budgetMs = static_cast<double>(kDrainTimeouts) *
                          static_cast<double>(std::max(readTimeoutMs_, kStandardTimeoutMs));
  const double start = adapter_->nowMs();
  for (int i = 0; i < kMaxDrainReads; ++i) {
    state_.bytesRead = 0;
    const Status st = readWaiting(state_.ReplyBuffer.data(), kDrainReadSize, state_.bytesRead);
    if (st != kOk) return DrainOutcome::LinkFailed;
    if (state_.bytesRead == 0) return DrainOutcome::Quiet;
    if (adapter_->nowMs() - start >= budgetMs) break;
  }
  status_.setStatusDetail(texts::kLineNeverQuiet);
  if (onNeverQuiet) onNeverQuiet(texts::kLineNeverQuiet);
  return DrainOutcome::NeverQuiet;
}

std::optional<std::uint32_t> Link::WaitingBytes() {
  if (!state_.DeviceListed || state_.handle == nullptr) return std::nullopt;
  std::uint32_t waiting = 0;
  if (adapter_->queueStatus(state_.handle, waiting) != kOk) return std::nullopt;
  return waiting;
}

DrainOutcome Link::DiscardStray(std::uint32_t& bytesDiscarded) {
  bytesDiscarded = 0;
  const double budgetMs = static_cast<double>(kDrainTimeouts) *
                          static_cast<double>(std::max(readTimeoutMs_, kStandardTimeoutMs));
  const double start = adapter_->nowMs();
  std::array<std::uint8_t, kDrainReadSize> scratch{};
  for (int i = 0; i < kMaxDrainReads; ++i) {
    const std::optional<std::uint32_t> waiting = WaitingBytes();
    if (!waiting) return DrainOutcome::LinkFailed;
    if (*waiting == 0) return DrainOutcome::Quiet;
    std::uint32_t got = 0;
    const std::uint32_t ask = std::min<std::uint32_t>(*waiting, kDrainReadSize);
    if (readWaiting(scratch.data(), ask, got) != kOk) return DrainOutcome::LinkFailed;
    bytesDiscarded += got;
    if (adapter_->nowMs() - start >= budgetMs) break;
  }
  status_.setStatusDetail(texts::kLineNeverQuiet);
  if (onNeverQuiet) onNeverQuiet(texts::kLineNeverQuiet);
  return DrainOutcome::NeverQuiet;
}

DrainOutcome Link::DiscardWaiting() {
  const std::uint32_t kept = readTimeoutMs_;
  SetReadTimeout(kDiscardWaitMs);
  const DrainOutcome outcome = DrainInput();
  SetReadTimeout(kept);
  return outcome;
}

Status Link::SetReadTimeout(std::uint32_t readMs) {
  readTimeoutMs_ = readMs;
  return adapter_->setTimeouts(state_.handle, readMs, kStandardTimeoutMs);
}

void Link::CloseAdapter() {
  state_.Connected = false;
  if (state_.DeviceListed && state_.handle != nullptr) {
    adapter_->close(state_.handle);
    state_.handle = nullptr;
  }
}

bool Link::WriteText(std::string_view text) {
  const std::size_t n = std::min(text.size(), kBufferSize);
  std::memcpy(state_.SendBuffer.data(), text.data(), n);
  state_.SendLength = static_cast<std::int32_t>(n);
  return WriteFrame();
}

std::string Link::ReplyText() const {
  const std::size_t n = std::min<std::size_t>(state_.bytesRead, kBufferSize);
  return std::string(reinterpret_cast<const char*>(state_.ReplyBuffer.data()), n);
}

Status Link::RawWrite(const std::uint8_t* data, std::uint32_t count, std::uint32_t& written) {
  written = 0;
  return adapter_->write(state_.handle, data, count, written);
}

Status Link::RawRead(std::uint8_t* data, std::uint32_t count, std::uint32_t& read) {
  return readWaiting(data, count, read);
}

Status Link::readWaiting(std::uint8_t* data, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  if (!whileWaiting || readTimeoutMs_ <= kWaitSliceMs)
    return adapter_->read(state_.handle, data, count, read);
  // A short read means its slice ran out, so the slices add up to the time-out asked for.
  Status st = kOk;
  for (std::uint32_t waited = 0;;) {
    const std::uint32_t slice = std::min(kWaitSliceMs, readTimeoutMs_ - waited);
    adapter_->setTimeouts(state_.handle, slice, kStandardTimeoutMs);
    std::uint32_t got = 0;
    st = adapter_->read(state_.handle, data + read, count - read, got);
    read += got;
    waited += slice;
    if (st != kOk || read >= count || waited >= readTimeoutMs_) break;
    whileWaiting();
  }
  adapter_->setTimeouts(state_.handle, readTimeoutMs_, kStandardTimeoutMs);
  return st;
}

}  // namespace qubix::link
