// Opening the editor from a slot: what the machine reports becomes what the editor's controls
// show, without anything being sent back.
#include <gtest/gtest.h>

#include "sim/SimProcessor.h"
#include "support/CaseNames.h"
#include "support/EditorRig.h"

namespace qubix::test {
using namespace qubix::editor;

namespace {

struct Reported {
  std::uint8_t gainA, gainB, atten12, atten34;
  std::array<std::uint8_t, 4> channelLevel;
  std::string gainTextA, gainTextB;
  std::array<int, 2> knobPosition;
  std::array<double, 2> knobValue;
  std::array<bool, 4> muted;
};

class EditorOpening : public test::EditorRig, public ::testing::WithParamInterface<Reported> {};

TEST_P(EditorOpening, ControlsShowWhatTheMachineReports) {
  const Reported& r = GetParam();
  sim::SimProcessor& machine = rig.processor("H000000010001");
  machine.live.gainA = r.gainA;
  machine.live.gainB = r.gainB;
  machine.live.atten12 = r.atten12;
  machine.live.atten34 = r.atten34;
  machine.channelLevel = r.channelLevel;
  state.OpenEditorForSlot(0);
  EXPECT_EQ(state.gainText()[0], r.gainTextA);
  EXPECT_EQ(state.gainText()[1], r.gainTextB);
  EXPECT_EQ(state.knobPosition(), r.knobPosition);
  EXPECT_EQ(state.knobValue(), r.knobValue);
  EXPECT_EQ(state.muteState(), r.muted);
  EXPECT_FALSE(state.editorLoading());
  // Filling the controls sends no gain, attenuation, delay or level frame.
  for (const char letter : {'G', 'V', 'L', 'g'})
    EXPECT_EQ(pc().find(letter), std::string::npos) << letter;
}

INSTANTIATE_TEST_SUITE_P(Codes, EditorOpening,
                         ::testing::Values(Reported{180,
                                                    132,
                                                    255,
                                                    191,
                                                    {255, 255, 255, 255},
                                                    "0",
                                                    "-24",
                                                    {64, 0},
                                                    {0.0, -32.0},
                                                    {false, false, false, false}},
                                           Reported{204,
                                                    173,
                                                    254,
                                                    231,
                                                    {255, 255, 0, 255},
                                                    "12",
                                                    "-3.5",
                                                    {63, 40},
                                                    {-0.5, -12.0},
                                                    {false, false, true, false}},
                                           Reported{84,
                                                    181,
                                                    191,
                                                    255,
                                                    {0, 200, 255, 0},
                                                    "-48",
                                                    "0.5",
                                                    {0, 64},
                                                    {-32.0, 0.0},
                                                    {true, false, false, true}}),
                         [](const ::testing::TestParamInfo<Reported>& info) {
                           const Reported& r = info.param;
                           return "gains_" + std::to_string(r.gainA) + "_" +
                                  std::to_string(r.gainB) + "_attenuations_" +
                                  std::to_string(r.atten12) + "_" + std::to_string(r.atten34);
                         });

}  // namespace
}  // namespace qubix::test
