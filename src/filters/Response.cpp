#include "filters/Response.h"

#include <algorithm>
#include <cmath>

#include "filters/CoefficientWord.h"
#include "filters/ParametricBand.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUBIX_RESPONSE_AVX2 1
#else
#define QUBIX_RESPONSE_AVX2 0
#endif

namespace qubix::filters {

BiquadCoefficients BandCoefficientTable::Band(int index) const {
  if (index < 0 || index >= kTableEntries) return kFlatBiquad;
  return {rows[RowB0][index], rows[RowB1][index], rows[RowB2][index], rows[RowA1][index],
          rows[RowA2][index]};
}

void BandCoefficientTable::SetBand(int index, const BiquadCoefficients& c) {
  if (index < 0 || index >= kTableEntries) return;
  rows[RowB0][index] = c.b0;
  rows[RowB1][index] = c.b1;
  rows[RowB2][index] = c.b2;
  rows[RowA1][index] = c.a1;
  rows[RowA2][index] = c.a2;
}

double FreqStep() {
  static const double step = std::log10(1600.0) * 0.002;
  return step;
}

double ColumnFrequencyHz(int x) { return std::pow(10.0, (x + 200) * FreqStep()); }

int FrequencyColumn(double freqHz) {
  return static_cast<int>(std::log10(freqHz) / FreqStep()) - 200;
}

namespace {

double ColumnOmega(int x) { return kTwoPi * ColumnFrequencyHz(x) * 1.0 / kResponseSampleRateHz; }

// The columns never move, so their sines and cosines are computed once per process.
struct ColumnTrig {
  alignas(64) std::array<double, kResponseColumns> cos1, sin1, cos2, sin2;
  ColumnTrig() {
    for (int k = 0; k < kResponseColumns; ++k) {
      const double w = ColumnOmega(k + 1);
      cos1[k] = std::cos(w);
      sin1[k] = std::sin(w);
      cos2[k] = std::cos(2.0 * w);
      sin2[k] = std::sin(2.0 * w);
    }
  }
};

const ColumnTrig& Trig() {
  static const ColumnTrig trig;
  return trig;
}

}  // namespace

namespace {

// |H| = |N| / |D|, so the product of the bands is sqrt(Π|N|² / Π|D|²): no division and no square
// root per band, and each band's pass over the columns is a straight vectorisable loop. Inlined
// into each compiled form below, which gives it its instruction set; the same operations in the
// same order in every form, so every form gives the same bits.
[[gnu::always_inline]] inline void Kernel(const BandCoefficientTable& table,
                                          ResponseArray& response, int bands) {
  const ColumnTrig& t = Trig();
  alignas(64) std::array<double, kResponseColumns> num;
  alignas(64) std::array<double, kResponseColumns> den;
  num.fill(1.0);
  den.fill(1.0);
  for (int j = 0; j < bands; ++j) {
    const BiquadCoefficients c = table.Band(j);
    if (c == kFlatBiquad) continue;  // contributes exactly 1
    const double b0 = c.b0, b1 = c.b1, b2 = c.b2, a1 = c.a1, a2 = c.a2;
    for (int k = 0; k < kResponseColumns; ++k) {
      const double nr = b0 + b1 * t.cos1[k] + b2 * t.cos2[k];
      const double ni = b1 * t.sin1[k] + b2 * t.sin2[k];
      const double dr = 1.0 + a1 * t.cos1[k] + a2 * t.cos2[k];
      const double di = a1 * t.sin1[k] + a2 * t.sin2[k];
      num[k] *= nr * nr + ni * ni;
      den[k] *= dr * dr + di * di;
    }
  }
  for (int k = 0; k < kResponseColumns; ++k) response[k] = std::sqrt(num[k] / den[k]);
}

void BaselineKernel(const BandCoefficientTable& table, ResponseArray& response, int bands) {
  Kernel(table, response, bands);
}

#if QUBIX_RESPONSE_AVX2
// Painting code (the window system's, the raster engine's) may leave the upper halves of the
// vector registers in use; the baseline form's SSE instructions then run several times slower
// on many x86-64 processors until something clears them. The AVX2 form's instructions do not
// care, and it ends with vzeroupper, as the compiler closes every function that used them. No
// FMA: a fused multiply-add would round differently.
[[gnu::target("avx2")]] void Avx2Kernel(const BandCoefficientTable& table, ResponseArray& response,
                                        int bands) {
  Kernel(table, response, bands);
}
#endif

}  // namespace

void ComputeResponse(const BandCoefficientTable& table, ResponseArray& response, int bandCount,
                     ResponseKernel kernel) {
  const int bands = std::clamp(bandCount, 0, kResponseBands);
#if QUBIX_RESPONSE_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (kernel == ResponseKernel::Best && avx2) return Avx2Kernel(table, response, bands);
#endif
  (void)kernel;
  BaselineKernel(table, response, bands);
}

double BiquadMagnitude(const BiquadCoefficients& c, double omega) {
  const double cw = std::cos(omega), sw = std::sin(omega);
  const double c2w = std::cos(2.0 * omega), s2w = std::sin(2.0 * omega);
  const double nr = c.b0 + c.b1 * cw + c.b2 * c2w;
  const double ni = c.b1 * sw + c.b2 * s2w;
  const double dr = 1.0 + c.a1 * cw + c.a2 * c2w;
  const double di = c.a1 * sw + c.a2 * s2w;
  const double d = dr * dr + di * di;
  const double hr = (nr * dr + ni * di) / d;
  const double hi = (nr * di - ni * dr) / d;
  return std::sqrt(hr * hr + hi * hi);
}

void ComputeResponseDirect(const BandCoefficientTable& table, ResponseArray& response,
                           int bandCount) {
  const int bands = std::clamp(bandCount, 0, kResponseBands);
  for (int k = 0; k < kResponseColumns; ++k) {
    const double omega = ColumnOmega(k + 1);
    double m = 1.0;
    for (int j = 0; j < bands; ++j) m *= BiquadMagnitude(table.Band(j), omega);
    response[k] = m;
  }
}

BandCoefficientTable QuantizedTable(const BandCoefficientTable& table) {
  BandCoefficientTable out;
  for (int i = 0; i < kTableEntries; ++i) out.SetBand(i, QuantizedCoefficients(table.Band(i)));
  return out;
}

ResponseDifference LargestDifferenceDb(const ResponseArray& a, const ResponseArray& b) {
  ResponseDifference d;
  for (int k = 0; k < kResponseColumns; ++k) {
    const double db = std::fabs(
        20.0 * std::log10(a[static_cast<std::size_t>(k)] / b[static_cast<std::size_t>(k)]));
    if (db > d.db) d = {db, k + 1};
  }
  return d;
}

}  // namespace qubix::filters
