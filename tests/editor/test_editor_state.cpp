#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>

#include "editor/UserPresets.h"
#include "filters/Biquad.h"
#include "support/EditorRig.h"

namespace qubix::test {
namespace {

using editor::EditorState;
namespace frames = protocol::frames;

std::string Q(int address, const filters::BiquadCoefficients& c) {
  return frames::BandCoefficients(address, filters::SendingOrder(c));
}

std::size_t Count(const std::string& hay, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

// Every file of a directory with its bytes.
std::map<std::string, std::string> Files(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

using EditorBus = EditorRig;

TEST_F(EditorBus, OpeningSlotSelectsReadsAndFillsUnderLoading) {
  auto& b = rig.processor("H000000010002");
  b.live.gainA = 132;
  b.channelLevel[2] = 0;
  state.OpenEditorForSlot(1);
  const std::string sel = protocol::SelectFrame(*protocol::ParseIdentifier("H000000010002"));
  EXPECT_EQ(pc().substr(0, 2 + sel.size() + 5), "eR" + sel + "T01ff");
  EXPECT_EQ(pc().find('Q'), std::string::npos);  // filling sends nothing back
  EXPECT_EQ(pc().find('G'), std::string::npos);
  EXPECT_TRUE(state.editorVisible());
  EXPECT_TRUE(state.polling().indicatorPollRunning());
  EXPECT_FALSE(state.editorLoading());
  EXPECT_EQ(state.gainText()[0], "-24");
  EXPECT_EQ(state.gainUpDown()[0], -48);
  EXPECT_EQ(state.knobPosition()[1], 231 - 191);
  EXPECT_EQ(state.knobValue()[1], -12.0);
  EXPECT_EQ(state.delay()[0], 12);
  EXPECT_TRUE(state.muteState()[2]);
  EXPECT_FALSE(state.muteState()[0]);
  EXPECT_EQ(state.processorId(), "H000000010002");
  EXPECT_EQ(state.hwPresetName(), "HW 3");
  EXPECT_EQ(state.userPresetName(), "User Config 2");
  EXPECT_EQ(host.records[1].userPreset, 2);
  EXPECT_EQ(state.selectedMachineId(), "H000000010002");
}

TEST_F(EditorBus, OpeningSlot2WhileSlot1IsEditedClosesSlot1First) {
  host.records[0].userPreset = 0;
  open(0);
  strip(3).SetGPotPos(4.5F);
  rig.clearRecords();
  state.OpenEditorForSlot(1);
  const std::string sel2 = protocol::SelectFrame(*protocol::ParseIdentifier("H000000010002"));
  EXPECT_EQ(pc().substr(0, 5 + 1 + 2 + sel2.size()),
            "T02fe"
            "R"
            "eR" +
                sel2);
  // The machine left keeps what it runs in its last-edit file; its location files are untouched.
  const auto saved = network::ReadEqFile(network::LastEditEqPath(dir, "H000000010001"));
  ASSERT_EQ(saved.result, network::EqFileResult::Ok);
  EXPECT_EQ(saved.record.gainDb[3], 4.5F);
  EXPECT_FALSE(std::filesystem::exists(network::PresetEqPath(dir, "H000000010001", 0)));
  // Slot 2's machine has no files: its bands are the defaults.
  EXPECT_EQ(strip(3).GPotPos(), 0.0F);
  EXPECT_EQ(strip(0).FPotPos(), 32.0F);
  EXPECT_EQ(strip(0).QPotPos(), 3.0F);
}

TEST_F(EditorBus, UnansweredSelectionLeavesEditorClosedAndSendsNothingBack) {
  rig.processor("H000000010005").faults.silent = true;
  state.OpenEditorForSlot(2);
  EXPECT_FALSE(state.editorVisible());
  EXPECT_EQ(rig.frontend.statusText, "Net Connection Fail");
  EXPECT_EQ(pc().find("T01ff"), std::string::npos);
  EXPECT_FALSE(state.polling().levelWindowVisible());
}

TEST_F(EditorBus, GainMinus3Point5WithBAtZero) {
  open(0);
  state.SetGainText(0, "-3.5");
  EXPECT_EQ(pc().substr(0, 7), frames::InputGains(180, 173));
  EXPECT_EQ(state.gainUpDown()[0], -7);
  EXPECT_TRUE(state.polling().levelWindowVisible());
  EXPECT_TRUE(state.polling().levelRefreshRunning());
  EXPECT_FALSE(state.polling().indicatorPollRunning());
  EXPECT_EQ(rig.processor("H000000010001").live.gainA, 173);
}

TEST_F(EditorBus, UpDownArrowFormatsOneDecimalAndSends) {
  open(0);
  state.SetGainUpDown(1, -25);
  EXPECT_EQ(state.gainText()[1], "-12.5");
  EXPECT_EQ(pc().substr(0, 7), frames::InputGains(155, 180));
  state.SetGainUpDown(1, 0);
  EXPECT_EQ(state.gainText()[1], "0.0");
}

TEST_F(EditorBus, KnobsAtEnds) {
  open(0);
  state.SetKnobPosition(0, 64);
  state.SetKnobPosition(1, 0);
  EXPECT_EQ(Count(pc(), frames::OutputAttenuation(255, 255)), 1U);
  EXPECT_EQ(Count(pc(), frames::OutputAttenuation(255, 191)), 1U);
  EXPECT_EQ(state.knobValue()[0], 0.0);
  EXPECT_EQ(state.knobValue()[1], -32.0);
}

TEST_F(EditorBus, DelaysAtEnds) {
  open(0);
  state.SetDelay(0, 310);
  EXPECT_EQ(pc().substr(0, 11), frames::Delays(310, 0));
  EXPECT_EQ(pc().substr(1, 4), "0136");
  EXPECT_EQ(rig.processor("H000000010001").live.delay12, 310);
}

TEST_F(EditorBus, MuteCh3AndBackWithCurrentAmpLevel) {
  open(0);
  state.ToggleMute(2);
  EXPECT_EQ(pc(), frames::ChannelLevel(2, 0, 0));
  EXPECT_TRUE(state.muteState()[2]);
  rig.clearRecords();
  state.SetAmpLevelCode(251);
  state.ToggleMute(2);
  EXPECT_EQ(pc(), frames::ChannelLevel(2, 0, 251));
  EXPECT_EQ(rig.processor("H000000010001").channelLevel[2], 251);
}

TEST_F(EditorBus, FunctionKeysIgnoreCtrlAndAltButNotShift) {
  open(0);
  state.FunctionKeyReleased(2, /*ctrl=*/true, false);
  state.FunctionKeyReleased(2, false, /*alt=*/true);
  EXPECT_EQ(pc(), "");
  EXPECT_FALSE(state.muteState()[1]);
  state.FunctionKeyReleased(2, false, false);  // Shift does not reach the editor's decision
  EXPECT_EQ(pc(), frames::ChannelLevel(1, 1, 0));
  EXPECT_TRUE(state.muteState()[1]);
}

TEST_F(EditorBus, BandDragWritesOneQPairPerStep) {
  open(0);
  for (int step = 1; step <= 4; ++step) strip(3).SetGPotPos(0.25F * step);
  EXPECT_EQ(Count(pc(), "Q032e"), 4U);  // 814
  EXPECT_EQ(Count(pc(), "Q03a2"), 4U);  // 930
  filters::ParametricBand ref;
  ASSERT_EQ(ref.FBCalc(250, 1.0F, 2.0F, 48000), 0);  // band 4 as the defaults left it
  EXPECT_NE(pc().find(Q(814, ref.Coefficients())), std::string::npos);
  EXPECT_EQ(rig.bus->machineBytes(), std::string(8, 'O'));
  EXPECT_EQ(state.coefficientTable().rows[0][3], ref.Coefficients().b0);
  EXPECT_TRUE(state.polling().indicatorPollRunning());
}

TEST_F(EditorBus, BandChangeWhileLoadingComputesButSendsNothing) {
  open(0);
  const editor::EditorState::LoadingScope loading(state);
  strip(5).SetGPotPos(6.0F);
  EXPECT_EQ(pc(), "");
  EXPECT_NE(state.coefficientTable().rows[0][5], 1.0);
}

TEST_F(EditorBus, BandBeforeFirstOpeningDoesNothing) {
  strip(5).SetGPotPos(6.0F);
  EXPECT_EQ(pc(), "");
  EXPECT_EQ(state.coefficientTable().rows[0][5], 1.0);
}

TEST_F(EditorBus, FailingBandLightsOverflowAndKeepsLastGoodCurve) {
  open(0);
  strip(7).SetQPotPos(0.2F);
  strip(7).SetFPotPos(5000);
  strip(7).SetGPotPos(3.0F);
  const double goodB0 = state.coefficientTable().rows[0][7];
  const std::string lastPair = pc().substr(pc().size() - 2 * 37);
  rig.clearRecords();
  strip(7).SetGPotPos(12.0F);  // +12 dB at 5000 Hz with Q 0.2 does not fit the DSP
  EXPECT_TRUE(state.overflow());
  EXPECT_EQ(state.coefficientTable().rows[0][7], goodB0);
  // The last good band is written again, never the failed one.
  EXPECT_EQ(pc(), lastPair);
  strip(7).SetGPotPos(0.0F);
  EXPECT_FALSE(state.overflow());
  EXPECT_EQ(state.coefficientTable().rows[0][7], 1.0);
}

TEST_F(EditorBus, FlatTwiceRestoresEveryGainInCreationOrder) {
  open(0);
  for (int i = 0; i < 10; ++i) strip(i).SetGPotPos(static_cast<float>(i) - 4.5F);
  std::array<float, 10> freq{}, q{};
  for (int i = 0; i < 10; ++i) freq[i] = strip(i).FPotPos(), q[i] = strip(i).QPotPos();
  rig.clearRecords();
  const int eventsAtStart = rig.frontend.processEventsCalls;
  state.ToggleFlat();
  EXPECT_EQ(rig.frontend.processEventsCalls - eventsAtStart, 10);
  EXPECT_TRUE(state.flatMode());
  EXPECT_EQ(state.flatGainStash()[0], 9 - 4.5);  // band 10 first
  EXPECT_EQ(state.flatGainStash()[1], -4.5);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(strip(i).GPotPos(), 0.0F);
  // Band 10 is the first to go flat on the wire.
  EXPECT_EQ(pc().substr(0, 5), "Q034c");
  EXPECT_EQ(Count(pc(), "Q"), 20U);
  // A file written while flat carries the stash with band 10's gain first.
  ASSERT_TRUE(
      network::WriteEqFile(network::LastEditEqPath(dir, "H000000010001"), state.BuildEqRecord()));
  auto rec = network::ReadEqFile(network::LastEditEqPath(dir, "H000000010001")).record;
  EXPECT_EQ(rec.flatFlag, 1);
  EXPECT_EQ(rec.savedGainDb[0], 4.5F);
  // The window stays alive while the ten bands go back, one strip at a time.
  const int eventsBefore = rig.frontend.processEventsCalls;
  state.ToggleFlat();
  EXPECT_EQ(rig.frontend.processEventsCalls - eventsBefore, 10);
  EXPECT_FALSE(state.flatMode());
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(strip(i).GPotPos(), static_cast<float>(i) - 4.5F);
    EXPECT_EQ(strip(i).FPotPos(), freq[i]);
    EXPECT_EQ(strip(i).QPotPos(), q[i]);
  }
}

TEST_F(EditorBus, EqFileRecordTruncatesFrequencyAndRoundTripsThroughReopen) {
  open(0);
  strip(5).SetFPotPos(999.9F);
  strip(5).SetGPotPos(0.05F);
  strip(6).SetGPotPos(-3.0F);
  state.CloseEditor();  // " Close" stores the last-edit file
  const auto rec = network::ReadEqFile(network::LastEditEqPath(dir, "H000000010001")).record;
  EXPECT_EQ(rec.freqHz[5], 999);
  EXPECT_EQ(rec.gainDb[5], 0.0F);
  strip(6).SetGPotPos(0.0F);
  // No preset file: opening falls back to the last-edit file.
  open(0);
  EXPECT_EQ(strip(5).FPotPos(), 999.0F);
  EXPECT_EQ(strip(6).GPotPos(), -3.0F);
}

TEST_F(EditorBus, CloseStoresEndsAndReleases) {
  open(0);
  strip(1).SetGPotPos(1.5F);
  rig.clearRecords();
  host.listSel = 0;
  state.CloseEditor();
  EXPECT_EQ(pc(), "T02feR");
  EXPECT_TRUE(std::filesystem::exists(network::LastEditEqPath(dir, "H000000010001")));
  EXPECT_EQ(host.listSel, -1);
  EXPECT_FALSE(state.editorVisible());
  EXPECT_FALSE(state.polling().indicatorPollRunning());
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
}

TEST_F(EditorBus, CloseStoresUnderTheEditedMachineEvenAfterAnotherListClick) {
  open(0);
  strip(2).SetGPotPos(2.5F);
  host.listSel = 1;  // the operator clicked another machine in the main window's list
  state.CloseEditor();
  EXPECT_FALSE(std::filesystem::exists(network::LastEditEqPath(dir, "H000000010002")));
  EXPECT_EQ(network::ReadEqFile(network::LastEditEqPath(dir, "H000000010001")).record.gainDb[2],
            2.5F);
  EXPECT_EQ(state.selectedMachineId(), "");
}

TEST_F(EditorBus, SelectionLeftByAnotherOperationStoresNoBands) {
  rig.protocolBus.SelectExchange(host.selectFrame(2));  // e.g. a hardware preset change
  rig.clearRecords();
  state.OpenEditorForSlot(0);
  EXPECT_EQ(pc().substr(0, 6), "T02feR");
  EXPECT_TRUE(rig.frontend.boxes.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST_F(EditorBus, UnreadableEqFileShowsErrorAndKeepsBands) {
  std::filesystem::create_directories(network::LastEditEqPath(dir, "H000000010001"));
  strip(2).SetFPotPos(140);
  state.OpenEditorForSlot(0);
  ASSERT_EQ(rig.frontend.boxes.size(), 1U);
  EXPECT_EQ(rig.frontend.boxes[0].text,
            "Can't perform one of the following file operations: Open, Seek, Read, Close.");
  EXPECT_EQ(rig.frontend.boxes[0].caption, "File Error");
  EXPECT_EQ(rig.frontend.boxes[0].buttons, link::Buttons::OkCancel);
  EXPECT_EQ(strip(2).FPotPos(), 140.0F);
  EXPECT_TRUE(state.editorVisible());
}

TEST_F(EditorBus, CopyToAllWithOnlyTheEditedMachineWritesNoBands) {
  host.ids.resize(1);
  host.records.resize(1);
  open(0);
  strip(1).SetGPotPos(2.0F);
  rig.clearRecords();
  state.CopyBandsToAllMachines();
  EXPECT_EQ(Count(pc(), "Q"), 0U);
  EXPECT_TRUE(std::filesystem::exists(network::LastEditEqPath(dir, "H000000010001")));
  EXPECT_FALSE(std::filesystem::exists(network::PresetEqPath(dir, "H000000010001", 0)));
  EXPECT_TRUE(state.graphRedrawEnabled());
  EXPECT_EQ(rig.frontend.cursorChanges, (std::vector<bool>{true, false}));
}

// Each machine's last-edit file takes the bands it now runs; what its locations hold (and so
// their files) has not changed.
TEST_F(EditorBus, CopyToAllWritesEveryOtherMachineAndReselects) {
  rig.processor("H000000010001").userPreset = 4;
  open(0);
  ASSERT_EQ(host.records[0].userPreset, 4);
  host.records[1].userPreset = 3;
  host.records[2].userPreset = 6;
  strip(4).SetGPotPos(5.0F);
  rig.clearRecords();
  state.CopyBandsToAllMachines();
  for (const char* other : {"H000000010002", "H000000010005"}) {
    auto& p = rig.processor(other);
    EXPECT_EQ(p.framesHandled['Q'], 20) << other;
    EXPECT_EQ(p.coefficients, rig.processor("H000000010001").coefficients) << other;
  }
  std::vector<std::string> stored;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    stored.push_back(entry.path().filename().string());
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, (std::vector<std::string>{"H000000010001.dat", "H000000010002.dat",
                                              "H000000010005.dat"}));
  for (const char* name : {"H000000010001.dat", "H000000010002.dat", "H000000010005.dat"}) {
    const auto saved = network::ReadEqFile(dir / name);
    ASSERT_EQ(saved.result, network::EqFileResult::Ok) << name;
    EXPECT_EQ(saved.record.gainDb[4], 5.0F) << name;
  }
  EXPECT_EQ(host.current, 0);
  EXPECT_EQ(host.listSel, 0);
  EXPECT_TRUE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(state.selectedMachineId(), "H000000010001");
  EXPECT_EQ(strip(4).GPotPos(), 5.0F);  // reloaded from its own file
  EXPECT_FALSE(state.editorLoading());
}

TEST_F(EditorBus, CopyToAllReleasesThenSelectsWritesAndReleasesEachOtherMachineInListOrder) {
  open(0);
  strip(4).SetGPotPos(5.0F);
  strip(9).SetGPotPos(-4.0F);
  rig.clearRecords();
  state.CopyBandsToAllMachines();
  std::string bands;
  for (int k = 0; k < editor::kBandCount; ++k) {
    const auto c = state.coefficientTable().Band(k);
    bands += Q(799 + 5 * k, c) + Q(799 + 5 * k + 116, c);
  }
  const auto sel = [](const char* id) {
    return protocol::SelectFrame(*protocol::ParseIdentifier(id));
  };
  const std::string walk =
      "R"
      "eR" +
      sel("H000000010002") + bands +
      "R"
      "eR" +
      sel("H000000010005") + bands + "R";
  ASSERT_GE(pc().size(), walk.size());
  EXPECT_EQ(pc().substr(0, walk.size()), walk);
  // Then the edited machine is selected for editing again; no band goes back to it.
  const std::string after = pc().substr(walk.size());
  EXPECT_NE(after.find("eR" + sel("H000000010001") + "T01ff"), std::string::npos);
  EXPECT_EQ(after.find('Q'), std::string::npos);
  // The live band record is left holding the last band of the table.
  const auto& live = host.commands().liveBand();
  EXPECT_EQ(live.bandAddress, 844);
  EXPECT_EQ(live.mirrorAddress, 960);
  EXPECT_EQ(live.coefficients, filters::SendingOrder(state.coefficientTable().Band(9)));
}

// A machine that did not take every band keeps its file as it was and the operator is told, the
// walk going on with the next machine; the status line ends on the first failure, not on the
// good exchanges after it.
TEST_F(EditorBus, CopyToAllStoresOnlyTheFilesOfMachinesThatTookEveryBand) {
  struct Case {
    const char* name;
    // Arms the fault; strikes on the fifth band frame (the third band, to machine 2).
    std::function<void(SimRig&)> arm;
    std::vector<std::string> files;
    std::string status;
    bool red;
    int bandFramesAtSecond;  // after a failed band, the machine is written no further
  };
  const auto atFifthBand = [](SimRig& r, std::function<void()> strike) {
    auto bands = std::make_shared<int>(0);
    r.adapter->beforeWrite = [bands, strike](std::uint32_t count) {
      if (count == 37 && ++*bands == 5) strike();
    };
  };
  const std::vector<Case> cases{
      {"no fault",
       [](SimRig&) {},
       {"H000000010001.dat", "H000000010002.dat", "H000000010005.dat"},
       "Status Ok",
       false,
       20},
      {"band acknowledgement lost",
       [&](SimRig& r) { atFifthBand(r, [&r] { r.bus->lineFaults.dropAfterBytes = 0; }); },
       {"H000000010001.dat", "H000000010005.dat"},
       "Comm Error",
       true,
       5},
      {"machine silent at its selection",
       [](SimRig& r) { r.processor("H000000010002").faults.silent = true; },
       {"H000000010001.dat", "H000000010005.dat"},
       "Net Connection Fail",
       true,
       0},
      {"adapter pulled out during the bands",
       [&](SimRig& r) { atFifthBand(r, [&r] { r.adapter->faults().unplugAfterBytes = 10; }); },
       {"H000000010001.dat"},
       "Connection Fail",
       true,
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.adapter->faults() = {};
    rig.bus->lineFaults = {};
    for (const char* id : {"H000000010001", "H000000010002", "H000000010005"}) {
      rig.processor(id).faults = {};
      rig.processor(id).framesHandled.clear();
    }
    if (!rig.link.state().Connected) rig.link.Connect();
    open(0);
    for (const auto& entry : std::filesystem::directory_iterator(dir))
      std::filesystem::remove(entry.path());
    strip(3).SetGPotPos(6.0F);
    c.arm(rig);
    state.CopyBandsToAllMachines();
    rig.adapter->beforeWrite = nullptr;
    std::vector<std::string> files;
    for (const auto& [name, bytes] : Files(dir)) files.push_back(name);
    EXPECT_EQ(files, c.files);
    EXPECT_EQ(rig.frontend.statusText, c.status);
    EXPECT_EQ(rig.frontend.statusColour == link::kRed, c.red);
    EXPECT_EQ(rig.processor("H000000010002").framesHandled['Q'], c.bandFramesAtSecond);
    // The walk goes on past a machine that failed while the adapter is there.
    const bool adapterThere = c.status != "Connection Fail";
    EXPECT_EQ(rig.processor("H000000010005").framesHandled['Q'], adapterThere ? 20 : 0);
    // A machine that fails is no reason for a box; losing the adapter is.
    EXPECT_EQ(rig.frontend.boxes.empty(), adapterThere);
  }
}

TEST_F(EditorBus, StatusReplyLightsIndicators) {
  open(0);
  auto& a = rig.processor("H000000010001");
  a.inputIndicator = 2;
  state.PollInputIndicators();
  EXPECT_EQ(state.polling().inputIndicator(), (std::array<bool, 2>{true, false}));
  a.faults.queryReply = "000700O";
  state.PollInputIndicators();
  EXPECT_EQ(state.polling().inputIndicator(), (std::array<bool, 2>{true, false}));
  a.faults.queryReply.clear();
  a.inputIndicator = 1;
  state.PollInputIndicators();
  EXPECT_EQ(state.polling().inputIndicator(), (std::array<bool, 2>{false, true}));
}

TEST_F(EditorBus, LevelWindowClosesAfter40TicksAndRestartsPoll) {
  open(0);
  rig.processor("H000000010001").fixedLevels =
      std::array<std::uint16_t, 6>{5623, 0, 5623, 5622, 100, 65535};
  state.ShowLevels();
  EXPECT_FALSE(state.polling().indicatorPollRunning());
  state.PollLevelMeters();
  EXPECT_EQ(state.polling().meters()[0], (editor::MeterSections{75, 6, 0}));
  EXPECT_EQ(state.polling().meters()[1], (editor::MeterSections{24, 0, 0}));
  EXPECT_EQ(state.polling().meters()[2], (editor::MeterSections{75, 0, 0}));
  EXPECT_EQ(state.polling().meters()[3], (editor::MeterSections{74, 0, 0}));
  EXPECT_EQ(state.polling().meters()[4], (editor::MeterSections{40, 0, 0}));
  EXPECT_EQ(state.polling().meters()[5], (editor::MeterSections{75, 6, 13}));
  for (int t = 2; t <= 30; ++t) state.PollLevelMeters();
  state.ShowLevels();  // at tick 30: another full 40 ticks
  for (int t = 1; t < 40; ++t) state.PollLevelMeters();
  EXPECT_TRUE(state.polling().levelWindowVisible());
  EXPECT_TRUE(state.polling().levelRefreshRunning());
  state.PollLevelMeters();
  EXPECT_FALSE(state.polling().levelWindowVisible());
  EXPECT_FALSE(state.polling().levelRefreshRunning());
  EXPECT_TRUE(state.polling().indicatorPollRunning());
}

TEST_F(EditorBus, LevelTickWithSpoiledOrMissingRepliesShowsSilenceAndKeepsIndicators) {
  open(0);
  auto& p = rig.processor("H000000010001");
  p.fixedLevels = std::array<std::uint16_t, 6>{5623, 5623, 5623, 5622, 100, 65535};
  p.inputIndicator = 3;
  state.ShowLevels();
  state.PollLevelMeters();
  EXPECT_EQ(state.polling().meters()[5], (editor::MeterSections{75, 6, 13}));
  EXPECT_EQ(state.polling().inputIndicator(), (std::array<bool, 2>{true, true}));
  const editor::MeterSections silence{24, 0, 0};

  p.faults.wrongChecksum = true;
  state.PollLevelMeters();
  for (const auto& m : state.polling().meters()) EXPECT_EQ(m, silence);

  p.faults.wrongChecksum = false;
  p.faults.silent = true;
  p.inputIndicator = 0;
  state.PollLevelMeters();
  for (const auto& m : state.polling().meters()) EXPECT_EQ(m, silence);
  EXPECT_EQ(state.polling().inputIndicator(), (std::array<bool, 2>{true, true}));
  EXPECT_EQ(state.polling().levelViewTicks(), 3);
  EXPECT_TRUE(state.polling().levelWindowVisible());
  EXPECT_TRUE(rig.frontend.boxes.empty());
}

TEST_F(EditorBus, LevelTickReadsSixLevelsThenStatus) {
  open(0);
  state.PollLevelMeters();
  EXPECT_EQ(pc(), "I05fbI06faI07f9I08f8I09f7I0af6I0000");
}

TEST_F(EditorBus, AmpSettingAndPowerOnStore) {
  open(0);
  state.ApplyAmpTrim(-3.5F);
  EXPECT_EQ(state.ampLevelCode(), 249);
  EXPECT_EQ(pc(), frames::AmpLevel(249));
  rig.clearRecords();
  state.SaveAsPowerOnSetting();
  EXPECT_EQ(pc(), "T0000");
  EXPECT_FALSE(state.powerOnRunning());
}

// A switch to a machine that does not answer its select: the machine left was ended and released
// as on any switch, so the editor closes; nothing afterwards can store bands under either machine.
TEST_F(EditorBus, FailedSwitchClosesTheEditorAndTouchesNoFileAfterwards) {
  open(0);
  strip(4).SetGPotPos(-6.0F);
  rig.processor("H000000010002").faults.silent = true;
  state.OpenEditorForSlot(1);
  EXPECT_FALSE(state.editorVisible());
  EXPECT_FALSE(state.polling().indicatorPollRunning());
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(state.selectedMachineId(), "");
  EXPECT_EQ(host.listSel, -1);
  // The machine left keeps what it runs in its last-edit file, as on every leaving.
  EXPECT_EQ(network::ReadEqFile(network::LastEditEqPath(dir, "H000000010001")).record.gainDb[4],
            -6.0F);
  const auto files = Files(dir);
  strip(4).SetGPotPos(3.0F);
  state.CloseEditor();
  EXPECT_EQ(Files(dir), files);
  EXPECT_FALSE(std::filesystem::exists(network::LastEditEqPath(dir, "H000000010002")));
}

// A machine with no equaliser file and no template gets the default bands, and nothing of the
// "Flat" state of the machine shown before.
TEST_F(EditorBus, DefaultBandsClearFlatStateAndStash) {
  open(0);
  strip(2).SetGPotPos(5.0F);
  state.ToggleFlat();
  ASSERT_TRUE(state.flatMode());
  state.OpenEditorForSlot(1);
  EXPECT_FALSE(state.flatMode());
  EXPECT_EQ(state.flatGainStash(), (std::array<double, editor::kBandCount>{}));
  // "Flat" on this machine now parks its own (zero) gains; "EQ" gives them back unchanged.
  state.ToggleFlat();
  state.ToggleFlat();
  EXPECT_EQ(strip(2).GPotPos(), 0.0F);
}

// What was last sent is what a reopening shows, also when the machine's user preset already has
// a file of its own (written here by a switch to another machine and back).
TEST_F(EditorBus, CloseAndReopenShowsTheBandsLastSent) {
  open(0);
  open(1);
  open(0);
  strip(4).SetGPotPos(-12.0F);
  strip(6).SetFPotPos(3150.0F);
  state.CloseEditor();
  open(0);
  EXPECT_EQ(strip(4).GPotPos(), -12.0F);
  EXPECT_EQ(strip(6).FPotPos(), 3150.0F);
  // The last-edit file still follows every close.
  EXPECT_EQ(network::ReadEqFile(network::LastEditEqPath(dir, "H000000010001")).record.gainDb[4],
            -12.0F);
}

// The 655 ms poll and the 247 ms level refresh never run together, whatever the operator does
// while the level window is open; the operations that use the bus otherwise close the window.
TEST_F(EditorBus, InputPollAndLevelRefreshNeverRunTogether) {
  editor::UserPresets presets(state);
  struct LocationThree final : editor::UserPresetView {
    std::optional<int> askLocation(editor::LocationDialog, const std::string&) override {
      return 3;
    }
  } locationThree;
  presets.setView(&locationThree);
  const auto unreadableOwnFile = [&](const std::function<void()>& run) {
    const auto own = network::PresetEqPath(dir, "H000000010001", host.records[0].userPreset);
    std::filesystem::remove(own);
    std::filesystem::create_directories(own);
    run();
    std::filesystem::remove_all(own);
  };
  const struct {
    const char* name;
    std::function<void()> run;
    bool levelsStayOpen;
  } operations[] = {
      {"input gain", [&] { state.SetGainText(0, "-3.5"); }, true},
      {"arrow", [&] { state.ArrowClick(1, +1); }, true},
      {"knob", [&] { state.SetKnobPosition(1, 40); }, true},
      {"delay", [&] { state.SetDelay(0, 12); }, false},
      {"mute", [&] { state.ToggleMute(1); }, true},
      {"band", [&] { strip(2).SetGPotPos(1.5F); }, false},
      {"flat", [&] { state.ToggleFlat(); }, false},
      {"copy to all", [&] { state.CopyBandsToAllMachines(); }, false},
      {"copy to all, own file unreadable",
       [&] { unreadableOwnFile([&] { state.CopyBandsToAllMachines(); }); }, false},
      {"window shown", [&] { state.EditorShown(); }, true},
      {"poll tick", [&] { state.PollInputIndicators(); }, true},
      {"level tick", [&] { state.PollLevelMeters(); }, true},
      {"level window runs out",
       [&] {
         for (int t = 0; t < 40; ++t) state.PollLevelMeters();
       },
       false},
      {"amp setting", [&] { state.ApplyAmpTrim(-2.0F); }, true},
      {"power-on store", [&] { state.SaveAsPowerOnSetting(); }, false},
      {"store", [&] { presets.SaveToDspMemory(); }, false},
      {"recall", [&] { presets.LoadFromDspMemory(); }, false},
      {"reopen the same slot", [&] { state.OpenEditorForSlot(0); }, false},
      {"open another slot", [&] { state.OpenEditorForSlot(1); }, false},
      {"close", [&] { state.CloseEditor(); }, false},
  };
  open(0);
  for (const auto& op : operations) {
    state.ShowLevels();
    op.run();
    EXPECT_FALSE(state.polling().indicatorPollRunning() && state.polling().levelRefreshRunning())
        << op.name;
    EXPECT_EQ(state.polling().levelWindowVisible(), op.levelsStayOpen) << op.name;
    EXPECT_EQ(state.polling().levelRefreshRunning(), op.levelsStayOpen) << op.name;
  }
}

// A parameter read from anywhere stops the indicator poll of the editor that is there now; an
// editor that is gone leaves nothing behind on the bus.
TEST(EditorPoll, AParameterReadStopsThePollOfTheEditorThatIsThere) {
  SimRig rig;
  rig.connect();
  TestEditorHost host(rig, std::filesystem::temp_directory_path());
  std::optional<EditorState> gone(std::in_place, host);
  gone.reset();
  EXPECT_FALSE(rig.protocolBus.beforeQuery);
  EditorState now(host);
  now.EditorShown();
  ASSERT_TRUE(now.polling().indicatorPollRunning());
  rig.protocolBus.ReadParameter(protocol::param::kAmpLevel);
  EXPECT_FALSE(now.polling().indicatorPollRunning());
}

// An arrow at the end of its range changes nothing, so it sends nothing and leaves the level
// window closed; one step inside the range is sent as usual.
TEST_F(EditorBus, ArrowsAtTheirLimitsSendNothing) {
  const struct {
    const char* name;
    int field, step;
    std::string sent;
  } cases[] = {
      {"Ch1/Ch2 delay down at 0", 2, -1, ""},
      {"Ch3/Ch4 delay up at 310", 3, +1, ""},
      {"Input A up at +12 dB", 0, +1, ""},
      {"Input B down at -48 dB", 1, -1, ""},
      {"Ch1/Ch2 delay up from 0", 2, +1, frames::Delays(1, 310)},
      {"Input A down from +12 dB", 0, -1, frames::InputGains(84, 203)},
  };
  auto& machine = rig.processor("H000000010001");
  for (const auto& c : cases) {
    machine.live.gainA = 204;
    machine.live.gainB = 84;
    machine.live.delay12 = 0;
    machine.live.delay34 = 310;
    open(0);
    state.stopEditorActivity();
    state.ArrowClick(c.field, c.step);
    EXPECT_EQ(pc(), c.sent) << c.name;
    EXPECT_EQ(state.polling().levelWindowVisible(), c.field < 2 && !c.sent.empty()) << c.name;
  }
}

}  // namespace
}  // namespace qubix::test

namespace qubix::test {
namespace {

// The adapter stops answering the device check while the editor holds a machine: the link is
// lost, and no machine is taken as selected any more (the next refresh selects its own).
TEST_F(EditorBus, ALostAdapterOnSwitchingLeavesNoMachineSelected) {
  open(1);
  strip(2).SetGPotPos(3.0F);
  rig.adapter->faults().infoFails = true;
  EXPECT_FALSE(state.OpenEditorForSlot(0).ok);
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(host.lost, 1);
  // What the machine left runs is kept, as on every leaving.
  EXPECT_EQ(network::ReadEqFile(network::LastEditEqPath(dir, "H000000010002")).record.gainDb[2],
            3.0F);
}

}  // namespace
}  // namespace qubix::test
