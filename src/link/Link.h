// The one adapter connection of the program run, its state and the five primitives every bus
// command is built from. Outcomes are reported on the status line with fixed texts and colours:
// that is how the operator learns of every link fault.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/Adapter.h"
#include "link/Frontend.h"

namespace qubix::link {

inline constexpr std::size_t kBufferSize = 200;
inline constexpr std::int32_t kBaudRate = 115200;
inline constexpr std::uint32_t kStandardTimeoutMs = 200;
// A drain reads this many bytes at a time until a read returns none.
inline constexpr std::uint32_t kDrainReadSize = 16;

// How a drain of the input ended.
enum class DrainOutcome {
  Quiet,       // a read came back empty: nothing more is waiting
  NeverQuiet,  // bytes kept coming for the whole time a drain may take
  LinkFailed,  // a read failed at the driver
};
// A drain may take this many read time-outs in all (the time-out in force, but no less than the
// standard one, since a drain of a short-time-out poll still has to empty the line). At 200 ms
// that is 800 ms, in which some 9,000 bytes arrive at 115200 baud: far more than the longest
// reply (128 bytes) or the echoes an interrupted upload leaves, so a line that is still talking
// after it is not going to fall silent.
inline constexpr std::uint32_t kDrainTimeouts = 4;
// The read time-out of a discard (Link::DiscardWaiting): long enough for a read to hand over what
// the driver holds, too short to wait for anything still on its way.
inline constexpr std::uint32_t kDiscardWaitMs = 1;

// Link state: one instance for the whole run, zero-filled at start.
struct LinkState {
  bool DeviceListed = false;
  bool Connected = false;
  Handle handle = nullptr;
  Status driverStatus = kOk;
  std::uint32_t deviceCount = 0;
  std::array<Description, 2> descriptions{};
  DeviceInfo deviceInfo{};
  std::array<std::uint8_t, kBufferSize> SendBuffer{};
  std::int32_t SendLength = 0;
  std::uint32_t bytesWritten = 0;
  std::array<std::uint8_t, kBufferSize> ReplyBuffer{};
  std::uint32_t ReplyLength = 0;
  std::uint32_t bytesRead = 0;
  std::int32_t baudRate = kBaudRate;
};

class Link {
 public:
  Link(std::unique_ptr<Adapter> adapter, StatusLine& status);

  // The connect operation (the hidden "Connect" button): list, open device 0, configure.
  void Connect();
  bool QueryDeviceInfo();
  // Writes the first SendLength bytes of SendBuffer.
  bool WriteFrame();
  // Reads ReplyLength bytes into ReplyBuffer.
  bool ReadReply();
  // Discards everything received: 16-byte reads until one returns nothing (or fails), for at
  // most kDrainTimeouts read time-outs (and one read more). A line that never goes quiet puts
  // texts::kLineNeverQuiet in the status detail.
  DrainOutcome DrainInput();
  // Discards what has already arrived without waiting for more: a drain whose reads wait
  // kDiscardWaitMs. The read time-out in force before is in force again afterwards.
  DrainOutcome DiscardWaiting();
  // How many received bytes wait to be read, asked of the adapter without reading or waiting;
  // empty when the adapter cannot say (or the asking failed: the next write or read will).
  std::optional<std::uint32_t> WaitingBytes();
  // Reads exactly what waits until the adapter says nothing does: no read waits for bytes that
  // are not there, so a quiet line costs no time. Bounded like a drain; a line that never goes
  // quiet is reported as DrainInput reports it. bytesDiscarded tells how many went.
  DrainOutcome DiscardStray(std::uint32_t& bytesDiscarded);
  // Sets the read time-out (the write time-out stays 200 ms).
  Status SetReadTimeout(std::uint32_t readMs);
  // Closes the adapter if a listing succeeded; clears Connected.
  void CloseAdapter();

  // Fills SendBuffer/SendLength with text and calls WriteFrame.
  bool WriteText(std::string_view text);
  // The reply bytes read so far as text (bytesRead characters).
  std::string ReplyText() const;

  // Direct driver access on the open handle, for the bus scan and the upload, which bypass
  // the buffers. They report nothing on the status line.
  Status RawWrite(const std::uint8_t* data, std::uint32_t count, std::uint32_t& written);
  Status RawRead(std::uint8_t* data, std::uint32_t count, std::uint32_t& read);

  // Why the adapter is not connected: the reason the last connect attempt failed, or the driver
  // failure that dropped the connection; "" while connected. What the status line's tool tip
  // showed, for callers without one (the service's bus state).
  const std::string& lastAdapterError() const { return adapterError_; }

  LinkState& state() { return state_; }
  const LinkState& state() const { return state_; }
  Adapter& adapter() { return *adapter_; }
  StatusLine& status() { return status_; }

  // Called after a driver-level write failure: the main window restarts its connection timer.
  std::function<void()> onConnectionLost;
  // Called whenever the connection is lost or opened again: no machine can be taken as selected
  // across it (the bus layer above keeps the selection).
  std::function<void()> onSelectionVoid;
  // Called when a drain ends with the line still talking: the bus layer above counts it as a
  // fault of the operation that drained.
  std::function<void(std::string_view what)> onNeverQuiet;

  // Called between slices of a read that waits longer than one slice, so that a window system
  // can let its pending events run; unset, every read is one driver call.
  std::function<void()> whileWaiting;
  static constexpr std::uint32_t kWaitSliceMs = 50;

 private:
  // One read as the driver does it, in slices of kWaitSliceMs when whileWaiting is set: the
  // same bytes within the same time-out.
  Status readWaiting(std::uint8_t* data, std::uint32_t count, std::uint32_t& read);

  std::unique_ptr<Adapter> adapter_;
  StatusLine& status_;
  LinkState state_;
  std::uint32_t readTimeoutMs_ = kStandardTimeoutMs;
  std::string adapterError_;
};

namespace texts {
inline constexpr std::string_view kStatusOk = "Status Ok";
inline constexpr std::string_view kCommError = "Comm Error";
inline constexpr std::string_view kConnectionFail = "Connection Fail";
inline constexpr std::string_view kStatusNotOk = " Status Not OK";
inline constexpr std::string_view kNoDeviceRead = " No Device ";
inline constexpr std::string_view kNoDevice = "NoDevice";
inline constexpr std::string_view kNoOpenDvc = "NoOpenDvc";
inline constexpr std::string_view kAdapterNet = "Velmoria USBNet";
inline constexpr std::string_view kAdapter422 = "Velmoria USBTo422";
inline constexpr std::string_view kLineNeverQuiet =
    "the line never goes quiet: bytes kept arriving while the input was being cleared";
}  // namespace texts

}  // namespace qubix::link
