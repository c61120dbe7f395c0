// How the real backends make an FTDI chip pass replies on quickly.
//
// The chip holds received bytes until its latency timer runs out (16 ms by default) or, where
// enabled, until the event character arrives - but never for the first byte in its buffer. So
// every one-byte acknowledgement or echo waits for the timer: we set it to 2 ms (1 ms equals a
// USB frame and the chip's maker advises against it). Every multi-byte reply of the processors
// ends with "O" and hexadecimal payloads never contain it, so with "O" as the event character
// query replies are passed on as soon as their last byte is in.
#pragma once

#include <cstdint>

namespace qubix::link::backends {

inline constexpr std::uint8_t kLatencyTimerMs = 2;
inline constexpr std::uint8_t kDefaultLatencyTimerMs = 16;
inline constexpr std::uint8_t kEventCharacter = 'O';

}  // namespace qubix::link::backends
