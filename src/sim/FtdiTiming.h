// When bytes that the processors send reach the PC through an FTDI USB serial chip.
//
// The chip collects received bytes in its buffer and sends them to the PC in one USB packet
// when one of these happens:
//  - its latency timer runs out (16 ms by default, settable 1 ... 255 ms); the timer restarts
//    on every packet, so expiries fall on a grid that a packet sent for another reason moves;
//  - the buffer holds a full packet (62 data bytes);
//  - the event character arrives, if enabled - but never when it is the first byte in the
//    buffer, so a one-byte reply always waits for the timer.
// A read on the PC returns when the bytes it asked for have been delivered, so a one-byte
// acknowledgement costs up to one latency period and a reply that ends with the event
// character none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qubix::sim {

struct ChipByte {
  std::uint8_t byte = 0;
  double atMs = 0.0;  // when its last bit reached the chip
};

class FtdiTiming {
 public:
  static constexpr std::size_t kPacketBytes = 62;

  void setLatencyTimer(std::uint8_t ms) { latencyMs_ = ms == 0 ? 1.0 : ms; }
  void setEventCharacter(std::uint8_t ch, bool enable) {
    eventChar_ = ch;
    eventEnabled_ = enable;
  }
  double latencyMs() const { return latencyMs_; }

  // When the PC can read each of `bytes`: the bytes not yet read, oldest first (those already
  // delivered but not read count as delivered at once). Never decreasing.
  std::vector<double> deliveries(std::span<const ChipByte> bytes) const;

  // The PC read `taken` of `bytes` at `nowMs`: what the chip sent up to then is settled.
  void settle(std::span<const ChipByte> bytes, std::size_t taken, double nowMs);

  // The buffers were purged at `nowMs` (a reset): nothing waits, the timer starts again.
  void purge(double nowMs);

  // The first expiry of the latency timer after `afterMs`, as the timer stood at the last
  // settle(): when the chip, having nothing to pass on, sends its status bytes alone.
  double nextExpiry(double afterMs) const;

 private:
  struct Run {
    std::vector<double> deliveries;
    double lastResetMs = 0.0;  // the last packet sent for another reason than the timer
  };
  Run run(std::span<const ChipByte> bytes, double untilMs) const;

  double latencyMs_ = 16.0;
  bool eventEnabled_ = false;
  std::uint8_t eventChar_ = 0;
  double timerStartMs_ = 0.0;        // expiries fall at timerStartMs_ + k * latency
  std::size_t deliveredUnread_ = 0;  // at the front of the bytes, already at the PC
};

}  // namespace qubix::sim
