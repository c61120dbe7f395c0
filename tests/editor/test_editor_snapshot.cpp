// Values taken before a change and put back afterwards: the processor runs again what the editor
// shows, whichever control changed and whichever way the values go back.
#include <gtest/gtest.h>

#include <functional>

#include "editor/EditorSnapshot.h"
#include "editor/UserPresets.h"
#include "support/EditorRig.h"

namespace qubix::test {
namespace {

struct Change {
  const char* name;
  // The editor, band 5's strip and the user preset operations.
  std::function<void(editor::EditorState&, editor::BandModel&, editor::UserPresets&)> act;
  editor::RestoreWay way;
};

class Snapshot : public EditorRig, public ::testing::WithParamInterface<Change> {};

TEST_P(Snapshot, RestoringPutsTheProcessorBackWithTheEditor) {
  editor::UserPresets presets(state);
  sim::SimProcessor& machine = rig.processor("H000000010001");
  sim::Settings stored = machine.live;
  stored.ampLevel = 201;
  stored.gainA = 170;
  machine.locations[2].records[10] = sim::SettingsRecord(stored);
  open(0);
  state.ToggleMute(1);  // a muted channel whose level must not come back with another code
  const editor::EditorValues before = editor::EditorValues::Of(state);
  const sim::Settings live = machine.live;
  const auto levels = machine.channelLevel;
  const auto coefficients = machine.coefficients;
  GetParam().act(state, strip(4), presets);
  ASSERT_NE(editor::EditorValues::Of(state), before);
  editor::RestoreEditorValues(state, before, GetParam().way);
  EXPECT_EQ(editor::EditorValues::Of(state), before);
  EXPECT_EQ(machine.live, live);
  EXPECT_EQ(machine.channelLevel, levels);
  EXPECT_EQ(machine.coefficients, coefficients);
}

const Change kChanges[] = {
    {"AmpLevel", [](editor::EditorState& s, auto&, auto&) { s.SetAmpLevel(230); },
     editor::RestoreWay::Controls},
    {"MuteAndGain",
     [](editor::EditorState& s, auto&, auto&) {
       s.ToggleMute(2);
       s.SetGainUpDown(0, -7);
     },
     editor::RestoreWay::Controls},
    {"Band", [](auto&, editor::BandModel& band5, auto&) { band5.SetGPotPos(-6.0F); },
     editor::RestoreWay::Controls},
    {"Recall",
     [](auto&, auto&, editor::UserPresets& p) { ASSERT_TRUE(p.RecallFromLocation(2).ok()); },
     editor::RestoreWay::AsPresetLoad},
    {"PresetLoadWithAnotherLevel",
     [](auto&, auto&, editor::UserPresets& p) {
       editor::UserPresetRecord rec = p.BuildRecord();
       rec.muted = {0, 0, 1, 0};
       rec.ampLevelCode = 190;
       rec.gainDb[6] = 4.5F;
       ASSERT_TRUE(p.ApplyRecord(rec).ok);
     },
     editor::RestoreWay::AsPresetLoad},
};

INSTANTIATE_TEST_SUITE_P(Changes, Snapshot, ::testing::ValuesIn(kChanges),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qubix::test
