// One second-order section and the DSP's validity rule for its coefficients, shared by the
// parametric band, the filter block and the response computation.
#pragma once

#include <array>

namespace qubix::filters {

// H(z) = (b0 + b1·z⁻¹ + b2·z⁻²) / (1 + a1·z⁻¹ + a2·z⁻²). a0 is implicitly 1; a1 and a2 carry
// the sign they have in this denominator.
struct BiquadCoefficients {
  double b0 = 1.0;
  double b1 = 0.0;
  double b2 = 0.0;
  double a1 = 0.0;
  double a2 = 0.0;

  friend bool operator==(const BiquadCoefficients&, const BiquadCoefficients&) = default;
};

// The bypass section: b0 = 1, the rest 0.
inline constexpr BiquadCoefficients kFlatBiquad{};

// The DSP's number format holds −2 ≤ c < 2; a coefficient is accepted only strictly inside
// (−2, +2). NaN is never in range.
constexpr bool CoefficientInRange(double c) { return c > -2.0 && c < 2.0; }

constexpr bool BiquadInRange(const BiquadCoefficients& c) {
  return CoefficientInRange(c.b0) && CoefficientInRange(c.b1) && CoefficientInRange(c.b2) &&
         CoefficientInRange(c.a1) && CoefficientInRange(c.a2);
}

// The five coefficients in the order the DSP takes them: b2, b0, b1, a2, a1.
constexpr std::array<double, 5> SendingOrder(const BiquadCoefficients& c) {
  return {c.b2, c.b0, c.b1, c.a2, c.a1};
}

}  // namespace qubix::filters
