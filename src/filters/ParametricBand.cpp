#include "filters/ParametricBand.h"

#include <cmath>

namespace qubix::filters {

bool ComputeParametric(const ParametricInputs& in, BiquadCoefficients& out) {
  out = kFlatBiquad;
  // A rate of zero or below has no meaning; refuse it rather than divide by it.
  if (!(in.sampleRateHz > 0)) return false;

  // The working copies are floats; everything computed from them is double.
  const double f = in.freqHz;
  const double g = in.gainDb;
  const double q = in.q;
  const double sr = static_cast<float>(in.sampleRateHz);

  if (g != 0.0) {
    const double a = std::pow(10.0, 0.05 * g);
    const double omega = kTwoPi * f / sr;
    const double c = -std::cos(omega);
    const double s = std::sin(omega);
    // Using Q·A for cuts makes a cut the exact inverse of the boost of the same size.
    const double k =
        g > 0.0 ? (2.0 * q - s) / (2.0 * q + s) : (2.0 * q * a - s) / (2.0 * q * a + s);
    out.b0 = ((1.0 + k) + a * (1.0 - k)) * 0.5;
    out.b1 = (1.0 + k) * c;
    out.b2 = ((1.0 + k) - a * (1.0 - k)) * 0.5;
    out.a1 = (1.0 + k) * c;
    out.a2 = k;
  }
  return BiquadInRange(out);
}

int ParametricBand::FBCalc(float freqHz, float gainDb, float q, std::int32_t sampleRateHz) {
  coefficients_ = kFlatBiquad;
  inputs_ = ParametricInputs{freqHz, gainDb, q, sampleRateHz};
  return CompParametric() ? kFilterOk : kParametricFailed;
}

bool ParametricBand::CompParametric() {
  if (!ComputeParametric(inputs_, coefficients_)) return false;
  sectionCount_ = 1;
  return true;
}

}  // namespace qubix::filters
