#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <fstream>

#include "editor/UserPresets.h"
#include "sim/SimProcessor.h"
#include "support/EditorRig.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::editor;

namespace {

using test::ReadBytes;
using test::WriteBytes;

class UserPresetsTest : public test::EditorRig {
 protected:
  UserPresetsTest() : presets(state), view(*this) { presets.setView(&view); }
  // Records the captions and the slot's name; the location question goes to the frontend.
  struct View final : UserPresetView {
    explicit View(UserPresetsTest& t) : t(t) {}
    std::optional<int> askLocation(LocationDialog which, const std::string&) override {
      return t.rig.frontend.askLocation(LocationTitle(which));
    }
    void showRunning(PresetButton, bool running) override {
      t.captions.push_back(running ? "lime" : "yellow");
    }
    void showSlotUserPreset(int slot, const std::string& name) override {
      slotShown = slot;
      slotName = name;
    }
    UserPresetsTest& t;
    int slotShown = -1;
    std::string slotName;
  };
  sim::SimProcessor& machine() { return rig.processor("H000000010001"); }
  // The letters of the frames the PC sent, one per frame (single bytes and frames alike).
  std::string letters() const {
    std::string out;
    for (const auto& e : rig.bus->transcript)
      if (e.fromPc && !e.bytes.empty()) out.push_back(e.bytes[0]);
    return out;
  }
  std::vector<std::string> pcFrames() const {
    std::vector<std::string> out;
    for (const auto& e : rig.bus->transcript)
      if (e.fromPc) out.push_back(e.bytes);
    return out;
  }

  UserPresets presets;
  std::vector<std::string> captions;
  View view;
};

TEST_F(UserPresetsTest, StoreToLocationSevenSendsTenBandsAndTheSettings) {
  open(0);
  rig.frontend.locationAnswers.push_back(7);
  presets.SaveToDspMemory();
  const std::vector<std::string> frames = pcFrames();
  ASSERT_EQ(frames.size(), 11u);
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(frames[static_cast<std::size_t>(n)].size(), 37u);
    EXPECT_EQ(frames[static_cast<std::size_t>(n)].substr(0, 5), "U070" + std::to_string(n)) << n;
  }
  // Defaults: 0 dB gains (b4), knobs at 0 dB (ff), no delay, level 255.
  EXPECT_EQ(frames[10], "U070ab4b4ffff00000000ff0000000000008a");
  EXPECT_EQ(sim::SettingsFromRecord(machine().locations[7].records[10]), sim::Settings{});
  EXPECT_TRUE(std::filesystem::exists(dir / "H000000010001_7.dat"));
  EXPECT_TRUE(state.polling().indicatorPollRunning());
  EXPECT_EQ(captions, (std::vector<std::string>{"lime", "yellow"}));
  EXPECT_FALSE(rig.frontend.busy);
  EXPECT_EQ(rig.frontend.questions.back().kind, "location");
}

TEST_F(UserPresetsTest, BandThatCannotBeComputedIsSkipped) {
  open(0);
  strip(8).SetGPotPos(12.0F);
  strip(8).SetQPotPos(0.2F);
  ASSERT_NE(strip(8).FBCalc(), filters::kFilterOk);
  rig.clearRecords();
  rig.frontend.locationAnswers.push_back(2);
  presets.SaveToDspMemory();
  const std::vector<std::string> frames = pcFrames();
  ASSERT_EQ(frames.size(), 10u);
  for (std::size_t n = 0; n < 8; ++n) EXPECT_EQ(frames[n].substr(0, 5), "U020" + std::to_string(n));
  EXPECT_EQ(frames[8].substr(0, 5), "U0209");
  EXPECT_EQ(frames[9].substr(0, 5), "U020a");
  EXPECT_TRUE(rig.frontend.boxes.empty());
  EXPECT_TRUE(std::filesystem::exists(dir / "H000000010001_2.dat"));
}

TEST_F(UserPresetsTest, MissingAcknowledgementClosesTheEditorAndTellsTheOperator) {
  open(0);
  machine().faults.silent = true;
  rig.frontend.locationAnswers.push_back(5);
  presets.SaveToDspMemory();
  // One unanswered band record, then the editor's close: end of access and release.
  const std::string sent = pc();
  ASSERT_EQ(sent.size(), 37u + 6u);
  EXPECT_EQ(sent.substr(0, 5), "U0500");
  EXPECT_EQ(sent.substr(37), "T02feR");
  ASSERT_EQ(rig.frontend.boxes.size(), 1u);
  EXPECT_EQ(rig.frontend.boxes[0].text, "EEProm Writing Error");
  EXPECT_EQ(rig.frontend.boxes[0].caption, "EEProm Writing Error");
  EXPECT_EQ(rig.frontend.boxes[0].buttons, link::Buttons::Ok);
  const auto& texts = rig.frontend.statusTexts;
  EXPECT_NE(std::find(texts.begin(), texts.end(), "EEProm Writing Error"), texts.end());
  EXPECT_EQ(rig.frontend.statusText, "Nothing Selected");
  EXPECT_EQ(rig.frontend.statusColour, link::kRed);
  EXPECT_FALSE(state.editorVisible());
  EXPECT_FALSE(state.polling().indicatorPollRunning());
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(captions.back(), "yellow");
  EXPECT_FALSE(rig.frontend.busy);
  EXPECT_FALSE(std::filesystem::exists(dir / "H000000010001_5.dat"));
}

TEST_F(UserPresetsTest, CancelledStoreSendsNothing) {
  open(0);
  rig.frontend.locationAnswers.push_back(std::nullopt);
  presets.SaveToDspMemory();
  EXPECT_EQ(pc(), "");
  EXPECT_TRUE(state.polling().indicatorPollRunning());
}

TEST_F(UserPresetsTest, RecallReadsBackWithoutSendingAnything) {
  sim::Settings stored;
  stored.gainA = 173;  // −3.5 dB
  stored.gainB = 204;  // +12 dB
  stored.atten12 = 231;
  stored.atten34 = 191;
  stored.delay12 = 120;
  stored.delay34 = 7;
  stored.ampLevel = 240;
  machine().locations[3].records[10] = sim::SettingsRecord(stored);
  // The PC's own band file for location 3.
  network::EqRecord bands = network::DefaultEqRecord();
  bands.freqHz[4] = 777;
  ASSERT_TRUE(network::WriteEqFile(dir / "H000000010001_3.dat", bands));
  open(0);
  rig.frontend.locationAnswers.push_back(3);
  presets.LoadFromDspMemory();
  EXPECT_EQ(pc(), "u03fdI11efI0ff1I10f0I0bf5I0cf4I0df3I0ef2I17e9");
  EXPECT_EQ(state.userPresetName(), "User Config 3");
  EXPECT_EQ(view.slotShown, 0);
  EXPECT_EQ(view.slotName, "User Config 3");
  EXPECT_EQ(host.slotValues(0).userPreset, 3);
  EXPECT_EQ(state.delay(), (std::array<int, 2>{120, 7}));
  EXPECT_EQ(state.gainText()[0], "-3.5");
  EXPECT_EQ(state.gainText()[1], "12");
  EXPECT_EQ(state.knobPosition(), (std::array<int, 2>{40, 0}));
  EXPECT_DOUBLE_EQ(state.knobValue()[0], -12.0);
  EXPECT_EQ(state.ampLevelCode(), 240);
  EXPECT_EQ(strip(4).FPotPos(), 777.0F);
  EXPECT_FALSE(state.editorLoading());
  EXPECT_TRUE(state.polling().indicatorPollRunning());
  EXPECT_EQ(rig.adapter->readTimeoutMs(), 200u);
}

// A read-back reply spoiled once is asked for again; a machine that does not answer twice leaves
// the editor closed (its controls would claim values the processor may not hold), its bands not
// stored, the slot's user preset unknown if that was not read, and the failure on the status
// line.
TEST_F(UserPresetsTest, RecallShowsOnlyWhatItReadBack) {
  const auto I = [](int n) { return protocol::ByteCommand('I', n); };
  const std::string allReads = I(17) + I(15) + I(16) + I(11) + I(12) + I(13) + I(14) + I(23);
  // Strikes when the PC sends its n-th five-character frame of the recall ("u" is the first).
  const auto atFrame = [](sim::SimAdapter* adapter, int n, std::function<void()> strike) {
    auto frames = std::make_shared<int>(0);
    adapter->beforeWrite = [frames, n, strike](std::uint32_t count) {
      if (count == 5 && ++*frames == n) strike();
    };
  };
  struct Case {
    const char* name;
    std::function<void()> arm;
    std::string wire;  // from the recall to the read-back's end
    std::vector<int> unread;
    std::string status, slotName;
  };
  const std::vector<Case> cases{
      {"no fault", [] {}, "u03fd" + allReads, {}, "Status Ok", "User Config 3"},
      // Reply bytes: "O" for the recall, then seven per read; byte 10 is a value character of
      // parameter 15's reply, byte 17 one of parameter 16's.
      {"one reply byte lost",
       [&] { rig.bus->lineFaults.dropAfterBytes = 10; },
       "u03fd" + I(17) + I(15) + I(15) + I(16) + I(11) + I(12) + I(13) + I(14) + I(23),
       {},
       "Status Ok",
       "User Config 3"},
      {"one reply byte spoiled",
       [&] { rig.bus->lineFaults.corruptAfterBytes = 17; },
       "u03fd" + I(17) + I(15) + I(16) + I(16) + I(11) + I(12) + I(13) + I(14) + I(23),
       {},
       "Status Ok",
       "User Config 3"},
      {"machine silent from the gains on",
       [&] { atFrame(rig.adapter, 5, [&] { machine().faults.silent = true; }); },
       "u03fd" + I(17) + I(15) + I(16) + I(11) + I(11),
       {11, 12, 13, 14, 23},
       "Comm Error",
       "User Config 3"},
      {"machine silent after the recall",
       [&] { atFrame(rig.adapter, 2, [&] { machine().faults.silent = true; }); },
       "u03fd" + I(17) + I(17),
       {17, 15, 16, 11, 12, 13, 14, 23},
       "Comm Error",
       "Unknown"},
      {"adapter pulled out at a read",
       [&] { atFrame(rig.adapter, 3, [&] { rig.adapter->faults().unplugAfterBytes = 2; }); },
       "u03fd" + I(17) + "I0",
       {15, 16, 11, 12, 13, 14, 23},
       "Connection Fail",
       "User Config 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.adapter->faults() = {};
    rig.bus->lineFaults = {};
    machine().faults = {};
    if (!rig.link.state().Connected) rig.link.Connect();
    machine().userPreset = 0;
    machine().live.delay12 = 0;
    sim::Settings stored;
    stored.gainA = 173;
    stored.delay12 = 120;
    stored.delay34 = 7;
    machine().locations[3].records[10] = sim::SettingsRecord(stored);
    open(0);
    state.SetDelay(0, 55);
    // A recall writes no location's file; the last-edit file takes what the machine runs.
    const auto locationFiles = [&] {
      int n = 0;
      for (const auto& e : std::filesystem::directory_iterator(dir))
        n += e.path().filename().string().find('_') != std::string::npos;
      return n;
    };
    const int filesBefore = locationFiles();
    rig.clearRecords();
    view.slotName.clear();
    c.arm();
    EXPECT_EQ(presets.RecallFromLocation(3).unread, c.unread);
    rig.adapter->beforeWrite = nullptr;
    const std::string sent = pc();
    EXPECT_EQ(sent.substr(0, c.wire.size()), c.wire);
    EXPECT_EQ(view.slotName, c.slotName);
    EXPECT_EQ(rig.frontend.statusText, c.status);
    EXPECT_EQ(rig.frontend.statusColour == link::kRed, !c.unread.empty());
    EXPECT_EQ(locationFiles(), filesBefore);
    if (c.unread.empty()) {
      EXPECT_TRUE(std::filesystem::exists(network::LastEditEqPath(dir, "H000000010001")));
    }
    EXPECT_FALSE(state.editorLoading());
    if (c.unread.empty()) {
      EXPECT_EQ(sent, c.wire);
      EXPECT_TRUE(state.editorVisible());
      EXPECT_EQ(state.delay(), (std::array<int, 2>{120, 7}));
      EXPECT_EQ(state.gainText()[0], "-3.5");
      EXPECT_TRUE(rig.frontend.boxes.empty());
    } else {
      EXPECT_FALSE(state.editorVisible());
      EXPECT_FALSE(state.polling().indicatorPollRunning());
      EXPECT_FALSE(rig.protocolBus.MachineSelected && rig.link.state().Connected);
      EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{" Connection Fail"});
    }
  }
}

std::int32_t I32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}
float F32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::bit_cast<float>(I32(b, at));
}

TEST_F(UserPresetsTest, SavedFileHoldsTheWorkedValues) {
  open(0);
  state.SetGainText(0, "-3.5");
  strip(2).SetGPotPos(0.05F);
  strip(3).SetGPotPos(-6.0F);
  state.ToggleMute(1);
  rig.clearRecords();
  const std::string path = (dir / "worked.vup").string();
  rig.frontend.saveFileAnswers.push_back(path);
  presets.SaveToComputerFile();
  EXPECT_EQ(pc(), "");  // nothing goes to the processor
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 196u);
  EXPECT_EQ(I32(bytes, 0), -7);
  EXPECT_EQ(F32(bytes, 72 + 8), 0.0F);
  EXPECT_EQ(F32(bytes, 72 + 12), -6.0F);
  EXPECT_EQ(bytes[17], 1);
  EXPECT_EQ(I32(bytes, 8), 64);
  EXPECT_EQ(I32(bytes, 192), 255);
  EXPECT_EQ(strip(2).GPotPos(), 0.05F);  // the strip keeps its value
  EXPECT_EQ(captions, (std::vector<std::string>{"lime", "yellow"}));
}

TEST_F(UserPresetsTest, SaveWithoutExtensionGetsVup) {
  open(0);
  rig.frontend.saveFileAnswers.push_back((dir / "noext").string());
  presets.SaveToComputerFile();
  EXPECT_TRUE(std::filesystem::exists(dir / "noext.vup"));
}

TEST_F(UserPresetsTest, SaveFailureShowsTheWriteErrorBox) {
  open(0);
  rig.frontend.saveFileAnswers.push_back((dir / "no" / "such" / "p.vup").string());
  presets.SaveToComputerFile();
  ASSERT_EQ(rig.frontend.boxes.size(), 1u);
  EXPECT_EQ(rig.frontend.boxes[0].text,
            "Can't perform one of the following file operations: Open, Seek, Read, Write, Close.");
  EXPECT_EQ(rig.frontend.boxes[0].caption, "File Error");
  EXPECT_EQ(rig.frontend.boxes[0].buttons, link::Buttons::OkCancel);
}

TEST_F(UserPresetsTest, FlatModeRoundTrip) {
  open(0);
  strip(0).SetGPotPos(4.0F);
  strip(9).SetGPotPos(-2.5F);
  state.ToggleFlat();  // "Flat": gains parked in the stash
  ASSERT_TRUE(state.flatMode());
  const std::string path = (dir / "flat.vup").string();
  rig.frontend.saveFileAnswers.push_back(path);
  presets.SaveToComputerFile();
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(bytes[28], 1);
  EXPECT_EQ(F32(bytes, 72), 0.0F);
  EXPECT_EQ(F32(bytes, 112), -2.5F);  // band 10 first in the stash
  EXPECT_EQ(F32(bytes, 116), 4.0F);

  // Back to normal, then load the flat file.
  state.ToggleFlat();
  ASSERT_FALSE(state.flatMode());
  rig.frontend.openFileAnswers.push_back(path);
  presets.LoadFromComputerFile();
  EXPECT_TRUE(state.flatMode());
  EXPECT_EQ(strip(0).GPotPos(), 0.0F);
  state.ToggleFlat();  // "EQ"
  EXPECT_EQ(strip(0).GPotPos(), 4.0F);
  EXPECT_EQ(strip(9).GPotPos(), -2.5F);
}

TEST_F(UserPresetsTest, FileLoadSendsInTheFixedOrder) {
  open(0);
  state.SetAmpLevelCode(250);
  UserPresetRecord r = presets.BuildRecord();
  r.muted = {1, 0, 0, 0};
  r.inputGainA = -12;
  r.delay12 = 30;
  r.knob34 = 20;
  r.ampLevelCode = 200;
  const std::string path = (dir / "order.vup").string();
  ASSERT_EQ(WriteUserPresetFile(path, r), "");
  rig.clearRecords();
  rig.frontend.openFileAnswers.push_back(path);
  presets.LoadFromComputerFile();
  // Mutes, gains, delays, knobs, then every band three times (with its mirror).
  EXPECT_EQ(letters().substr(0, 10), "ggggGGLLVV");
  EXPECT_EQ(letters().substr(10), std::string(60, 'Q'));
  const std::vector<std::string> frames = pcFrames();
  EXPECT_EQ(frames[0], "g010000ff");  // Ch1 muted
  EXPECT_EQ(frames[1], "g0101fa04");  // Ch2 gets the level in force before the load (250)
  EXPECT_EQ(state.ampLevelCode(), 200);
  EXPECT_EQ(state.gainText()[0], "-6");
  EXPECT_EQ(state.delay()[0], 30);
  EXPECT_EQ(state.knobPosition()[1], 20);
  EXPECT_EQ(presets.lastRecord(), r);
  EXPECT_TRUE(state.graphRedrawEnabled());
}

TEST_F(UserPresetsTest, UnusableFilesAreRefusedBeforeAnythingIsSent) {
  open(0);
  const UserPresetImage good = EncodeUserPreset(presets.BuildRecord());
  UserPresetImage badQ = good;
  const float q = 80.0F;
  std::memcpy(badQ.data() + 152, &q, 4);
  UserPresetImage badDelay = good;
  badDelay[21] = 0x10;  // 4096 ms
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  const Case cases[] = {{"short", {good.begin(), good.begin() + 100}},
                        {"Q out of range", {badQ.begin(), badQ.end()}},
                        {"delay out of range", {badDelay.begin(), badDelay.end()}}};
  for (const Case& c : cases) {
    rig.clearRecords();
    const std::string path = (dir / "bad.vup").string();
    WriteBytes(path, c.bytes);
    rig.frontend.openFileAnswers.push_back(path);
    presets.LoadFromComputerFile();
    EXPECT_EQ(pc(), "") << c.name;
    ASSERT_EQ(rig.frontend.boxes.size(), 1u) << c.name;
    EXPECT_EQ(rig.frontend.boxes[0].text,
              "Can't perform one of the following file operations: Open, Seek, Read, Close.");
    EXPECT_EQ(rig.frontend.boxes[0].caption, "File Error");
  }
}

TEST_F(UserPresetsTest, LongFileUsesItsFirstRecordAndMissingFileIsIgnored) {
  open(0);
  UserPresetRecord r = presets.BuildRecord();
  r.delay34 = 99;
  const UserPresetImage image = EncodeUserPreset(r);
  std::vector<std::uint8_t> bytes(image.begin(), image.end());
  bytes.resize(300, 0xee);
  WriteBytes((dir / "long.vup").string(), bytes);
  rig.frontend.openFileAnswers.push_back((dir / "long.vup").string());
  presets.LoadFromComputerFile();
  EXPECT_EQ(state.delay()[1], 99);
  rig.clearRecords();
  rig.frontend.openFileAnswers.push_back((dir / "absent.vup").string());
  presets.LoadFromComputerFile();
  EXPECT_EQ(pc(), "");
  EXPECT_TRUE(rig.frontend.boxes.empty());
}

}  // namespace
}  // namespace qubix::test
