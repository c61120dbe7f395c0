#include <gtest/gtest.h>

#include "editor/AmpCalculator.h"
#include "support/CaseNames.h"

namespace qubix::test {
using namespace qubix::editor;

namespace {

struct AmpCase {
  const char* name;
  int mode;
  double powerW;
  int gainIndex;
  double sensV;
  double trimRaw;  // unrounded trim, to 1e-3
  float trim;
  int levelCode;
};

class AmpCases : public ::testing::TestWithParam<AmpCase> {};

TEST_P(AmpCases, TrimAndLevelCode) {
  const auto& c = GetParam();
  const auto r = CalcPot(c.mode, c.powerW, c.gainIndex, c.sensV);
  EXPECT_NEAR(r.trimRaw, c.trimRaw, 1e-3);
  EXPECT_EQ(r.AmpTrimDb, c.trim);
  EXPECT_EQ(AmpLevelCodeFromTrim(r.AmpTrimDb), c.levelCode);
}

INSTANTIATE_TEST_SUITE_P(
    Worked, AmpCases,
    ::testing::Values(AmpCase{"defaults", 0, 1499, 18, 0.975, -1.99852, -2.0f, 251},
                      AmpCase{"p1499_g38", 1, 1499, 18, 0, -2.0, -2.0f, 251},
                      AmpCase{"p9000_g40", 1, 9000, 20, 0, -4.0, -4.0f, 247},
                      AmpCase{"p9000_g37", 1, 9000, 17, 0, -1.0, -1.0f, 253},
                      AmpCase{"p9000_g33", 1, 9000, 13, 0, 3.0, 3.0f, 255},
                      AmpCase{"p9000_s0385", 0, 9000, 18, 0.385, -17.854, -18.0f, 219},
                      AmpCase{"p500_s27", 0, 500, 18, 2.7, 11.617, 10.5f, 255},
                      AmpCase{"p1000_s1", 0, 1000, 18, 1.0, -0.0206, 0.0f, 255}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AmpCalc, DefaultsIntermediateValues) {
  const auto r = CalcPot(0, 1499, 18, 0.975);
  EXPECT_NEAR(r.gainDb, 37.9985, 1e-4);
  EXPECT_NEAR(r.sensDbu, 2.00527, 1e-4);
  EXPECT_NEAR(r.outDbu, 40.0038, 1e-4);
  EXPECT_EQ(r.edit3, "38");
  EXPECT_EQ(CalcPot(1, 1499, 18, 0).edit3, "0.97483");
}

struct RoundCase {
  float raw, rounded;
};
class Rounding : public ::testing::TestWithParam<RoundCase> {};
TEST_P(Rounding, HalfDbAwayFromZeroAtQuarters) {
  EXPECT_EQ(RoundTrimToHalfDb(GetParam().raw), GetParam().rounded);
}
INSTANTIATE_TEST_SUITE_P(Edges, Rounding,
                         ::testing::Values(RoundCase{-2.24f, -2.0f}, RoundCase{-2.25f, -2.5f},
                                           RoundCase{-2.74f, -2.5f}, RoundCase{-2.75f, -3.0f},
                                           RoundCase{-0.2f, 0.0f}, RoundCase{-0.99f, -1.0f},
                                           RoundCase{1.25f, 0.5f}),
                         [](const ::testing::TestParamInfo<RoundCase>& info) {
                           return qubix::test::NumberName(info.param.raw) + "_to_" +
                                  qubix::test::NumberName(info.param.rounded);
                         });

TEST(AmpLevel, TruncatesBeforeDoubling) {
  EXPECT_EQ(AmpLevelCodeFromTrim(-2.0f), 251);
  EXPECT_EQ(AmpLevelCodeFromTrim(-3.5f), 249);
  EXPECT_EQ(AmpLevelCodeFromTrim(0.0f), 255);
  EXPECT_EQ(AmpLevelCodeFromTrim(10.5f), 255);
}

TEST(AmpDialog, AcceptClampsEntriesBeforeComputing) {
  AmpCalculator calc;
  calc.powerText = "20000";
  calc.sensText = "5";
  ASSERT_FALSE(calc.Accept());
  EXPECT_EQ(calc.powerText, "9000");
  EXPECT_EQ(calc.sensText, "2.7");
  EXPECT_EQ(calc.AmpTrimDb, CalcPot(0, 9000, 18, 2.7).AmpTrimDb);

  calc.powerText = "10";
  calc.sensText = "0.1";
  ASSERT_FALSE(calc.Accept());
  EXPECT_EQ(calc.powerText, "500");
  EXPECT_EQ(calc.sensText, "0.385");

  calc.powerText = "1499";
  calc.sensText = " 0.975 ";
  ASSERT_FALSE(calc.Accept());
  EXPECT_EQ(calc.sensText, " 0.975 ");  // in range: left as typed
  EXPECT_EQ(calc.AmpTrimDb, -2.0f);
}

TEST(AmpDialog, NonNumericEntryIsRefusedAndChangesNothing) {
  AmpCalculator calc;
  calc.powerText = "1499";
  ASSERT_FALSE(calc.Accept());
  ASSERT_EQ(calc.AmpTrimDb, -2.0f);
  for (const char* bad : {"12a", "", "nan", "1e999", "--3"}) {
    calc.powerText = bad;
    const auto message = calc.Accept();
    ASSERT_TRUE(message) << bad;
    EXPECT_EQ(*message, "'" + std::string(bad) + "' is not a valid number.");
    EXPECT_EQ(calc.powerText, bad);
    EXPECT_EQ(calc.AmpTrimDb, -2.0f);
  }
}

TEST(AmpDialog, GainListTexts) {
  EXPECT_EQ(AmpGainEntryText(0), "20 db");
  EXPECT_EQ(AmpGainEntryText(7), "27db");
  EXPECT_EQ(AmpGainEntryText(18), "38 db");
  EXPECT_EQ(AmpGainEntryText(20), "40 db");
}

}  // namespace
}  // namespace qubix::test
