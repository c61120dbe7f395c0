#include "sim/FtdiTiming.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qubix::sim {

FtdiTiming::Run FtdiTiming::run(std::span<const ChipByte> bytes, double untilMs) const {
  Run r;
  r.deliveries.assign(bytes.size(), 0.0);
  r.lastResetMs = timerStartMs_;
  double grid = timerStartMs_;  // the timer's grid origin
  const std::size_t first = std::min(deliveredUnread_, bytes.size());
  for (std::size_t i = 0; i < first; ++i)
    r.deliveries[i] = -std::numeric_limits<double>::infinity();

  // The first expiry that sends a buffer whose oldest byte arrived at `atMs`.
  const auto expiryFor = [&](double atMs) {
    const double periods = std::max(1.0, std::ceil((atMs - grid) / latencyMs_));
    return grid + periods * latencyMs_;
  };
  const auto send = [&](std::size_t from, std::size_t to, double atMs) {
    for (std::size_t i = from; i < to; ++i) r.deliveries[i] = atMs;
  };

  std::size_t buffered = first;  // index of the oldest byte in the chip's buffer
  for (std::size_t i = first; i < bytes.size(); ++i) {
    const double at = bytes[i].atMs;
    if (buffered < i) {
      const double expiry = expiryFor(bytes[buffered].atMs);
      if (expiry < at) {
        send(buffered, i, expiry);
        buffered = i;
      }
    }
    const std::size_t held = i - buffered + 1;
    const bool event = eventEnabled_ && bytes[i].byte == eventChar_ && held > 1;
    if (held >= kPacketBytes || event) {
      send(buffered, i + 1, at);
      buffered = i + 1;
      grid = at;  // a packet restarts the timer
      if (at <= untilMs) r.lastResetMs = at;
    }
  }
  if (buffered < bytes.size()) send(buffered, bytes.size(), expiryFor(bytes[buffered].atMs));
  return r;
}

std::vector<double> FtdiTiming::deliveries(std::span<const ChipByte> bytes) const {
  return run(bytes, std::numeric_limits<double>::infinity()).deliveries;
}

void FtdiTiming::settle(std::span<const ChipByte> bytes, std::size_t taken, double nowMs) {
  const Run r = run(bytes, nowMs);
  const auto delivered = static_cast<std::size_t>(
      std::upper_bound(r.deliveries.begin(), r.deliveries.end(), nowMs) - r.deliveries.begin());
  deliveredUnread_ = delivered > taken ? delivered - taken : 0;
  // The timer keeps its grid from the last packet sent for another reason.
  timerStartMs_ = r.lastResetMs;
}

double FtdiTiming::nextExpiry(double afterMs) const {
  const double periods = std::max(1.0, std::floor((afterMs - timerStartMs_) / latencyMs_) + 1.0);
  double next = timerStartMs_ + periods * latencyMs_;
  // Rounding may land the grid point on afterMs itself; the expiry asked for is after it.
  while (next <= afterMs + 1e-9) next += latencyMs_;
  return next;
}

void FtdiTiming::purge(double nowMs) {
  deliveredUnread_ = 0;
  timerStartMs_ = nowMs;
}

}  // namespace qubix::sim
