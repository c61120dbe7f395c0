#include <gtest/gtest.h>

#include <cmath>

#include "ReferenceValues.h"
#include "filters/FilterBlock.h"
#include "filters/ParametricBand.h"
#include "filters/Response.h"

using namespace qubix::filters;

namespace qubix::test {
namespace {

double BlockMagnitude(const FilterBlock& b, double omega) {
  double m = 1.0;
  for (int i = 0; i < b.SectionCount(); ++i) m *= BiquadMagnitude(b.Section(i), omega);
  return m;
}

// A block with every parameter set, model and slope first (their rules apply on the way).
struct BlockSetup {
  FBModel model;
  FBSlope slope;
  std::int32_t freqHz, gainDb, sampleRateHz;
  float q, shelfS, allPassBandwidthHz;
};
FilterBlock BlockWith(const BlockSetup& s) {
  FilterBlock b;
  b.SetFilterBlockModel(s.model);
  b.SetFilterBlockSlope(s.slope);
  b.SetFilterBlockFreq(s.freqHz);
  b.SetFilterBlockGain(s.gainDb);
  b.SetFilterBlockSR(s.sampleRateHz);
  b.SetFilterBlockQF(s.q);
  b.SetFilterBlockShelfS(s.shelfS);
  b.SetFilterBlockAPB(s.allPassBandwidthHz);
  return b;
}

TEST(FilterBlock, NewBlockNeedsItsSlopeSet) {
  FilterBlock b;
  EXPECT_EQ(b.FBCalc(), fbcode::kLinkwitzLowSlope);
  b.SetFilterBlockAddr(40);
  b.SetFilterBlockModel(FBMLnkR_LPF);
  EXPECT_EQ(b.FilterBlockSlope(), FBSlope24);
  EXPECT_EQ(b.SectionCount(), 2);
  EXPECT_EQ(b.FilterBlockNextAddr(), 50);
  EXPECT_EQ(b.FBCalc(), fbcode::kOk);
}

TEST(FilterBlock, SlopeRules) {
  struct Case {
    FBModel model;
    FBSlope asked;
    FBSlope kept;
    int sections;
  };
  const Case cases[] = {
      {FBMLnkR_HPF, FBSlope48, FBSlope24, 2}, {FBMLnkR_LPF, FBSlope06, FBSlope24, 2},
      {FBMBess_LPF, FBSlope06, FBSlope12, 1}, {FBMBess_HPF, FBSlope06, FBSlope12, 1},
      {FBMBess_HPF, FBSlope36, FBSlope36, 3}, {FBMButt_LPF, FBSlope06, FBSlope06, 1},
      {FBMButt_HPF, FBSlope48, FBSlope48, 4}, {FBMPara, FBSlope48, FBSlope48, 1},
      {FBMAllp, FBSlope36, FBSlope36, 1},     {FBMShlv_LPF, FBSlope24, FBSlope24, 1},
      {FBMGeneric, FBSlope48, FBSlope48, 1},
  };
  for (const auto& c : cases) {
    for (bool modelFirst : {true, false}) {
      FilterBlock b;
      b.SetFilterBlockAddr(100);
      if (modelFirst) {
        b.SetFilterBlockModel(c.model);
        b.SetFilterBlockSlope(c.asked);
      } else {
        b.SetFilterBlockModel(FBMButt_LPF);  // a model that keeps any slope
        b.SetFilterBlockSlope(c.asked);
        b.SetFilterBlockModel(c.model);
      }
      SCOPED_TRACE(testing::Message() << ModelName(c.model) << " " << SlopeName(c.asked));
      EXPECT_EQ(b.FilterBlockSlope(), c.kept);
      EXPECT_EQ(b.SectionCount(), c.sections);
      EXPECT_EQ(b.FilterBlockNextAddr(), 100 + 5 * c.sections);
      EXPECT_TRUE(b.FBChanged);
    }
  }
}

TEST(FilterBlock, NoneAndInactiveOccupyNothing) {
  FilterBlock b;
  b.SetFilterBlockModel(FBMNone);
  EXPECT_EQ(b.SectionCount(), 0);
  EXPECT_EQ(b.FBCalc(), fbcode::kOk);
  EXPECT_EQ(b.SectionCount(), 0);

  FilterBlock c;
  c.SetFilterBlockModel(FBMButt_LPF);
  c.SetFilterBlockSlope(FBSlope36);
  c.SetFBActive(false);
  EXPECT_EQ(c.SectionCount(), 0);
  c.SetFBActive(true);
  EXPECT_EQ(c.SectionCount(), 0);  // only a model or slope change brings the sections back
  c.SetFilterBlockSlope(FBSlope36);
  EXPECT_EQ(c.SectionCount(), 3);
}

// Every model and allowed slope: success, the section count, and the shape that defines it.
TEST(FilterBlock, ShapesOfEveryModel) {
  const double wF = kTwoPi * 1000.0 / 48000.0;
  for (int m = 0; m < kFBModelCount; ++m) {
    for (int s = 0; s < kFBSlopeCount; ++s) {
      const auto model = static_cast<FBModel>(m);
      if (model == FBMGeneric || model == FBMNone) continue;
      FilterBlock b;
      b.SetFilterBlockModel(model);
      b.SetFilterBlockSlope(static_cast<FBSlope>(s));
      // A high shelf boost must sit high enough for its coefficients to fit the DSP.
      b.SetFilterBlockFreq(model == FBMShlv_HPF ? 8000 : 1000);
      b.SetFilterBlockGain(3);
      b.SetFilterBlockQF(1.4F);
      b.SetFilterBlockAPB(300);
      SCOPED_TRACE(testing::Message()
                   << ModelName(model) << " " << SlopeName(b.FilterBlockSlope()));
      ASSERT_EQ(b.FBCalc(), fbcode::kOk);
      const double dc = BlockMagnitude(b, 0.0), ny = BlockMagnitude(b, M_PI);
      switch (model) {
        case FBMLnkR_LPF:
        case FBMButt_LPF:
        case FBMBess_LPF:
          EXPECT_NEAR(dc, 1.0, 1e-12);
          EXPECT_NEAR(ny, 0.0, 1e-9);
          EXPECT_EQ(b.SectionCount(), std::max(1, b.FilterOrder() / 2));
          break;
        case FBMLnkR_HPF:
        case FBMButt_HPF:
        case FBMBess_HPF:
          EXPECT_NEAR(dc, 0.0, 1e-9);
          EXPECT_NEAR(ny, 1.0, 1e-12);
          EXPECT_EQ(b.SectionCount(), std::max(1, b.FilterOrder() / 2));
          break;
        case FBMShlv_LPF:
          EXPECT_NEAR(20 * std::log10(dc), 3.0, 1e-9);
          EXPECT_NEAR(ny, 1.0, 1e-12);
          break;
        case FBMShlv_HPF:
          EXPECT_NEAR(dc, 1.0, 1e-12);
          EXPECT_NEAR(20 * std::log10(ny), 3.0, 1e-9);
          break;
        case FBMPara:
          EXPECT_NEAR(20 * std::log10(BlockMagnitude(b, wF)), 3.0, 1e-9);
          break;
        case FBMAllp:
          for (double w : {0.0, 0.3, wF, 2.0, M_PI}) EXPECT_NEAR(BlockMagnitude(b, w), 1.0, 1e-12);
          break;
        default:
          break;
      }
    }
  }
}

// Every section of every model and slope against values worked out independently: signs, the
// section order of the Butterworth angles, the Bessel constants of each direction and the shelf
// slope term all show here, where the shapes above can hide them.
TEST(FilterBlock, SectionsMatchTheIndependentReference) {
  const std::vector<ReferenceBlock> blocks = LoadBlockReferenceValues();
  ASSERT_EQ(blocks.size(), 54u);
  for (const ReferenceBlock& r : blocks) {
    SCOPED_TRACE(testing::Message()
                 << r.model << " " << r.slope << " F=" << r.freqHz << " G=" << r.gainDb
                 << " Q=" << r.q << " S=" << r.shelfS << " B=" << r.allPassBandwidthHz);
    const auto model = ModelFromName(r.model);
    const auto slope = SlopeFromName(r.slope);
    ASSERT_TRUE(model && slope);
    FilterBlock b = BlockWith(
        {*model, *slope, r.freqHz, r.gainDb, r.sampleRateHz, r.q, r.shelfS, r.allPassBandwidthHz});
    ASSERT_EQ(b.FBCalc(), fbcode::kOk);
    ASSERT_EQ(b.SectionCount(), static_cast<int>(r.sections.size()));
    for (int i = 0; i < b.SectionCount(); ++i) {
      const BiquadCoefficients got = b.Section(i);
      const double values[] = {got.b0, got.b1, got.b2, got.a1, got.a2};
      const char* names[] = {"b0", "b1", "b2", "a1", "a2"};
      for (int k = 0; k < 5; ++k)
        EXPECT_NEAR(values[k], r.sections[static_cast<std::size_t>(i)][static_cast<std::size_t>(k)],
                    1e-13)
            << "section " << i << " " << names[k];
    }
  }
}

TEST(FilterBlock, SecondOrderButterworth) {
  FilterBlock b;
  b.SetFilterBlockModel(FBMButt_LPF);
  b.SetFilterBlockSlope(FBSlope12);
  ASSERT_EQ(b.FBCalc(), fbcode::kOk);
  const auto s = b.Section(0);
  EXPECT_NEAR(s.b0 + s.b1 + s.b2, 1.0 + s.a1 + s.a2, 1e-15);
  // d = √2, no pre-warping: β and γ straight from ω = 2π·1000/48000.
  const double w = kTwoPi * 1000.0 / 48000.0;
  const double beta = 0.5 * (1 - std::sqrt(0.5) * std::sin(w)) / (1 + std::sqrt(0.5) * std::sin(w));
  EXPECT_NEAR(s.a2, 2 * beta, 1e-15);
  EXPECT_NEAR(s.a1, -2 * (0.5 + beta) * std::cos(w), 1e-15);
  EXPECT_EQ(b.Section(1), kFlatBiquad);
}

TEST(FilterBlock, LinkwitzIsTwoEqualSections) {
  FilterBlock b;
  b.SetFilterBlockModel(FBMLnkR_HPF);
  ASSERT_EQ(b.FBCalc(), fbcode::kOk);
  EXPECT_EQ(b.Section(0), b.Section(1));
  EXPECT_NEAR(BlockMagnitude(b, kTwoPi * 1000.0 / 48000.0), 0.5, 0.02);  // −6 dB near F
}

TEST(FilterBlock, ParametricSharesTheBandMaths) {
  FilterBlock b;
  b.SetFilterBlockModel(FBMPara);
  b.SetFilterBlockFreq(1000);
  b.SetFilterBlockGain(6);
  b.SetFilterBlockQF(1.4F);
  ASSERT_EQ(b.FBCalc(), fbcode::kOk);
  ParametricBand band;
  ASSERT_EQ(band.FBCalc(1000, 6, 1.4F, 48000), kFilterOk);
  EXPECT_EQ(b.Section(0), band.Coefficients());
}

TEST(FilterBlock, GenericChecksHostSectionInOrder) {
  struct Case {
    BiquadCoefficients c;
    int code;
  };
  const Case cases[] = {
      {{1.0, 2.0, 0.0, 0.0, 0.0}, fbcode::kGenericB1},
      {{1.0, 0.0, -2.0, 0.0, 0.0}, fbcode::kGenericB2},
      {{2.5, 0.0, 0.0, 0.0, 0.0}, fbcode::kGenericB0},
      {{1.0, 0.0, 0.0, 0.0, 2.0}, fbcode::kGenericA2},
      {{1.0, 0.0, 0.0, -3.0, 0.0}, fbcode::kGenericA1},
      {{5.0, 5.0, 5.0, 5.0, 5.0}, fbcode::kGenericB2},  // b2 is checked first
      {{0.5, 5.0, 0.0, 5.0, 5.0}, fbcode::kGenericB1},
      {{0.5, 0.1, 0.2, 0.3, 0.4}, fbcode::kOk},
  };
  for (const auto& c : cases) {
    FilterBlock b;
    b.SetFilterBlockModel(FBMGeneric);
    b.SetSection(0, c.c);
    b.SetSection(2, {0.3, 0.3, 0.3, 0.3, 0.3});
    EXPECT_EQ(b.FBCalc(), c.code);
    EXPECT_EQ(b.Section(0), c.c);          // the host's section is kept
    EXPECT_EQ(b.Section(2), kFlatBiquad);  // the others are cleared
    EXPECT_EQ(b.SectionCount(), 1);
  }
}

// Every failure code the setters leave reachable. A rate of 0 fails every computation without
// dividing by it; F far above Nyquist fails on the coefficients themselves.
TEST(FilterBlock, FailureCodes) {
  struct Case {
    FBModel model;
    FBSlope slope;
    std::int32_t freqHz, gainDb, sampleRateHz;
    float q, s;
    int code;
  };
  const Case cases[] = {
      {FBMLnkR_LPF, FBSlope24, 36000, 0, 48000, 0.5F, 0.5F, fbcode::kLinkwitzLowFailed},
      {FBMLnkR_LPF, FBSlope24, 1000, 0, 0, 0.5F, 0.5F, fbcode::kLinkwitzLowFailed},
      {FBMButt_LPF, FBSlope12, 36000, 0, 48000, 0.5F, 0.5F, fbcode::kButterworthLowFailed},
      {FBMButt_LPF, FBSlope06, 1000, 0, -48000, 0.5F, 0.5F, fbcode::kButterworthLowFailed},
      {FBMBess_LPF, FBSlope12, -15000, 0, 48000, 0.5F, 0.5F, fbcode::kBesselLowFailed},
      {FBMBess_LPF, FBSlope48, 1000, 0, 0, 0.5F, 0.5F, fbcode::kBesselLowFailed},
      {FBMShlv_LPF, FBSlope06, 1000, 6, 0, 0.5F, 0.5F, fbcode::kLowShelfFailed},
      {FBMShlv_LPF, FBSlope06, 1000, 6, 48000, 0.5F, 0.0F, fbcode::kLowShelfFailed},
      {FBMShlv_LPF, FBSlope06, 1000, 6, 48000, 0.5F, -1.0F, fbcode::kLowShelfFailed},
      {FBMLnkR_HPF, FBSlope24, 36000, 0, 48000, 0.5F, 0.5F, fbcode::kLinkwitzHighFailed},
      {FBMButt_HPF, FBSlope36, 36000, 0, 48000, 0.5F, 0.5F, fbcode::kButterworthHighFailed},
      {FBMBess_HPF, FBSlope24, 1000, 0, 0, 0.5F, 0.5F, fbcode::kBesselHighFailed},
      {FBMShlv_HPF, FBSlope06, 1000, 6, 0, 0.5F, 0.5F, fbcode::kHighShelfFailed},
      {FBMShlv_HPF, FBSlope06, 20000, 40, 48000, 0.5F, 0.5F, fbcode::kHighShelfFailed},
      {FBMPara, FBSlope06, 5000, 12, 48000, 0.2F, 0.5F, fbcode::kParametricFailed},
      {FBMPara, FBSlope06, 1000, 6, 0, 1.4F, 0.5F, fbcode::kParametricFailed},
      {FBMAllp, FBSlope06, 1000, 0, 0, 0.5F, 0.5F, fbcode::kAllPassFailed},
      {FBMAllp, FBSlope06, 1000, 0, 48000, 0.5F, 0.5F,
       fbcode::kAllPassFailed},  // bandwidth 36 kHz: tan ≈ −1, pole on the circle
  };
  for (const auto& c : cases) {
    FilterBlock b = BlockWith({c.model, c.slope, c.freqHz, c.gainDb, c.sampleRateHz, c.q, c.s,
                               c.model == FBMAllp && c.sampleRateHz > 0 ? 36000.0F : 300.0F});
    EXPECT_EQ(b.FBCalc(), c.code) << ModelName(c.model) << " F=" << c.freqHz
                                  << " SR=" << c.sampleRateHz;
  }
}

TEST(FilterBlock, NamesRoundTrip) {
  for (int m = 0; m < kFBModelCount; ++m)
    EXPECT_EQ(ModelFromName(ModelName(static_cast<FBModel>(m))), static_cast<FBModel>(m));
  for (int s = 0; s < kFBSlopeCount; ++s)
    EXPECT_EQ(SlopeFromName(SlopeName(static_cast<FBSlope>(s))), static_cast<FBSlope>(s));
  EXPECT_EQ(ModelFromName("FBMButt_LPF"), FBMButt_LPF);
  EXPECT_FALSE(ModelFromName("fbmbutt_lpf").has_value());
  EXPECT_FALSE(SlopeFromName("FBSlope18").has_value());
}

}  // namespace
}  // namespace qubix::test
