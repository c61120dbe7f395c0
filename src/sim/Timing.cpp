#include "sim/Timing.h"

#include <algorithm>
#include <thread>

namespace qubix::sim {

SimClock::SimClock(ClockMode mode) : mode_(mode), start_(std::chrono::steady_clock::now()) {}

double SimClock::nowMs() const {
  if (mode_ == ClockMode::Virtual) return virtualMs_;
  const auto d = std::chrono::steady_clock::now() - start_;
  return std::chrono::duration<double, std::milli>(d).count();
}

void SimClock::waitUntil(double ms) {
  if (mode_ == ClockMode::Virtual) {
    virtualMs_ = std::max(virtualMs_, ms);
    return;
  }
  const double wait = ms - nowMs();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(wait));
}

double WireTiming::readReturnsAt(std::span<const double> arrivals, std::size_t count,
                                 double startMs, double timeoutMs) const {
  if (count == 0) return startMs;
  const double deadline = startMs + timeoutMs;
  if (arrivals.size() >= count) {
    const double complete = std::max(startMs, arrivals[count - 1]);
    if (complete <= deadline) return complete;
  }
  return deadline;
}

}  // namespace qubix::sim
