// The codes the processor takes and reports for gains, attenuations and levels, and their values
// in dB: every conversion between the two is here, both ways.
//   input gain code      = trunc(dB × 2 + 180)   180 = 0 dB, half-dB steps
//   attenuation code     = knob position + 191   255 = 0 dB (knob 64), half-dB steps
//   amplifier/channel    = 255 = 0 dB, 0 = muted, half-dB steps; a level in dB is taken as
//                          255 + 2 × trunc(dB) below 0 dB and 255 from 0 dB up (whole dB)
#pragma once

#include <cmath>
#include <cstdint>

namespace qubix::protocol::codes {

inline constexpr int kGainZeroDb = 180;
inline constexpr int kAttenuationZeroDb = 255;
inline constexpr int kKnobToAttenuation = 191;
inline constexpr int kLevelZeroDb = 255;
inline constexpr int kMuted = 0;

// dB to the gain code: half-dB steps, truncated towards zero.
inline int GainCode(double db) { return static_cast<int>(std::trunc(db * 2 + kGainZeroDb)); }
inline double GainDb(double code) { return (code - kGainZeroDb) * 0.5; }

inline int AttenuationCode(int knobPosition) { return knobPosition + kKnobToAttenuation; }
inline int KnobPosition(int attenuationCode) { return attenuationCode - kKnobToAttenuation; }
inline double AttenuationDb(double code) { return (code - kAttenuationZeroDb) * 0.5; }

inline double LevelDb(double code) { return (code - kLevelZeroDb) * 0.5; }
// dB to the amplifier level code, as the amplifier calculator's trim is taken: whole dB,
// truncated towards zero (−3.5 dB is 249, −3 dB), 0 dB for anything not below it.
inline int AmpLevelCode(double db) {
  if (!(db < 0.0)) return kLevelZeroDb;
  return kLevelZeroDb + 2 * static_cast<int>(std::trunc(db));
}

}  // namespace qubix::protocol::codes
