#include <gtest/gtest.h>

#include "support/PresetRig.h"

namespace qubix::test {
using namespace qubix::network;
namespace {

using test::EditorOnRig;
using test::PresetRig;
using test::RecordingPresetView;

TEST(HardwarePreset, FramesForEveryPreset) {
  const char* expected[] = {"r0000", "r01ff", "r02fe", "r03fd", "r04fc", "r05fb", "r06fa", "r07f9"};
  for (int p = 0; p < 8; ++p) EXPECT_EQ(HardwarePresetFrame(p), expected[p]);
}

TEST(HardwarePreset, CloseSendsNothingAndLeavesTheSlot) {
  PresetRig rig;
  RecordingPresetView view;
  rig.presets.setView(&view);
  view.answer = kPresetDialogClose;
  EXPECT_EQ(rig.presets.ChangeHardwarePreset(1), PresetChangeOutcome::Closed);
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_EQ(rig.presets.presetSlot, 1);
  EXPECT_EQ(view.events, (std::vector<std::string>{"ask 1"}));
  EXPECT_EQ(rig.network.slotStates()[1].record.hardwarePreset, 3);
}

TEST(HardwarePreset, PickingConfigurationOneSendsR0000AndShowsWhatTheMachineReports) {
  PresetRig rig;
  RecordingPresetView view;
  rig.presets.setView(&view);
  view.answer = 1;
  const double start = rig.sim->nowMs();
  EXPECT_EQ(rig.presets.ChangeHardwarePreset(1), PresetChangeOutcome::Done);
  // Select, begin, the preset command, value 24 (no Extra preset: no name read), value 18, end,
  // release.
  EXPECT_EQ(rig.pcBytes(), "H000000010002fdT01ffr0000I18e8I12eeT02feR");
  EXPECT_EQ(rig.processor("H000000010002").hardwarePreset, 0);
  EXPECT_EQ(rig.network.slotStates()[1].record.hardwarePreset, 0);
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
  // The switch itself and two waits for 4 s of silence; nothing else but the bytes on the wire.
  EXPECT_NEAR(rig.sim->nowMs() - start, 3000.0 + 2 * 4000.0, 10.0);
  EXPECT_EQ(view.events,
            (std::vector<std::string>{"ask 1", "wait 1", "show 1 TQ40+TQS2412 A Flw", "stop 1"}));
  ASSERT_TRUE(view.lastDisplay && view.lastDisplay->picture);
  EXPECT_EQ(view.lastDisplay->picture->filename(), "Controller00.jpg");
}

// The name is shown as the machine sent it; the picture comes from the presets folder only for
// a name that cannot reach outside it, otherwise the fallback picture stands.
TEST(HardwarePreset, ExtraPresetNameAndPictureComeFromTheMachine) {
  const struct {
    const char* name;
    const char* picture;  // under the data directory, "" for none of its own
    const char* shown;
  } cases[] = {
      {"MYPRESET          ", "presets/MYPRESET.jpg", "extrapset.jpg"},
      {"../../../etc/x    ", "", "extrapset.jpg"},
  };
  for (const auto& c : cases) {
    PresetRig rig;
    RecordingPresetView view;
    rig.presets.setView(&view);
    auto& machine = rig.processor("H000000010001");
    machine.extraPresent = true;
    machine.extraName = c.name;
    view.answer = 8;
    EXPECT_EQ(rig.presets.ChangeHardwarePreset(0), PresetChangeOutcome::Done);
    EXPECT_EQ(rig.pcBytes(), "H000000010001feT01ffr07f9I18e8I19e7I12eeT02feR");
    const SlotState& slot = rig.network.slotStates()[0];
    EXPECT_EQ(slot.record.hardwarePreset, 7);
    EXPECT_EQ(slot.extraPresetName, c.name);
    EXPECT_EQ(slot.extraPresetPicture,
              *c.picture ? (rig.data.path() / c.picture).string() : std::string())
        << c.name;
    EXPECT_EQ(view.events[2], std::string("show 0 ") + c.name);
    ASSERT_TRUE(view.lastDisplay && view.lastDisplay->picture);
    EXPECT_EQ(*view.lastDisplay->picture, rig.data.path() / c.shown) << c.name;
  }
}

TEST(HardwarePreset, UnacknowledgedPresetRestoresSlotTimeoutAndSelection) {
  PresetRig rig;
  RecordingPresetView view;
  rig.presets.setView(&view);
  rig.loseRepliesTo("r03fd");  // the acknowledgement never comes
  view.answer = 4;
  EXPECT_EQ(rig.presets.ChangeHardwarePreset(0), PresetChangeOutcome::NotAcknowledged);
  // Nothing is read back; the machine the change selected is handed back.
  EXPECT_EQ(rig.pcBytes(), "H000000010001feT01ffr03fdT02feR");
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
  EXPECT_EQ(rig.network.slotStates()[0].record.hardwarePreset, 0);
  EXPECT_EQ(view.events,
            (std::vector<std::string>{"ask 0", "wait 0", "stop 0", "show 0 TQ40+TQS2412 A Flw"}));
}

TEST(HardwarePreset, UnacknowledgedPresetKeepsTheEditorsMachineSelected) {
  PresetRig rig;
  RecordingPresetView view;
  rig.presets.setView(&view);
  ASSERT_TRUE(rig.protocolBus.SelectExchange("H000000010002fd"));
  rig.clear();
  rig.loseRepliesTo("r0000");
  view.answer = 1;
  EXPECT_EQ(rig.presets.ChangeHardwarePreset(1), PresetChangeOutcome::NotAcknowledged);
  EXPECT_EQ(rig.pcBytes(), "r0000");
  EXPECT_TRUE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
}

TEST(HardwarePreset, SilentMachineFailsTheSelectAndRestoresTheSlot) {
  PresetRig rig;
  RecordingPresetView view;
  rig.presets.setView(&view);
  rig.processor("H000000010002").faults.silent = true;
  view.answer = 2;
  EXPECT_EQ(rig.presets.ChangeHardwarePreset(1), PresetChangeOutcome::SelectFailed);
  EXPECT_EQ(rig.pcBytes(), "H000000010002fd");
  EXPECT_EQ(rig.frontend.statusText, "Net Connection Fail");
  EXPECT_FALSE(rig.frontend.busy);
  EXPECT_EQ(view.events,
            (std::vector<std::string>{"ask 1", "wait 1", "stop 1", "show 1 TQ40 4Ch in A"}));
}

// An earlier operation's reply that came after its time-out is still waiting: it must not be
// read as the answer to the select frame or to the preset command.
TEST(HardwarePreset, LateReplyOfAnEarlierOperationIsDrainedFirst) {
  PresetRig rig;
  ASSERT_TRUE(
      test::LeaveALateReply(rig.protocolBus, rig.processor("H000000010002"), "H000000010002fd"));
  rig.clear();
  EXPECT_EQ(rig.presets.ApplyHardwarePreset(1, 5), PresetChangeOutcome::Done);
  EXPECT_EQ(rig.pcBytes(), "H000000010002fdT01ffr05fbI18e8I12eeT02feR");
  EXPECT_EQ(rig.network.slotStates()[1].record.hardwarePreset, 5);
}

// The processor switched, but its report of the new preset was lost: the change is not
// confirmed, the slot does not claim the old preset any more, and the status line says so even
// when the editor takes its machine back afterwards.
TEST(HardwarePreset, FailedReadOfValue18IsNotConfirmed) {
  for (const bool editorOpen : {false, true}) {
    SCOPED_TRACE(editorOpen ? "editor open on the slot" : "no editor");
    PresetRig rig;
    EditorOnRig editor(rig);
    RecordingPresetView view;
    rig.presets.setView(&view);
    if (editorOpen) editor.state.OpenEditorForSlot(1);
    rig.clear();
    rig.loseRepliesTo("I12ee");
    view.answer = 6;
    EXPECT_EQ(rig.presets.ChangeHardwarePreset(1), PresetChangeOutcome::NotConfirmed);
    EXPECT_EQ(rig.processor("H000000010002").hardwarePreset, 5);
    if (!editorOpen) {
      EXPECT_EQ(rig.pcBytes(), "H000000010002fdT01ffr05fbI18e8I12eeT02feR");
      EXPECT_FALSE(rig.protocolBus.MachineSelected);
    }
    EXPECT_EQ(view.events[2], "show 1 Unknown");
    EXPECT_EQ(rig.frontend.statusText, " Not Confirmed");
    EXPECT_EQ(rig.frontend.statusColour, link::kRed);
  }
}

// The editor holds slot 1's machine. A change for slot 2 first ends the editor's work on its
// machine as opening another slot would, then selects slot 2's machine; a change for slot 1
// addresses the machine already selected and hands it back to the editor, whose next band edit
// reaches it.
TEST(HardwarePreset, ChangeBesideTheEditorGoesToTheSlotsOwnMachine) {
  const struct {
    int slot;
    const char* sent;
    bool editorStaysOpen;
  } cases[] = {
      {1, "T02feRH000000010002fdT01ffr0000I18e8I12eeT02feR", false},
      {0, "r0000I18e8I12eeT02feR", true},
  };
  for (const auto& c : cases) {
    PresetRig rig;
    EditorOnRig editor(rig);
    RecordingPresetView view;
    rig.presets.setView(&view);
    rig.processor("H000000010001").hardwarePreset = 2;
    rig.network.slotAt(0).record.hardwarePreset = 2;
    editor.state.OpenEditorForSlot(0);
    ASSERT_EQ(editor.state.selectedMachineId(), "H000000010001");
    editor.bands[2]->SetGPotPos(4.5F);
    rig.clear();
    view.answer = 1;
    EXPECT_EQ(rig.presets.ChangeHardwarePreset(c.slot), PresetChangeOutcome::Done);
    const std::string sent = rig.pcBytes();
    EXPECT_EQ(sent.substr(0, std::string(c.sent).size()), c.sent);
    const std::string target = c.slot == 0 ? "H000000010001" : "H000000010002";
    const std::string other = c.slot == 0 ? "H000000010002" : "H000000010001";
    EXPECT_EQ(rig.processor(target).hardwarePreset, 0);
    EXPECT_EQ(rig.processor(other).hardwarePreset, c.slot == 0 ? 3 : 2) << "untouched";
    EXPECT_EQ(rig.network.slotStates()[static_cast<std::size_t>(c.slot)].record.hardwarePreset, 0);
    EXPECT_EQ(editor.state.editorVisible(), c.editorStaysOpen);
    // The editor's own machine is selected again after the change, as on opening.
    EXPECT_EQ(rig.protocolBus.MachineSelected, c.editorStaysOpen);
    const std::string after = sent.substr(std::min(sent.size(), std::string(c.sent).size()));
    EXPECT_EQ(after.rfind("eR" + SlotSelectFrame("H000000010001") + "T01ff", 0) == 0,
              c.editorStaysOpen)
        << after;
    if (!c.editorStaysOpen) {
      EXPECT_FALSE(editor.state.polling().indicatorPollRunning());
      EXPECT_EQ(editor.state.selectedMachineId(), "");
      EXPECT_EQ(ReadEqFile(LastEditEqPath(rig.data.path(), "H000000010001")).record.gainDb[2], 4.5F)
          << "the machine left keeps what it runs";
    }
    if (c.editorStaysOpen) {
      EXPECT_EQ(editor.bands[2]->GPotPos(), 4.5F) << "the bands the operator left";
    }
    const int before = rig.processor("H000000010001").framesHandled['Q'];
    editor.bands[3]->SetGPotPos(3.0F);
    EXPECT_EQ(rig.processor("H000000010001").framesHandled['Q'] - before,
              c.editorStaysOpen ? 2 : 0);
  }
}

TEST(HardwarePreset, EditorMachineThatWillNotLetGoGetsNoChange) {
  PresetRig rig;
  EditorOnRig editor(rig);
  RecordingPresetView view;
  rig.presets.setView(&view);
  editor.state.OpenEditorForSlot(0);
  rig.clear();
  rig.sim->faults().shortWrite = true;  // the release never goes out whole
  view.answer = 2;
  EXPECT_EQ(rig.presets.ChangeHardwarePreset(1), PresetChangeOutcome::SelectFailed);
  // Only the cut ending of the editor's machine: no select, no preset command to anyone.
  EXPECT_EQ(rig.pcBytes(), "T02f");
  EXPECT_TRUE(rig.protocolBus.MachineSelected);
  EXPECT_TRUE(editor.state.editorVisible());
  EXPECT_EQ(editor.state.selectedMachineId(), "H000000010001");
}

}  // namespace
}  // namespace qubix::test

namespace qubix::test {
namespace {

// The adapter goes away while the processor switches (writes fail, the line stays silent): the
// change ends at the first failed write, with no further wait for silence, nothing written to
// the dead handle, and the link's failure as what the operator reads.
TEST(HardwarePreset, AnAdapterGoneDuringTheChangeEndsItThere) {
  PresetRig rig;
  double acknowledgedAt = 0;
  int writesAtAck = 0;
  rig.processor("H000000010001").faults.tamper = [&](char letter, const std::vector<std::uint8_t>&,
                                                     std::string&) {
    if (letter != 'r') return;
    rig.sim->faults().writeFails = true;
    acknowledgedAt = rig.sim->nowMs();
    writesAtAck = rig.sim->calls().write;
  };
  EXPECT_EQ(rig.presets.ApplyHardwarePreset(0, 4), PresetChangeOutcome::LinkLost);
  // One wait for the machine to fall silent (4 s), then the query that finds the adapter gone.
  EXPECT_LT(rig.sim->nowMs() - acknowledgedAt, 2 * kPresetSettleTimeoutMs);
  EXPECT_EQ(rig.frontend.statusText, "Connection Fail");
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
  // The query that failed is the last write: no release byte for the dead handle.
  EXPECT_EQ(rig.sim->calls().write, writesAtAck + 1);
}

// A line that never goes quiet while the processor settles: the change ends within the bound of
// its waits and is not reported as done.
TEST(HardwarePreset, ALineThatNeverGoesQuietFailsTheChange) {
  PresetRig rig;
  rig.processor("H000000010001").faults.tamper = [&](char letter, const auto&, std::string&) {
    if (letter == 'r') rig.bus->lineFaults.noiseEveryMs = 2.0;
  };
  const double start = rig.sim->nowMs();
  EXPECT_NE(rig.presets.ApplyHardwarePreset(0, 4), PresetChangeOutcome::Done);
  // Two waits for silence of at most four time-outs each, after the processor's own switch.
  EXPECT_LT(rig.sim->nowMs() - start, 2 * 4 * kPresetSettleTimeoutMs + kPresetAckTimeoutMs);
}

}  // namespace
}  // namespace qubix::test
