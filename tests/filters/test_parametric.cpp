#include <gtest/gtest.h>

#include <cmath>

#include "ReferenceValues.h"
#include "filters/CoefficientWord.h"
#include "filters/ParametricBand.h"
#include "filters/Response.h"

using namespace qubix::filters;

namespace qubix::test {
namespace {

struct WorkedExample {
  float freqHz, gainDb, q;
  BiquadCoefficients expected;
  std::array<const char*, 5> words;  // b2 b0 b1 a2 a1
};

// The decimals come from double-precision inputs; the float working copies move them in the
// ninth decimal, hence 5e-9. The words must agree exactly.
const WorkedExample kWorked[] = {
    {1000,
     6,
     1.4F,
     {1.0443291722, -1.8945714385, 0.8665904486, -1.8945714385, 0.9109196208},
     {"377637", "42D64A", "86BF57", "3A4C81", "86BF57"}},
    {1000,
     -6,
     1.4F,
     {0.9575524907, -1.8141515999, 0.8722533518, -1.8141515999, 0.8298058425},
     {"37D2FF", "3D488A", "8BE4F0", "351B89", "8BE4F0"}},
    {1234, 0, 3.0F, kFlatBiquad, {"000000", "400000", "000000", "000000", "000000"}},
};

TEST(Parametric, WorkedExamples) {
  for (const auto& w : kWorked) {
    SCOPED_TRACE(testing::Message() << w.freqHz << " Hz " << w.gainDb << " dB");
    ParametricBand band;
    ASSERT_EQ(band.FBCalc(w.freqHz, w.gainDb, w.q, 48000), kFilterOk);
    const auto& c = band.Coefficients();
    EXPECT_NEAR(c.b0, w.expected.b0, 5e-9);
    EXPECT_NEAR(c.b1, w.expected.b1, 5e-9);
    EXPECT_NEAR(c.b2, w.expected.b2, 5e-9);
    EXPECT_NEAR(c.a1, w.expected.a1, 5e-9);
    EXPECT_NEAR(c.a2, w.expected.a2, 5e-9);
    EXPECT_EQ(c.a1, c.b1);
    const auto words = BandWords(c);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(WordText(words[i]), w.words[i]) << "word " << i;
    EXPECT_EQ(band.SectionCount(), 1);
  }
}

TEST(Parametric, HighCutWrapsNegativeWord) {
  ParametricBand band;
  ASSERT_EQ(band.FBCalc(18000, -12, 0.2F, 48000), kFilterOk);
  EXPECT_NEAR(band.Coefficients().b2, -0.0955218, 5e-7);
  EXPECT_EQ(WordText(CoefficientToWord(band.Coefficients().b2)), "F9E2F8");
}

TEST(Parametric, WideBoostFailsAndKeepsValues) {
  ParametricBand band;
  EXPECT_EQ(band.FBCalc(5000, 12, 0.2F, 48000), kParametricFailed);
  // The out-of-range values stay for inspection; callers must not send them.
  EXPECT_GE(band.Coefficients().b0, 2.0);
  EXPECT_LE(band.Coefficients().b2, -2.0);
  // The next good computation starts from flat again.
  EXPECT_EQ(band.FBCalc(5000, 0, 0.2F, 48000), kFilterOk);
  EXPECT_EQ(band.Coefficients(), kFlatBiquad);
}

TEST(Parametric, NonPositiveSampleRateFailsWithoutDividing) {
  for (std::int32_t sr : {0, -1, -48000}) {
    ParametricBand band;
    EXPECT_EQ(band.FBCalc(1000, 6, 1.4F, sr), kParametricFailed) << sr;
    EXPECT_EQ(band.Coefficients(), kFlatBiquad) << sr;
  }
}

TEST(Parametric, GarbageInputsFailCleanly) {
  ParametricBand band;
  EXPECT_EQ(band.FBCalc(std::nanf(""), 6, 1.4F, 48000), kParametricFailed);
  EXPECT_EQ(band.FBCalc(1000, 6, std::nanf(""), 48000), kParametricFailed);
  EXPECT_EQ(band.FBCalc(0, 6, 0.0F, 48000), kParametricFailed);  // 0/0 in the all-pass term
}

TEST(Parametric, RangeCheckBoundsAreExclusive) {
  EXPECT_FALSE(CoefficientInRange(2.0));
  EXPECT_FALSE(CoefficientInRange(-2.0));
  EXPECT_TRUE(CoefficientInRange(std::nextafter(2.0, 0.0)));
  EXPECT_TRUE(CoefficientInRange(std::nextafter(-2.0, 0.0)));
  EXPECT_FALSE(CoefficientInRange(std::nan("")));
  BiquadCoefficients c;
  c.a2 = -2.0;
  EXPECT_FALSE(BiquadInRange(c));
}

// Where large wide boosts stop fitting the DSP's number format at 48 kHz.
TEST(Parametric, FailureThresholds) {
  struct Edge {
    float q, lastGoodHz, firstBadHz;
  };
  for (const Edge e : {Edge{0.2F, 1553, 1554}, Edge{0.5F, 4042, 4043}, Edge{0.7F, 5995, 5996}}) {
    ParametricBand band;
    EXPECT_EQ(band.FBCalc(e.lastGoodHz, 12, e.q, 48000), kFilterOk) << e.q;
    EXPECT_EQ(band.FBCalc(e.firstBadHz, 12, e.q, 48000), kParametricFailed) << e.q;
  }
  ParametricBand band;
  for (float f = 10; f <= 18000; f *= 1.02F) {
    for (float g : {-12.0F, -6.0F, 6.0F, 12.0F}) {
      for (float q : {0.2F, 1.0F, 4.0F, 50.0F}) {
        const bool mayFail = g > 6 && q < 1;
        if (!mayFail) {
          ASSERT_EQ(band.FBCalc(f, g, q, 48000), kFilterOk) << f << " " << g << " " << q;
        }
      }
    }
  }
}

TEST(Parametric, MatchesIndependentReference) {
  const ReferenceValues ref = LoadReferenceValues();
  ASSERT_EQ(ref.coefficients.size(), 180u);
  for (const auto& r : ref.coefficients) {
    BiquadCoefficients c;
    ComputeParametric({r.freqHz, r.gainDb, r.q, 48000}, c);
    const double got[5] = {c.b0, c.b1, c.b2, c.a1, c.a2};
    for (int i = 0; i < 5; ++i)
      EXPECT_NEAR(got[i], r.expected[i], 1e-12) << r.freqHz << " " << r.gainDb << " " << r.q;
  }
}

// Unity at 0 Hz and Nyquist, exactly G dB at F, for every band that fits the DSP.
TEST(Parametric, ShapeOverGrid) {
  int checked = 0;
  for (float f : {20.0F, 100.0F, 1000.0F, 4000.0F, 12000.0F, 18000.0F}) {
    for (float g : {-12.0F, -6.0F, -0.5F, 0.25F, 6.0F, 12.0F}) {
      for (float q : {0.2F, 0.7F, 1.4F, 8.0F, 50.0F}) {
        BiquadCoefficients c;
        if (!ComputeParametric({f, g, q, 48000}, c)) continue;
        ++checked;
        SCOPED_TRACE(testing::Message() << f << " " << g << " " << q);
        EXPECT_NEAR(BiquadMagnitude(c, 0.0), 1.0, 1e-9);
        EXPECT_NEAR(BiquadMagnitude(c, M_PI), 1.0, 1e-9);
        const double atF = 20.0 * std::log10(BiquadMagnitude(c, kTwoPi * f / 48000.0));
        EXPECT_NEAR(atF, g, 1e-9);
      }
    }
  }
  EXPECT_GT(checked, 150);
}

TEST(Parametric, BoostAndCutCancel) {
  for (float f : {32.0F, 1000.0F, 9000.0F, 17000.0F}) {
    for (float g : {1.0F, 6.0F, 12.0F}) {
      for (float q : {0.2F, 1.4F, 20.0F}) {
        BiquadCoefficients boost, cut;
        ComputeParametric({f, g, q, 48000}, boost);
        ComputeParametric({f, -g, q, 48000}, cut);
        for (int x = 1; x <= kResponseColumns; x += 7) {
          const double w = kTwoPi * ColumnFrequencyHz(x) / 48000.0;
          ASSERT_NEAR(BiquadMagnitude(boost, w) * BiquadMagnitude(cut, w), 1.0, 1e-9)
              << f << " " << g << " " << q << " x=" << x;
        }
      }
    }
  }
}

TEST(BandAddresses, BaseAndMirror) {
  EXPECT_EQ(BandAddress(1), 799);
  EXPECT_EQ(BandAddress(4), 814);
  EXPECT_EQ(MirrorAddress(BandAddress(4)), 930);
  EXPECT_EQ(BandAddress(10), 844);
  EXPECT_EQ(MirrorAddress(BandAddress(10)), 960);
  EXPECT_EQ(BandAddress(0), -1);
  EXPECT_EQ(BandAddress(11), -1);
}

}  // namespace
}  // namespace qubix::test
