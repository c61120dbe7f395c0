#include <gtest/gtest.h>

#include <cmath>

#include "ReferenceValues.h"
#include "filters/CoefficientWord.h"
#include "filters/ParametricBand.h"
#include "filters/Response.h"

using namespace qubix::filters;

namespace qubix::test {
namespace {

BandCoefficientTable TableOf(const std::vector<std::array<float, 3>>& bands) {
  BandCoefficientTable table;
  for (std::size_t j = 0; j < bands.size(); ++j) {
    BiquadCoefficients c;
    EXPECT_TRUE(ComputeParametric({bands[j][0], bands[j][1], bands[j][2], 48000}, c));
    table.SetBand(static_cast<int>(j), c);
  }
  return table;
}

TEST(Response, ColumnFrequencies) {
  EXPECT_NEAR(FreqStep(), 0.00640824, 1e-8);
  EXPECT_NEAR(ColumnFrequencyHz(1), 19.4, 0.05);
  EXPECT_NEAR(ColumnFrequencyHz(300), 1600.0, 1e-9);
  EXPECT_NEAR(ColumnFrequencyHz(500), 30600, 50);
  EXPECT_EQ(FrequencyColumn(1000), 268);
  EXPECT_EQ(FrequencyColumn(100), 112);
}

TEST(Response, AllFlatIsUnity) {
  BandCoefficientTable table;
  ResponseArray r;
  r.fill(0.0);
  ComputeResponse(table, r);
  for (double m : r) ASSERT_EQ(m, 1.0);
}

TEST(Response, MatchesIndependentReference) {
  const ReferenceValues ref = LoadReferenceValues();
  ASSERT_EQ(ref.tables.size(), 2u);
  for (const auto& [name, t] : ref.tables) {
    ASSERT_EQ(t.response.size(), static_cast<std::size_t>(kResponseColumns)) << name;
    const BandCoefficientTable table = TableOf(t.bands);
    ResponseArray fast, baseline, direct;
    ComputeResponse(table, fast);
    ComputeResponse(table, baseline, kResponseBands, ResponseKernel::Baseline);
    ComputeResponseDirect(table, direct);
    for (int k = 0; k < kResponseColumns; ++k) {
      // Every compiled form of the kernel gives the same bits.
      ASSERT_EQ(fast[k], baseline[k]) << name << " column " << k + 1;
      // Narrow low bands make |D| small, so two honest evaluations drift apart a little more.
      ASSERT_NEAR(fast[k] / t.response[k], 1.0, 1e-10) << name << " column " << k + 1;
      ASSERT_NEAR(fast[k] / direct[k], 1.0, 1e-12) << name << " column " << k + 1;
    }
  }
}

TEST(Response, OneBoostPeaksAtItsColumn) {
  BandCoefficientTable table;
  BiquadCoefficients c;
  ASSERT_TRUE(ComputeParametric({1000, 12, 1.4F, 48000}, c));
  table.SetBand(3, c);
  ResponseArray r;
  ComputeResponse(table, r);
  int peak = 0;
  for (int k = 1; k < kResponseColumns; ++k)
    if (r[k] > r[peak]) peak = k;
  EXPECT_EQ(peak + 1, 268);
  EXPECT_NEAR(20 * std::log10(r[peak]), 12.0, 0.05);
}

// Only the first bandCount entries count; entries 10 … 22 never do.
TEST(Response, BandCountLimitsTheTable) {
  BandCoefficientTable table;
  BiquadCoefficients cut;
  ASSERT_TRUE(ComputeParametric({2000, -12, 2, 48000}, cut));
  table.SetBand(5, cut);
  table.SetBand(12, cut);
  ResponseArray five, six, many;
  ComputeResponse(table, five, 5);
  ComputeResponse(table, six, 6);
  ComputeResponse(table, many, 99);
  for (int k = 0; k < kResponseColumns; ++k) {
    ASSERT_EQ(five[k], 1.0);
    ASSERT_EQ(six[k], many[k]);
  }
  EXPECT_LT(six[FrequencyColumn(2000) - 1], 0.3);
}

TEST(Response, TableStartsFlatAndKeepsBands) {
  BandCoefficientTable table;
  for (int i = 0; i < kTableEntries; ++i) EXPECT_EQ(table.Band(i), kFlatBiquad);
  const BiquadCoefficients c{0.9, -1.8, 0.85, -1.8, 0.75};
  table.SetBand(9, c);
  EXPECT_EQ(table.rows[RowB2][9], 0.85);
  EXPECT_EQ(table.rows[RowA1][9], -1.8);
  EXPECT_EQ(table.Band(23), kFlatBiquad);  // outside the table: ignored, not written
  table.SetBand(-1, c);
  EXPECT_EQ(table.Band(0), kFlatBiquad);
}

}  // namespace

// The response the DSP runs, from its 24-bit words: it stays within 0.01 dB of the exact curve
// for the worked examples, and a narrow band low down shows where the word's step matters.
TEST(QuantizedResponse, WordsDecodeToTheCoefficientsTheySend) {
  BiquadCoefficients c;
  ASSERT_TRUE(ComputeParametric({1000, 6, 1.4F, 48000}, c));
  const BiquadCoefficients q = QuantizedCoefficients(c);
  EXPECT_EQ(BandWords(q), BandWords(c));
  for (const auto& [exact, held] : {std::pair{c.b1, q.b1}, std::pair{c.a2, q.a2}}) {
    EXPECT_LE(held, exact);  // the word rounds down
    EXPECT_GT(held, exact - 1.0 / 4194304.0);
  }
}

TEST(QuantizedResponse, WorkedExamplesStayWithinAHundredthOfADecibel) {
  const std::vector<std::array<float, 3>> examples{
      {1000, 6, 1.4F}, {1000, -6, 1.4F}, {18000, -12, 0.2F}};
  for (const auto& band : examples) {
    const BandCoefficientTable table = TableOf({band});
    ResponseArray exact, quantized;
    ComputeResponse(table, exact);
    ComputeResponse(QuantizedTable(table), quantized);
    const double db = LargestDifferenceDb(exact, quantized).db;
    EXPECT_LT(db, 0.01) << band[0] << " Hz " << band[1] << " dB";
    EXPECT_GT(db, 0.0) << band[0] << " Hz " << band[1] << " dB";  // the words are not the doubles
  }
}

TEST(QuantizedResponse, NarrowLowBandIsVisiblyOff) {
  const BandCoefficientTable table = TableOf({{25, 12, 50}});
  ResponseArray exact, quantized;
  ComputeResponse(table, exact);
  ComputeResponse(QuantizedTable(table), quantized);
  const ResponseDifference d = LargestDifferenceDb(exact, quantized);
  EXPECT_GT(d.db, 1.0);
  EXPECT_LT(ColumnFrequencyHz(d.column), 40.0);
}

}  // namespace qubix::test
