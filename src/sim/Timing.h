// Time on the simulated wire, kept in one place: the clock the simulated adapter runs on and
// the rules that say when bytes arrive and when a read returns.
#pragma once

#include <chrono>
#include <cstddef>
#include <span>

namespace qubix::sim {

enum class ClockMode {
  Virtual,  // tests: waiting costs nothing, the clock jumps to when the wait would end
  Real,     // the program: waits really pass, so the GUI behaves as on hardware
};

class SimClock {
 public:
  explicit SimClock(ClockMode mode = ClockMode::Virtual);

  ClockMode mode() const { return mode_; }
  double nowMs() const;
  // Lets time pass until `ms`; sleeps in real mode, jumps in virtual mode. Never goes back.
  void waitUntil(double ms);
  void advance(double ms) { waitUntil(nowMs() + ms); }

 private:
  ClockMode mode_;
  double virtualMs_ = 0.0;
  std::chrono::steady_clock::time_point start_;
};

// The serial line: 115200 baud, 8 data bits, no parity, 1 stop bit, so every byte takes ten
// bit times (86.8 µs). A read returns when the count asked for has arrived or when the read
// time-out, counted from the start of the read, runs out; whatever has arrived by then is
// returned.
struct WireTiming {
  double baud = 115200.0;
  int bitsPerByte = 10;

  double byteMs() const { return 1000.0 * bitsPerByte / baud; }

  // When a read of `count` bytes started at `startMs` returns, given the arrival times of the
  // bytes waiting or on their way (in order).
  double readReturnsAt(std::span<const double> arrivals, std::size_t count, double startMs,
                       double timeoutMs) const;
};

}  // namespace qubix::sim
