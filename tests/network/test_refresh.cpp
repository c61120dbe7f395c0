#include <gtest/gtest.h>

#include "network/NetworkTexts.h"
#include "support/CaseNames.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

using network::RefreshOutcome;
namespace texts = network::texts;

struct RefreshRig : NetworkRig {
  explicit RefreshRig(std::shared_ptr<sim::SimBus> b = sim::makeDemoBus())
      : NetworkRig(std::move(b)) {
    connect();
  }
};

TEST(Refresh, WithoutListFileSendsNothing) {
  RefreshRig rig;
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::NoListFile);
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_TRUE(rig.view.listBox.empty());
  EXPECT_TRUE(rig.view.shown.empty());
  EXPECT_EQ(rig.adapter->readTimeoutMs(), 200u);
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(Refresh, CountZeroSendsOneRelease) {
  RefreshRig rig;
  rig.writeList({"H000000010001"}, 0);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::Done);
  EXPECT_EQ(rig.pcBytes(), "R");
  EXPECT_TRUE(rig.view.listBox.empty());
  EXPECT_TRUE(rig.view.shown.empty());
}

TEST(Refresh, OneProcessor) {
  RefreshRig rig;
  rig.writeList({"H000000010002"}, 1);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::Done);
  EXPECT_EQ(rig.pcBytes(), Join(RefreshVisit("H000000010002fd", false)) + "R");
  EXPECT_EQ(rig.view.listBox, std::vector<std::string>{"H000000010002"});
  ASSERT_EQ(rig.view.shown, std::vector<int>{0});
  const auto& d = rig.view.displays[0];
  EXPECT_EQ(d.identifier, "H000000010002");
  EXPECT_EQ(d.hardwarePreset, "TQ40 4Ch in A");
  EXPECT_EQ(d.userPreset, "User Config 2");
  EXPECT_EQ(*d.picture, rig.dir.path() / "Controller03.jpg");
  EXPECT_EQ(d.windowHeight, 300);
  const auto& r = rig.manager.slotStates()[0].record;
  EXPECT_EQ(r.gainA, 168);
  EXPECT_EQ(r.outAttn34, 231.0f);
  EXPECT_EQ(r.delay12, 12);
  EXPECT_EQ(rig.manager.slotStates()[0].extraPresetName, "Idle Preset");
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_TRUE(rig.commands.liveBand().mirror);
  EXPECT_EQ(rig.adapter->readTimeoutMs(), 200u);
}

TEST(Refresh, EightProcessorsAndEntriesBeyondTheSlots) {
  RefreshRig rig(BusWith(10));
  std::vector<std::string> ids;
  for (int k = 1; k <= 10; ++k) ids.push_back("H0000000100" + protocol::ByteToHex(k));
  rig.writeList(ids, 10);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::Done);
  std::string expected;
  for (int k = 1; k <= 8; ++k)
    expected += Join(
        RefreshVisit(ids[static_cast<std::size_t>(k - 1)] + protocol::ByteToHex(-(1 + k)), false));
  EXPECT_EQ(rig.pcBytes(), expected + "R");
  EXPECT_EQ(rig.view.shown, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(rig.view.displays.back().windowHeight, 740);
  EXPECT_EQ(rig.view.listBox, ids) << "entries 9 and 10 stay listed";
  EXPECT_EQ(rig.manager.shownSlots(), 8);
}

TEST(Refresh, SilentSelectEndsTheRefresh) {
  RefreshRig rig;
  rig.processor("H000000010002").faults.silent = true;
  rig.writeList({"H000000010001", "H000000010002", "H000000010005"}, 3);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::SelectFailed);
  EXPECT_EQ(rig.pcBytes(), Join(RefreshVisit("H000000010001fe", false)) + "eRH000000010002fd");
  EXPECT_EQ(rig.view.listBox, std::vector<std::string>{"H000000010001"});
  EXPECT_TRUE(rig.view.shown.empty());
  EXPECT_EQ(rig.frontend.statusText, "Net Connection Fail");
  EXPECT_FALSE(rig.frontend.busy);
  EXPECT_EQ(rig.adapter->readTimeoutMs(), 200u);
}

TEST(Refresh, AdapterGoneShowsConnectionFail) {
  RefreshRig rig;
  rig.writeList({"H000000010001", "H000000010002"}, 2);
  rig.adapter->faults().infoFails = true;
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::ConnectionFail);
  EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{" Connection Fail"});
  EXPECT_EQ(rig.frontend.boxes[0].caption, "");
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_FALSE(rig.link.state().Connected);
  EXPECT_EQ(rig.view.connectTimerRestarts, 1);
  EXPECT_TRUE(rig.view.listBox.empty());
  EXPECT_TRUE(rig.view.shown.empty());
}

TEST(Refresh, ExtraPresetWithAndWithoutName) {
  RefreshRig rig;
  auto& noExtra = rig.processor("H000000010001");
  noExtra.hardwarePreset = 7;
  rig.writeList({"H000000010001", "H000000010005"}, 2);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::Done);
  EXPECT_EQ(rig.pcBytes(), Join(RefreshVisit("H000000010001fe", false)) +
                               Join(RefreshVisit("H000000010005fa", true)) + "R");
  ASSERT_EQ(rig.view.displays.size(), 2u);
  EXPECT_EQ(rig.view.displays[0].hardwarePreset, "Idle Preset");
  EXPECT_EQ(*rig.view.displays[0].picture, rig.dir.path() / "notextrapset.jpg");
  EXPECT_EQ(rig.view.displays[1].hardwarePreset, "STAGE LEFT FILL   ");
  EXPECT_EQ(*rig.view.displays[1].picture, rig.dir.path() / "extrapset.jpg");
  EXPECT_EQ(rig.manager.slotStates()[1].extraPresetPicture,
            (rig.dir.path() / "presets" / "STAGE LEFT FILL.jpg").string());
}

TEST(Refresh, SettingsFileNamedAfterTheMachinesOwnIdentifier) {
  RefreshRig rig;
  rig.bus->addProcessor({0, 0, 0, 3, 0, 0});
  const std::string templ(180, '\x11');
  const std::string mine(180, '\x22');
  WriteFile(rig.dir.path() / "H000000010000.dat", templ);
  WriteFile(rig.dir.path() / "H000000010002.dat", mine);
  // What a copy onto a full disk used to leave: zero bytes, which are no settings at all.
  WriteFile(rig.dir.path() / "H000000010001.dat", "");
  rig.writeList({"H000000030000", "H000000010002", "H000000010001", "H000000010000"}, 4);
  rig.manager.RefreshMachines();  // ends at the last entry, which no processor answers
  EXPECT_EQ(ReadFile(rig.dir.path() / "H000000030000.dat"), templ);
  EXPECT_EQ(ReadFile(rig.dir.path() / "H000000010002.dat"), mine) << "never overwritten";
  EXPECT_EQ(ReadFile(rig.dir.path() / "H000000010000.dat"), templ) << "template untouched";
  EXPECT_EQ(ReadFile(rig.dir.path() / "H000000010001.dat"), templ) << "damaged file replaced";
  EXPECT_TRUE(std::filesystem::exists(rig.dir.path() / "H000000010001.dat.bad"));
  // The status line says so last, and its tool tip names the file.
  EXPECT_EQ(rig.frontend.statusText, "File Error");
  EXPECT_EQ(rig.frontend.statusColours.back(), link::kRed);
  EXPECT_NE(rig.frontend.statusDetail.find("H000000010001.dat.bad"), std::string::npos)
      << rig.frontend.statusDetail;
  EXPECT_EQ(rig.manager.fileProblems().size(), 1u);
}

TEST(Refresh, DamagedEntryNamesNoFile) {
  RefreshRig rig;
  WriteFile(rig.dir.path() / "H000000010000.dat", std::string(180, '\x11'));
  std::filesystem::create_directories(rig.dir.path() / "sub");
  // Thirteen characters that would name a file in another folder.
  rig.writeList({"sub/x00000000"}, 1);
  rig.manager.RefreshMachines();
  EXPECT_TRUE(std::filesystem::is_empty(rig.dir.path() / "sub"));
}

TEST(Refresh, DamagedCountIsAFileErrorAndSendsNothing) {
  RefreshRig rig;
  rig.writeList({"H000000010001"}, 300);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::FileError);
  EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{std::string(texts::kFileReadError)});
  EXPECT_EQ(rig.frontend.boxes[0].caption, "File Error");
  EXPECT_EQ(rig.frontend.boxes[0].buttons, link::Buttons::OkCancel);
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_TRUE(rig.view.shown.empty());
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001"}, 300)) << "the file is left alone";
}

TEST(Refresh, MissingPresetPictureIsAFileError) {
  RefreshRig rig;
  rig.view.loadPictures = true;
  // Pictures of presets 0 and 3 only; the demo machine H000000010005 runs preset 7.
  for (const char* name : {"Controller00.jpg", "Controller03.jpg"})
    std::filesystem::copy_file(std::filesystem::path(QUBIX_DATA_DIR) / name, rig.dir.path() / name);
  rig.writeList({"H000000010001", "H000000010002", "H000000010005"}, 3);
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::FileError);
  EXPECT_EQ(rig.view.shown, (std::vector<int>{0, 1}));
  EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{std::string(texts::kFileReadError)});
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(Refresh, ButtonIgnoredWhileAMachineIsSelected) {
  RefreshRig rig;
  rig.writeList({"H000000010001"}, 1);
  rig.protocolBus.MachineSelected = true;
  rig.manager.RefreshUnlessBusy();
  EXPECT_EQ(rig.pcBytes(), "");
  rig.protocolBus.MachineSelected = false;
  rig.manager.RefreshUnlessBusy();
  EXPECT_EQ(rig.view.shown, std::vector<int>{0});
}

// The second machine's reads fail in one way or another. What its slot shows is never the
// record of reads that failed: the values of an earlier full read of the same machine, or
// "Unknown"; the status line and the outcome say so; the first machine is unaffected.
struct ReadFaultCase {
  const char* name;
  void (*spoil)(sim::ProcessorFaults&);
  bool readBefore;  // an earlier refresh read the machine in full
  RefreshOutcome outcome;
  std::string slotPreset;  // what slot 1 shows
  std::vector<std::string> boxes;
};

void PrintTo(const ReadFaultCase& c, std::ostream* os) { *os << c.name; }

class RefreshReadFaults : public ::testing::TestWithParam<ReadFaultCase> {};

TEST_P(RefreshReadFaults, SlotShowsNoValueThatWasNotRead) {
  const ReadFaultCase& c = GetParam();
  RefreshRig rig;
  rig.writeList({"H000000010001", "H000000010002"}, 2);
  if (c.readBefore) {
    ASSERT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::Done);
  }
  rig.frontend.forgetHistory();
  c.spoil(rig.processor("H000000010002").faults);
  EXPECT_EQ(rig.manager.RefreshMachines(), c.outcome);
  ASSERT_EQ(rig.view.shown, (std::vector<int>{0, 1}));
  EXPECT_EQ(rig.view.displays[0].hardwarePreset, "TQ40+TQS2412 A Flw");
  EXPECT_EQ(rig.view.displays[1].hardwarePreset, c.slotPreset);
  EXPECT_EQ(rig.frontend.boxTexts(), c.boxes);
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  if (c.outcome == RefreshOutcome::Done) {
    EXPECT_TRUE(rig.manager.readFaults().empty());
    return;
  }
  EXPECT_EQ(rig.frontend.statusText, " Read Fail");
  EXPECT_EQ(rig.frontend.statusColour, link::kRed);
  ASSERT_EQ(rig.manager.readFaults().size(), 1u);
  EXPECT_EQ(rig.manager.readFaults()[0].identifier, "H000000010002");
  EXPECT_EQ(rig.manager.readFaults()[0].parameter, 18);
  EXPECT_NE(rig.frontend.statusDetail.find("H000000010002"), std::string::npos);
}

const std::string kFileError(texts::kFileReadError);

INSTANTIATE_TEST_SUITE_P(
    Faults, RefreshReadFaults,
    ::testing::Values(ReadFaultCase{"unanswered",
                                    [](sim::ProcessorFaults& f) { f.queryReply = "0"; },
                                    false,
                                    RefreshOutcome::ReadFailed,
                                    "Unknown",
                                    {}},
                      ReadFaultCase{"unansweredAfterAFullRead",
                                    [](sim::ProcessorFaults& f) { f.queryReply = "0"; },
                                    true,
                                    RefreshOutcome::ReadFailed,
                                    "TQ40 4Ch in A",
                                    {}},
                      ReadFaultCase{"notHexadecimal",
                                    [](sim::ProcessorFaults& f) { f.nonHexValue = true; },
                                    false,
                                    RefreshOutcome::ReadFailed,
                                    "Unknown",
                                    {kFileError}},
                      ReadFaultCase{"badChecksumIsAFailedRead",
                                    [](sim::ProcessorFaults& f) { f.wrongChecksum = true; },
                                    false,
                                    RefreshOutcome::ReadFailed,
                                    "Unknown",
                                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A reply that came after its time-out, in an earlier operation, must not be read as the answers
// to the refresh's own frames, whether it has arrived or is still on its way when the refresh
// starts: after a failed exchange the refresh drains the line first. With no failure since the
// line was last quiet, nothing can be on its way, and the first frame goes out at once.
TEST(Refresh, LateReplyOfAnEarlierOperationNeverAnswersItsFrames) {
  const std::string visits = Join(RefreshVisit("H000000010001fe", false)) +
                             Join(RefreshVisit("H000000010002fd", false)) + "R";
  const struct {
    const char* name;
    bool lateReply;
    double waitMs;  // from the release to the refresh; the reply arrives 100 ms after it
    bool firstFrameAtOnce;
  } cases[] = {
      {"no failure before", false, 0.0, true},
      {"arrived", true, 150.0, false},
      {"on its way", true, 0.0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RefreshRig rig;
    rig.writeList({"H000000010001", "H000000010002"}, 2);
    if (c.lateReply) {
      ASSERT_TRUE(
          LeaveALateReply(rig.protocolBus, rig.processor("H000000010001"), "H000000010001fe"));
    }
    rig.adapter->clock().advance(c.waitMs);
    rig.clearRecords();
    const double start = rig.adapter->nowMs();
    EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::Done);
    EXPECT_EQ(rig.pcBytes(), visits);
    EXPECT_EQ(rig.view.shown, (std::vector<int>{0, 1}));
    ASSERT_FALSE(rig.bus->transcript.empty());
    if (c.firstFrameAtOnce) {
      EXPECT_LT(rig.bus->transcript.front().atMs - start, 5.0) << "the first frame waited";
    }
  }
}

}  // namespace
}  // namespace qubix::test

namespace qubix::test {
namespace {

// A machine whose answers come after their time-out: its reads fail, and its last reply arrives
// while the refresh moves on. The drain after its failed reads keeps that reply from answering
// the next machine's select or its queries.
TEST(Refresh, LateRepliesOfAFailedMachineNeverAnswerTheNext) {
  RefreshRig rig;
  rig.writeList({"H000000010002", "H000000010005"}, 2);
  // Its last value comes after the refresh's time-out, and before the next machine is selected.
  rig.processor("H000000010002").faults.lateQueryMs[16] = 600.0;
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::ReadFailed);
  ASSERT_EQ(rig.manager.readFaults().size(), 1u);
  EXPECT_EQ(rig.manager.readFaults()[0].identifier, "H000000010002");
  const auto& next = rig.manager.slotStates()[1].record;
  EXPECT_EQ(next.hardwarePreset, 7);
  EXPECT_EQ(next.userPreset, 1);
  EXPECT_EQ(rig.manager.slotStates()[1].extraPresetName, "STAGE LEFT FILL   ");
}

// The kind of a machine's read fault is the kind of its first failed read, not of a later one:
// a reply that is not a number gives the "File Error" box even when later reads fail otherwise.
TEST(Refresh, TheFirstFailedReadNamesTheFault) {
  RefreshRig rig;
  rig.writeList({"H000000010002"}, 1);
  rig.processor("H000000010002").faults.tamper =
      [](char letter, const std::vector<std::uint8_t>& payload, std::string& answer) {
        if (letter != 'I') return;
        if (payload.at(0) == 13) answer[1] = 'g';                    // not hexadecimal
        if (payload.at(0) > 13 && payload.at(0) <= 16) answer = "";  // then silence
      };
  EXPECT_EQ(rig.manager.RefreshMachines(), RefreshOutcome::ReadFailed);
  ASSERT_EQ(rig.manager.readFaults().size(), 1u);
  EXPECT_EQ(rig.manager.readFaults()[0].parameter, 13);
  EXPECT_TRUE(rig.manager.readFaults()[0].notANumber());
  EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{std::string(texts::kFileReadError)});
  EXPECT_EQ(ReadFaultText(rig.manager.readFaults()[0]),
            "H000000010002 answered parameter 13 with characters that are not hexadecimal");
}

}  // namespace
}  // namespace qubix::test
