#include <gtest/gtest.h>

#include "editor/LevelMeter.h"
#include "support/CaseNames.h"

namespace qubix::test {
using namespace qubix::editor;

namespace {

struct MeterCase {
  std::uint16_t reported;
  bool input;
  MeterSections expected;
};

class Meters : public ::testing::TestWithParam<MeterCase> {};

TEST_P(Meters, SectionsFromReportedValue) {
  EXPECT_EQ(MeterFor(GetParam().reported, GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Meters,
    ::testing::Values(MeterCase{0, false, {24, 0, 0}}, MeterCase{65535, false, {75, 6, 13}},
                      MeterCase{5623, false, {75, 0, 0}}, MeterCase{5622, false, {74, 0, 0}},
                      MeterCase{100, false, {40, 0, 0}}, MeterCase{5623, true, {75, 6, 0}},
                      MeterCase{0, true, {24, 0, 0}}, MeterCase{2818, true, {75, 0, 0}},
                      MeterCase{2817, true, {74, 0, 0}}, MeterCase{65535, true, {75, 6, 13}}),
    [](const ::testing::TestParamInfo<MeterCase>& info) {
      return std::to_string(info.param.reported) + (info.param.input ? "_input" : "_output");
    });

TEST(MeterLevelDb, Formula) {
  EXPECT_NEAR(MeterLevel(100, false), 40.0864, 1e-4);
  EXPECT_NEAR(MeterLevel(5623, true), 81.0009, 1e-4);
  EXPECT_NEAR(MeterLevel(65535, false), 96.3296, 1e-4);
}

}  // namespace
}  // namespace qubix::test
