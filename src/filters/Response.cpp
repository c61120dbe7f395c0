#include "filters/Response.h"

#include <algorithm>
#include <cmath>

#include "filters/CoefficientWord.h"
#include "filters/ParametricBand.h"

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

void ComputeResponse(const BandCoefficientTable& table, ResponseArray& response, int bandCount) {
  const ColumnTrig& t = Trig();
  const int bands = std::clamp(bandCount, 0, kResponseBands);
  // |H| = |N| / |D|, so the product of the bands is sqrt(Π|N|² / Π|D|²): no division and no
  // square root per band, and each band's pass over the columns is a straight vectorisable loop.
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
