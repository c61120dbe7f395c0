// The combined magnitude response of the equaliser bands at the response graph's pixel
// columns, and the band coefficient table it reads.
#pragma once

#include <array>
#include <cstdint>

#include "filters/Biquad.h"

namespace qubix::filters {

// Rows b0, b1, b2, a1, a2 of 23 entries; entry n − 1 holds band n. Starts flat.
inline constexpr int kTableEntries = 23;
enum CoefficientRow : int { RowB0, RowB1, RowB2, RowA1, RowA2 };

struct BandCoefficientTable {
  std::array<std::array<double, kTableEntries>, 5> rows = flatRows();

  // Band index 0 … 22 (the editor uses 0 … 9).
  BiquadCoefficients Band(int index) const;
  void SetBand(int index, const BiquadCoefficients& c);

 private:
  static constexpr std::array<std::array<double, kTableEntries>, 5> flatRows() {
    std::array<std::array<double, kTableEntries>, 5> r{};
    r[RowB0].fill(1.0);
    return r;
  }
};

inline constexpr int kResponseColumns = 500;
inline constexpr int kResponseBands = 10;
// The graph always assumes this rate, whatever the bands were designed for.
inline constexpr double kResponseSampleRateHz = 48000.0;

// Decades of frequency per pixel column: log10(1600) · 0.002.
double FreqStep();
// f(x) = 10^((x + 200) · FreqStep) for column x = 1 … 500.
double ColumnFrequencyHz(int x);
// x(f) = trunc(log10(f) / FreqStep) − 200 (the graph's grid lines and labels).
int FrequencyColumn(double freqHz);

// Response[k − 1] is the product of the first bandCount bands' magnitudes at column k.
using ResponseArray = std::array<double, kResponseColumns>;

// Which compiled form of the fast kernel runs: the best one the processor has, chosen once at
// run time (AVX2 on x86-64 processors that have it, unaffected by vector state that painting
// leaves behind), or the baseline every processor runs. Both give the same bits.
enum class ResponseKernel { Best, Baseline };

// Fast form for every pixel of a drag: the columns' sines and cosines are computed once per
// process; numerator and denominator magnitudes are accumulated band by band across all
// columns. bandCount is clamped to 0 … 10.
void ComputeResponse(const BandCoefficientTable& table, ResponseArray& response,
                     int bandCount = kResponseBands, ResponseKernel kernel = ResponseKernel::Best);

// The plain evaluation (complex quotient per band and column, sines per call), kept as the
// yardstick the fast form is checked and measured against.
void ComputeResponseDirect(const BandCoefficientTable& table, ResponseArray& response,
                           int bandCount = kResponseBands);

// The table as the DSP runs it: every band's coefficients as their 24-bit words hold them.
BandCoefficientTable QuantizedTable(const BandCoefficientTable& table);

// The largest |20·log10(a/b)| over the columns, and the column x (1 … 500) where it is.
struct ResponseDifference {
  double db = 0.0;
  int column = 1;
};
ResponseDifference LargestDifferenceDb(const ResponseArray& a, const ResponseArray& b);

// |H(e^jω)| of one section at ω radians per sample.
double BiquadMagnitude(const BiquadCoefficients& c, double omega);

}  // namespace qubix::filters
