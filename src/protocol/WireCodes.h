// The codes the processor takes and reports for gains, attenuations and levels, and their values
// in dB: every conversion between the two is here, both ways.
//   input gain code      = trunc(dB × 2 + 180)   180 = 0 dB, half-dB steps
//   attenuation code     = knob position + 191   255 = 0 dB (knob 64), half-dB steps
//   amplifier/channel    = 255 = 0 dB, 0 = muted, half-dB steps
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

}  // namespace qubix::protocol::codes
