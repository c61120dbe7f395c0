// The editor's ten equaliser bands, defined once for the editor window, the widgets demo, the
// command-line tool and the tests: where each band's coefficients live in the processor, the
// limits of its strip and the frequency, Q and filter block QF its strip starts with.
#pragma once

#include <array>
#include <cstdint>

namespace qubix::filters {

inline constexpr int kBandCount = 10;

// Where the bands live in DSP coefficient memory: five words per band from 799 on, and a mirror
// copy of every band 116 words further.
inline constexpr std::int32_t kFirstBandAddress = 799;
inline constexpr std::int32_t kBandAddressStep = 5;
inline constexpr std::int32_t kMirrorAddressOffset = 116;

// Band n (1 … 10): 799 + 5·(n − 1). Returns −1 for n outside 1 … 10.
constexpr std::int32_t BandAddress(int band) {
  return band >= 1 && band <= kBandCount ? kFirstBandAddress + kBandAddressStep * (band - 1) : -1;
}
// The same for a band index 0 … 9.
constexpr std::int32_t BandAddressAt(int index) { return BandAddress(index + 1); }
// The mirror copy of a band lives 116 words further.
constexpr std::int32_t MirrorAddress(std::int32_t bandAddress) {
  return bandAddress + kMirrorAddressOffset;
}

// What a band strip of the editor accepts; values from files are clamped to the same ranges.
inline constexpr std::int32_t kBandFreqMinHz = 10;
inline constexpr std::int32_t kBandFreqMaxHz = 18000;
inline constexpr std::int32_t kBandGainMaxDb = 12;  // the fader runs −12 … +12 dB
inline constexpr float kBandQMin = 0.2F;
inline constexpr float kBandQMax = 50.0F;

// How the editor window's strips start, band 1 … 10 (the defaults of a machine without an
// equaliser file are another table: network::kEqDefaults).
struct StripStart {
  float freqHz;  // FPotPos
  float q;       // QPotPos
  float qf;      // FilterBlockQF
};
inline constexpr std::array<StripStart, kBandCount> kStripStarts{{
    {32, 1.8F, 0.5F},
    {63, 1.4F, 0.5F},
    {125, 1.4F, 0.5F},
    {250, 1.4F, 0.5F},
    {500, 1.4F, 0.5F},
    {1000, 1.4F, 0.5F},
    {2000, 1.4F, 0.5F},
    {4000, 1.4F, 0.5F},
    {8000, 1.8F, 2.0F},
    {16000, 3.0F, 0.5F},
}};

}  // namespace qubix::filters
