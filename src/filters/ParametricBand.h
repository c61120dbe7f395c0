// The coefficient computation of one parametric equaliser band. The band strip widget and the
// filter block both call this; nothing else computes a parametric section.
#pragma once

#include <cstdint>

#include "filters/Biquad.h"

namespace qubix::filters {

// FBCalc's result codes for a parametric band.
inline constexpr int kFilterOk = 0;
inline constexpr int kParametricFailed = 121;

// 2π as the DSP tools have always written it.
inline constexpr double kTwoPi = 6.283185307179586;

// Inputs as the strip holds them: 32-bit floats, the sample rate as a 32-bit integer.
struct ParametricInputs {
  float freqHz = 1000.0F;
  float gainDb = 0.0F;
  float q = 0.5F;
  std::int32_t sampleRateHz = 48000;
};

// Pure form of the computation: fills out (always, also on failure) and returns whether all
// five coefficients are strictly inside (−2, +2). Gain exactly 0 gives the flat set. A sample
// rate ≤ 0 fails and leaves out flat (there is nothing meaningful to compute).
bool ComputeParametric(const ParametricInputs& in, BiquadCoefficients& out);

// The band's computation state: the float working copies, the double results and SectionCount.
// A widget owns one and forwards its own properties to FBCalc.
class ParametricBand {
 public:
  // Resets to flat, takes float working copies of the inputs, runs CompParametric.
  // Returns kFilterOk (0) or kParametricFailed (121). On failure the out-of-range values are
  // kept in Coefficients() and must not be sent.
  int FBCalc(float freqHz, float gainDb, float q, std::int32_t sampleRateHz);
  int FBCalc(const ParametricInputs& in) {
    return FBCalc(in.freqHz, in.gainDb, in.q, in.sampleRateHz);
  }

  // Computes from the working copies. True (and SectionCount = 1) when all five are in range;
  // false leaves SectionCount as it was.
  bool CompParametric();

  const BiquadCoefficients& Coefficients() const { return coefficients_; }
  const ParametricInputs& WorkingCopies() const { return inputs_; }
  std::int32_t SectionCount() const { return sectionCount_; }

 private:
  ParametricInputs inputs_;
  BiquadCoefficients coefficients_;
  std::int32_t sectionCount_ = 1;
};

}  // namespace qubix::filters
