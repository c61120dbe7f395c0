#include <gtest/gtest.h>

#include "network/HfpFile.h"
#include "support/CaseNames.h"
#include "support/PresetRig.h"

namespace qubix::test {
using namespace qubix::network;
namespace {

using test::PresetRig;
using test::RecordingPresetView;
using test::TempDir;
using test::WriteBytes;

// A valid file whose payload names itself "HALL PRESET" and covers every byte value, 0x71 and
// 0xf5 included.
HfpImage SampleImage() {
  HfpImage image{};
  for (std::size_t i = 0; i < kHfpFileSize; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::string name = "HALL PRESET       ";
  std::copy(name.begin(), name.end(), image.begin() + kHfpPayloadOffset);
  SealHfpImage(image);
  return image;
}

std::string WireImage(const HfpImage& image) {
  std::string wire;
  for (std::size_t i = kHfpPayloadOffset; i < kHfpPayloadOffset + kHfpPayloadSize; ++i)
    wire.push_back(static_cast<char>(EncodeUploadByte(image[i])));
  return wire;
}

struct UploadFixture : ::testing::Test {
  UploadFixture() {
    rig.presets.setView(&view);
    rig.presets.setEditor(&editor);
    WriteBytes(path, {image.begin(), image.end()});
    rig.frontend.openFileAnswers.push_back(path);
  }
  // The bytes the PC puts on the wire after the select exchange.
  std::string afterSelect() const {
    const std::string all = rig.pcBytes();
    return all.substr(std::min<std::size_t>(all.size(), 15));
  }
  PresetRig rig;
  RecordingPresetView view;
  HfpImage image = SampleImage();
  std::string path = rig.data.file("Hall.hfp");
  int editorStopped = 0;
  // An editor that holds no machine and counts how often it is stopped.
  struct CountingEditor final : EditorAccess {
    explicit CountingEditor(int& stopped) : stopped(stopped) {}
    void stopEditorActivity() override { ++stopped; }
    bool leaveMachineOtherThan(int) override { return true; }
    void resumeAfterRelease() override {}
    int& stopped;
  } editor{editorStopped};
};

TEST_F(UploadFixture, SuccessfulUploadSendsTheEncodedPayloadAndRenamesPresetSeven) {
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Done);
  EXPECT_EQ(rig.pcBytes(), "H000000010001feT01ffJ0745b4" + WireImage(image) + "T02feR");
  const auto& machine = rig.processor("H000000010001");
  EXPECT_TRUE(machine.extraPresent);
  EXPECT_EQ(machine.extraName, "HALL PRESET       ");
  EXPECT_TRUE(std::equal(image.begin() + 4, image.begin() + 3726, machine.extraImage.begin() + 4));
  EXPECT_EQ(rig.network.hardwarePresetNames()[7], "Extra Preset");
  EXPECT_EQ(view.extraLabel, "Extra Preset");
  EXPECT_EQ(rig.network.slotStates()[0].extraPresetPicture, rig.data.file("Hall.jpg"));
  EXPECT_EQ(rig.frontend.boxes.size(), 0u);
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
  EXPECT_EQ(editorStopped, 1);
  EXPECT_FALSE(rig.ticks.running());
  // Progress from 4 to 3725, then hidden.
  ASSERT_EQ(view.progress.size(), 1u + 3722u);
  EXPECT_EQ(view.progress[0], 0);
  EXPECT_EQ(view.progress[1], 4);
  EXPECT_EQ(view.progress.back(), 3725);
  EXPECT_EQ(view.events.front(), "progress on");
  EXPECT_EQ(view.events.back(), "progress off");
  ASSERT_EQ(rig.frontend.questions.size(), 1u);
  EXPECT_EQ(rig.frontend.questions[0].kind, "open");
}

TEST_F(UploadFixture, EncodingOfTheWorkedBytes) {
  image[100] = 0x71;
  image[101] = 0xf5;
  SealHfpImage(image);
  WriteBytes(path, {image.begin(), image.end()});
  ASSERT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Done);
  const std::string wire = afterSelect().substr(5 + 7);  // after "T01ff" and "J0745b4"
  EXPECT_EQ(static_cast<std::uint8_t>(wire[100 - 4]), 0x80);
  EXPECT_EQ(static_cast<std::uint8_t>(wire[101 - 4]), 0x04);
}

TEST_F(UploadFixture, SuccessRefreshesWhenASlotRunsTheExtraPreset) {
  std::string error;
  ASSERT_TRUE(WriteMachineListFile(rig.network.listPath(), rig.network.list(), error)) << error;
  rig.network.slotAt(2).record.hardwarePreset = 7;
  ASSERT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Done);
  // After the upload's own release, the refresh visits the three listed machines again.
  const std::string all = rig.pcBytes();
  const std::string tail = all.substr(all.find("T02feR") + 6);
  EXPECT_NE(tail.find("H000000010001fe"), std::string::npos);
  EXPECT_NE(tail.find("H000000010005fa"), std::string::npos);
  EXPECT_EQ(rig.network.shownSlots(), 3);
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
}

TEST_F(UploadFixture, NoRefreshWithoutASlotOnTheExtraPreset) {
  std::string error;
  ASSERT_TRUE(WriteMachineListFile(rig.network.listPath(), rig.network.list(), error)) << error;
  ASSERT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Done);
  const std::string all = rig.pcBytes();
  EXPECT_EQ(all.substr(all.size() - 6), "T02feR");
  EXPECT_EQ(rig.network.shownSlots(), 0);
}

TEST_F(UploadFixture, CancellingTheFileDialogEndsAccessWithoutTheCommand) {
  rig.frontend.openFileAnswers.clear();
  rig.frontend.openFileAnswers.push_back(std::nullopt);
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Cancelled);
  EXPECT_EQ(rig.pcBytes(), "H000000010001feT01ffT02feR");
  EXPECT_EQ(view.events.back(), "progress off");
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
}

struct Failure {
  const char* name;
  std::function<void(PresetRig&, HfpImage&, const std::string& path)> arrange;
  UploadOutcome outcome;
  std::string box;
  bool badFile;
  std::string wireAfterSelect;  // empty: not checked
};

class UploadFailures : public UploadFixture, public ::testing::WithParamInterface<int> {};

std::vector<Failure> Failures() {
  return {
      {"checksum",
       [](PresetRig&, HfpImage& image, const std::string& path) {
         image[2] ^= 0x10;
         WriteBytes(path, {image.begin(), image.end()});
       },
       UploadOutcome::CorruptedFile, "Corrupted File", false, "T01ffT02feR"},
      {"too long",
       [](PresetRig&, HfpImage& image, const std::string& path) {
         std::vector<std::uint8_t> bytes(image.begin(), image.end());
         bytes.push_back(0);
         WriteBytes(path, bytes);
       },
       UploadOutcome::CorruptedFile, "Corrupted File", false, "T01ffT02feR"},
      {"too short",
       [](PresetRig&, HfpImage& image, const std::string& path) {
         WriteBytes(path, {image.begin(), image.begin() + 3000});
       },
       UploadOutcome::CorruptedFile, "Corrupted File", false, "T01ffT02feR"},
      {"missing file",
       [](PresetRig&, HfpImage&, const std::string& path) { std::filesystem::remove(path); },
       UploadOutcome::FileError,
       "Can't perform one of the following file operations: Open, Seek, Read, Close.", false,
       "T01ffT02feR"},
      {"command write fails",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         rig.frontend.onProcessEvents = nullptr;
         rig.sim->faults().unplugAfterBytes = 15 + 5;  // gone right after "T01ff"
       },
       UploadOutcome::WriteFailed, " Fatal Error on Loading", false, ""},
      {"command refused",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         rig.tamper->onRead = [](std::uint8_t* b, std::uint32_t& got, std::uint32_t,
                                 const std::string& last) {
           if (last == "J0745b4" && got == 1) b[0] = 'N';
         };
       },
       UploadOutcome::Refused, " UpLoading Fail", false, "T01ffJ0745b4T02feR"},
      {"payload write fails",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         rig.sim->faults().unplugAfterBytes = 15 + 5 + 7 + 100;
       },
       UploadOutcome::WriteFailed, " Fatal Error on Loading", false, ""},
      {"echo differs",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         auto count = std::make_shared<int>(0);
         rig.tamper->onRead = [count](std::uint8_t* b, std::uint32_t& got, std::uint32_t asked,
                                      const std::string& last) {
           if (asked == 1 && got == 1 && last.size() == 1 && ++*count == 50) b[0] ^= 1;
         };
       },
       UploadOutcome::EchoFailed, " Fatal Error on Loading (01)", false, ""},
      {"echo missing",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         auto count = std::make_shared<int>(0);
         rig.tamper->onRead = [count](std::uint8_t*, std::uint32_t& got, std::uint32_t asked,
                                      const std::string& last) {
           if (asked == 1 && last.size() == 1 && (got == 0 || ++*count >= 7)) got = 0;
         };
       },
       UploadOutcome::EchoFailed, " Fatal Error on Loading (01)", false, ""},
      {"read-back differs",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         rig.tamper->onRead = [](std::uint8_t* b, std::uint32_t& got, std::uint32_t asked,
                                 const std::string&) {
           if (asked == 3722 && got > 3000) b[3000] ^= 0x40;
         };
       },
       UploadOutcome::ReadBackFailed, " Fatal Error on Loading (02)", true, ""},
      {"read-back short",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         rig.tamper->onRead = [](std::uint8_t*, std::uint32_t& got, std::uint32_t asked,
                                 const std::string&) {
           if (asked == 3722) got = 3721;
         };
       },
       UploadOutcome::ReadBackFailed, " Fatal Error on Loading (02)", true, ""},
      {"no final acknowledgement",
       [](PresetRig& rig, HfpImage&, const std::string&) {
         auto readBackDone = std::make_shared<bool>(false);
         rig.tamper->onRead = [readBackDone](std::uint8_t*, std::uint32_t& got, std::uint32_t asked,
                                             const std::string&) {
           if (asked == 3722) {
             *readBackDone = true;
           } else if (*readBackDone && asked == 1) {
             got = 0;
           }
         };
       },
       UploadOutcome::NoFinalAck, " Fatal Error on Loading (03)", true, ""},
  };
}

TEST_P(UploadFailures, EveryFailureEndsCleanly) {
  const Failure f = Failures()[static_cast<std::size_t>(GetParam())];
  SCOPED_TRACE(f.name);
  const std::string before = rig.network.hardwarePresetNames()[7];
  f.arrange(rig, image, path);
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), f.outcome);
  ASSERT_FALSE(rig.frontend.boxes.empty());
  EXPECT_EQ(rig.frontend.boxes.back().text, f.box);
  if (f.outcome == UploadOutcome::FileError) {
    EXPECT_EQ(rig.frontend.boxes.back().caption, "File Error");
  } else {
    EXPECT_EQ(rig.frontend.boxes.back().caption, "");
    EXPECT_EQ(rig.frontend.boxes.back().buttons, link::Buttons::Ok);
  }
  if (!f.wireAfterSelect.empty()) {
    EXPECT_EQ(afterSelect(), f.wireAfterSelect);
  }
  // Every ending hides the progress bar, stops the tick counter and puts the time-out back.
  EXPECT_EQ(
      view.events.back() == "progress off" || (f.badFile && view.events.back() == "label Bad File"),
      true);
  EXPECT_FALSE(rig.ticks.running());
  if (!rig.sim->faults().unplugged) {
    EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
    EXPECT_FALSE(rig.protocolBus.MachineSelected);
    const std::string all = rig.pcBytes();
    EXPECT_EQ(all.substr(all.size() - 6), "T02feR");
    // The clean-up frames reached the processor as frames, not as payload of a cut upload.
    const auto& machine = rig.processor("H000000010001");
    EXPECT_FALSE(machine.uploading());
    EXPECT_FALSE(machine.inAccess);
    EXPECT_TRUE(rig.bus->selected().empty());
  }
  EXPECT_EQ(rig.network.hardwarePresetNames()[7], f.badFile ? "Bad File" : before);
  EXPECT_EQ(view.extraLabel, f.badFile ? "Bad File" : "");
  // An upload cut short in its payload says how long the bus stays unusable.
  if (f.outcome == UploadOutcome::EchoFailed) {
    EXPECT_NE(rig.frontend.statusDetail.find("wait 10 s"), std::string::npos)
        << rig.frontend.statusDetail;
  }
  // Waiting for a cut upload's processor to give up happens once, when the upload ends: the
  // refreshes after it take what a refresh takes.
  if (!rig.sim->faults().unplugged) {
    for (int n = 0; n < 2; ++n) {
      const double start = rig.sim->nowMs();
      rig.network.RefreshMachines();
      EXPECT_LT(rig.sim->nowMs() - start, kUploadReceiveTimeoutMs) << "refresh " << n + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, UploadFailures,
                         ::testing::Range(0, static_cast<int>(Failures().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return test::CaseName(
                               Failures()[static_cast<std::size_t>(info.param)].name);
                         });

// The editor holds slot 1's machine; the upload goes to slot 2's machine or to slot 1's own.
struct UploadWithEditor {
  int uploadSlot;
  std::string before;  // what precedes "J0745b4" on the wire
  bool editorStaysOpen;
};

class UploadBesideTheEditor : public UploadFixture,
                              public ::testing::WithParamInterface<UploadWithEditor> {};

TEST_P(UploadBesideTheEditor, GoesToTheSlotsOwnMachine) {
  const UploadWithEditor& c = GetParam();
  test::EditorOnRig editor(rig);
  editor.state.OpenEditorForSlot(0);
  rig.clear();
  EXPECT_EQ(rig.presets.UploadExtraPreset(c.uploadSlot), UploadOutcome::Done);
  const std::string upload = c.before + "J0745b4" + WireImage(image) + "T02feR";
  const std::string sent = rig.pcBytes();
  EXPECT_EQ(sent.substr(0, upload.size()), upload);
  const std::string target = c.uploadSlot == 0 ? "H000000010001" : "H000000010002";
  const std::string other = c.uploadSlot == 0 ? "H000000010002" : "H000000010001";
  EXPECT_EQ(rig.processor(target).extraName, "HALL PRESET       ");
  EXPECT_FALSE(rig.processor(other).extraPresent);
  EXPECT_EQ(editor.state.editorVisible(), c.editorStaysOpen);
  // After an upload to its own machine the editor selects that machine again, and its next band
  // edit reaches it; otherwise the bus is left free.
  EXPECT_EQ(rig.protocolBus.MachineSelected, c.editorStaysOpen);
  const std::string after = sent.substr(std::min(sent.size(), upload.size()));
  EXPECT_EQ(after.rfind("eR" + SlotSelectFrame("H000000010001") + "T01ff", 0) == 0,
            c.editorStaysOpen)
      << after;
  const int before = rig.processor("H000000010001").framesHandled['Q'];
  editor.bands[3]->SetGPotPos(3.0F);
  EXPECT_EQ(rig.processor("H000000010001").framesHandled['Q'] - before, c.editorStaysOpen ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Slots, UploadBesideTheEditor,
                         ::testing::Values(UploadWithEditor{1, "T02feRH000000010002fdT01ff", false},
                                           UploadWithEditor{0, "", true}),
                         [](const ::testing::TestParamInfo<UploadWithEditor>& info) {
                           return info.param.editorStaysOpen ? std::string("editors_slot")
                                                             : std::string("other_slot");
                         });

TEST_F(UploadFixture, ABadFileAfterAGoodOneIsNeverUploadedWithTheOldImage) {
  ASSERT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Done);
  rig.clear();
  const std::string other = rig.data.file("Broken.hfp");
  WriteBytes(other, {image.begin(), image.begin() + 10});
  rig.frontend.openFileAnswers.push_back(other);
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::CorruptedFile);
  EXPECT_EQ(rig.pcBytes().find("J0745b4"), std::string::npos);
}

TEST_F(UploadFixture, PicturePathFollowsAnExistingFileOnlyWhateverTheOutcome) {
  rig.network.slotAt(0).extraPresetPicture = "before.jpg";
  const std::string missing = rig.data.file("Gone.hfp");
  rig.frontend.openFileAnswers.clear();
  rig.frontend.openFileAnswers.push_back(missing);
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::FileError);
  EXPECT_EQ(rig.network.slotStates()[0].extraPresetPicture, "before.jpg");

  const std::string broken = rig.data.file("Broken.hfp");
  WriteBytes(broken, {image.begin(), image.begin() + 10});
  rig.frontend.openFileAnswers.push_back(broken);
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::CorruptedFile);
  EXPECT_EQ(rig.network.slotStates()[0].extraPresetPicture, rig.data.file("Broken.jpg"));
}

TEST_F(UploadFixture, LateReplyOfAnEarlierOperationIsDrainedBeforeTheSelect) {
  ASSERT_TRUE(
      test::LeaveALateReply(rig.protocolBus, rig.processor("H000000010001"), "H000000010001fe"));
  rig.clear();
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::Done);
  EXPECT_EQ(rig.pcBytes(), "H000000010001feT01ffJ0745b4" + WireImage(image) + "T02feR");
}

// The processor confirmed the payload but answers "N" to the end of access: the upload has failed
// and the Extra preset it holds is in doubt.
TEST_F(UploadFixture, AnEndOfAccessAnsweredNFailsTheUpload) {
  rig.processor("H000000010001").faults.tamper =
      [](char letter, const std::vector<std::uint8_t>& payload, std::string& reply) {
        if (letter == 'T' && payload == std::vector<std::uint8_t>{0x02}) reply = "N";
      };
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::EndRefused);
  EXPECT_EQ(rig.pcBytes(), "H000000010001feT01ffJ0745b4" + WireImage(image) + "T02feR");
  EXPECT_EQ(rig.network.hardwarePresetNames()[7], "Bad File");
  EXPECT_EQ(view.extraLabel, "Bad File");
  EXPECT_EQ(rig.frontend.statusText, "Comm Error");
  EXPECT_NE(rig.frontend.statusDetail.find("T02fe"), std::string::npos)
      << rig.frontend.statusDetail;
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
}

TEST_F(UploadFixture, SelectNotAcknowledgedSendsNothingElse) {
  rig.processor("H000000010001").faults.silent = true;
  EXPECT_EQ(rig.presets.UploadExtraPreset(0), UploadOutcome::SelectFailed);
  EXPECT_EQ(rig.pcBytes(), "H000000010001fe");
  EXPECT_EQ(rig.frontend.statusText, "Net Connection Fail");
  EXPECT_TRUE(rig.frontend.questions.empty());
}

}  // namespace
}  // namespace qubix::test

namespace qubix::test {
namespace {

// The same endings with the processor itself turning the upload down or spoiling it.
TEST_F(UploadFixture, ProcessorThatRefusesOrSpoilsTheUpload) {
  struct Case {
    const char* name;
    void (*arrange)(sim::ProcessorFaults&);
    UploadOutcome outcome;
    const char* box;
  };
  const Case cases[] = {
      {"refuses", [](sim::ProcessorFaults& f) { f.refusesUpload = true; }, UploadOutcome::Refused,
       " UpLoading Fail"},
      {"read-back", [](sim::ProcessorFaults& f) { f.corruptsReadBack = true; },
       UploadOutcome::ReadBackFailed, " Fatal Error on Loading (02)"},
      {"no commit", [](sim::ProcessorFaults& f) { f.withholdsCommit = true; },
       UploadOutcome::NoFinalAck, " Fatal Error on Loading (03)"},
  };
  for (const Case& c : cases) {
    sim::ProcessorFaults& faults = rig.processor("H000000010001").faults;
    faults = {};
    c.arrange(faults);
    rig.clear();
    rig.frontend.openFileAnswers.push_back(path);
    EXPECT_EQ(rig.presets.UploadExtraPreset(0), c.outcome) << c.name;
    ASSERT_FALSE(rig.frontend.boxes.empty()) << c.name;
    EXPECT_EQ(rig.frontend.boxes.back().text, c.box) << c.name;
    const std::string all = rig.pcBytes();
    EXPECT_EQ(all.substr(all.size() - 6), "T02feR") << c.name;
    EXPECT_FALSE(rig.protocolBus.MachineSelected) << c.name;
    EXPECT_EQ(rig.sim->readTimeoutMs(), 200u) << c.name;
  }
  EXPECT_EQ(rig.network.hardwarePresetNames()[7], "Bad File");
}

}  // namespace
}  // namespace qubix::test
