#include <gtest/gtest.h>

#include "files/DurableFile.h"
#include "network/NetworkTexts.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

namespace texts = network::texts;

struct ScanRig : NetworkRig {
  explicit ScanRig(std::shared_ptr<sim::SimBus> b = sim::makeDemoBus()) : NetworkRig(std::move(b)) {
    connect();
  }
  // Loads the list from the file as the first refresh does, then forgets the records.
  void loadList(const std::vector<std::string>& ids) {
    writeList(ids, static_cast<int>(ids.size()));
    manager.RefreshMachines();
    clearRecords();
  }
};

TEST(Scan, EmptyBusProbesEveryAddressAndStoresTheListAgain) {
  ScanRig rig(BusWith(0));
  rig.loadList({"H000000010001"});
  rig.manager.StartOrStopScan();
  ASSERT_EQ(rig.view.probeFrames.size(), 2048u);
  EXPECT_EQ(rig.view.probeFrames.front(), "H000000010001fe");
  EXPECT_EQ(rig.view.probeFrames[255], "H000000010100fe");
  EXPECT_EQ(rig.view.probeFrames.back(), "H000000010800f7");
  EXPECT_EQ(rig.pcBytes().substr(0, 2048 * 15), Join(rig.view.probeFrames));
  EXPECT_EQ(rig.view.captions, (std::vector<std::string>{"StopScan", "ReScan"}));
  EXPECT_FALSE(rig.view.probeShown);
  EXPECT_FALSE(rig.manager.scanning());
  EXPECT_EQ(rig.manager.scanAddress(), 0);
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001"}, 1));
  EXPECT_EQ(rig.frontend.processEventsCalls, 2048);
  // Each probe waited its 200 ms read time-out, and nothing more.
  EXPECT_GE(rig.adapter->nowMs(), 2048 * 200.0);
}

TEST(Scan, MaxSearchOneStopsAfterTheFirstAnswer) {
  ScanRig rig;
  rig.manager.SetMaxSearch(1);
  rig.manager.StartOrStopScan();
  EXPECT_EQ(rig.view.probeFrames, std::vector<std::string>{"H000000010001fe"});
  const std::string refresh = Join(RefreshVisit("H000000010001fe", false)) + "R";
  EXPECT_EQ(rig.pcBytes(),
            "H000000010001fe"
            "R" +
                refresh);
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001"}, 1));
  EXPECT_TRUE(rig.stopFlag);
  EXPECT_EQ(rig.view.shown, std::vector<int>{0});
}

TEST(Scan, FindsTheThreeDemoProcessors) {
  ScanRig rig;
  rig.manager.SetMaxSearch(3);
  rig.manager.StartOrStopScan();
  EXPECT_EQ(rig.view.probeFrames.size(), 5u);
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001", "H000000010002", "H000000010005"}, 3));
  EXPECT_EQ(rig.view.listBox,
            (std::vector<std::string>{"H000000010001", "H000000010002", "H000000010005"}));
  EXPECT_EQ(rig.view.shown, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(rig.manager.scanCaption(), "ReScan");
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(Scan, MaxSearchChangedDuringTheScanTakesEffect) {
  ScanRig rig;
  rig.manager.SetMaxSearch(2);
  // The operator raises "Max Srch" while the scan lets events run after its first probe.
  rig.frontend.onProcessEvents = [&] {
    if (rig.frontend.processEventsCalls == 1) rig.manager.SetMaxSearch(3);
  };
  rig.manager.StartOrStopScan();
  EXPECT_EQ(rig.view.probeFrames.size(), 5u);
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001", "H000000010002", "H000000010005"}, 3));
}

TEST(Scan, StopScanDuringTheScan) {
  ScanRig rig(BusWith(0));
  rig.manager.SetMaxSearch(8);
  rig.frontend.onProcessEvents = [&] {
    if (rig.frontend.processEventsCalls == 10) rig.manager.StartOrStopScan();
  };
  rig.manager.StartOrStopScan();
  EXPECT_EQ(rig.view.probeFrames.size(), 10u);
  EXPECT_EQ(rig.view.captions, (std::vector<std::string>{"StopScan", " NetScan", "ReScan"}));
  EXPECT_FALSE(rig.manager.scanning());
  EXPECT_EQ(rig.listFile(), ListImage({}, 0));
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(Scan, ReleaseThatCannotBeWrittenEndsTheScanAtOnce) {
  ScanRig rig;
  rig.manager.SetMaxSearch(8);
  rig.frontend.onProcessEvents = [&] {
    // After the first probe: the adapter goes with the byte after the next probe, which is
    // the release of the machine that answers it.
    if (rig.frontend.processEventsCalls == 1) rig.adapter->faults().unplugAfterBytes = 16;
  };
  rig.manager.StartOrStopScan();
  ASSERT_FALSE(rig.frontend.boxes.empty());
  EXPECT_EQ(rig.frontend.boxes[0].text, " No write S");
  EXPECT_EQ(rig.frontend.boxes[0].caption, "");
  EXPECT_EQ(rig.view.probeFrames.size(), 2u);
  EXPECT_EQ(rig.manager.scanCaption(), "StopScan") << "left as it is";
  EXPECT_TRUE(rig.manager.scanning());
  EXPECT_EQ(rig.manager.scanAddress(), 2) << "the next scan continues after it";
  EXPECT_FALSE(std::filesystem::exists(rig.dir.path() / "maclist.dat"))
      << "a scan that lost the adapter stores nothing";
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(Scan, AdapterPulledHalfWayKeepsTheStoredList) {
  ScanRig rig;
  const std::vector<std::string> three{"H000000010001", "H000000010002", "H000000010005"};
  rig.loadList(three);
  rig.manager.SetMaxSearch(8);
  // Gone after the third probe: two of the three machines were found.
  rig.frontend.onProcessEvents = [&] {
    if (rig.frontend.processEventsCalls == 3) rig.adapter->faults().unplugged = true;
  };
  rig.manager.StartOrStopScan();
  EXPECT_EQ(rig.listFile(), ListImage(three, 3));
  EXPECT_EQ(rig.manager.list().count, 3);
  EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{" Connection Fail"});
  EXPECT_EQ(rig.pcBytes(), "H000000010001feRH000000010002fdRH000000010003fc")
      << "no refresh after the lost probe";
  EXPECT_EQ(rig.view.connectTimerRestarts, 1);
  EXPECT_FALSE(rig.frontend.busy);
}

TEST(Scan, PressWhileAMachineIsSelectedDoesNothing) {
  ScanRig rig;
  rig.protocolBus.MachineSelected = true;
  rig.manager.StartOrStopScan();
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_TRUE(rig.view.captions.empty());
  EXPECT_FALSE(std::filesystem::exists(rig.dir.path() / "maclist.dat"));
  EXPECT_FALSE(rig.frontend.busy) << "the cursor is given back";
}

TEST(Scan, FailedListWriteShowsFileErrorAndSkipsTheRefresh) {
  ScanRig rig;
  rig.manager.SetMaxSearch(1);
  files::SimulateFullDiskAfter(0);
  rig.manager.StartOrStopScan();
  files::SimulateFullDiskAfter(std::nullopt);
  EXPECT_EQ(rig.frontend.boxTexts(), std::vector<std::string>{std::string(texts::kFileWriteError)});
  EXPECT_EQ(rig.frontend.boxes[0].caption, "File Error");
  EXPECT_EQ(rig.pcBytes(),
            "H000000010001fe"
            "R");
}

TEST(AddMachine, MessagesThenSuccess) {
  ScanRig rig;
  rig.loadList({"H000000010001"});
  rig.frontend.textAnswers = {"12345", "000000010001", "000000010009", "000000010005"};
  EXPECT_TRUE(rig.manager.AddManually());
  EXPECT_EQ(rig.frontend.untilMessages,
            (std::vector<std::string>{"Invalid Format, Check Length", "Machine already in List",
                                      "Machine Not Found!", ""}));
  const std::string refresh = Join(RefreshVisit("H000000010001fe", false)) +
                              Join(RefreshVisit("H000000010005fa", true)) + "R";
  EXPECT_EQ(rig.pcBytes(),
            "H000000010009f6"
            "H000000010005fa" +
                refresh);
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001", "H000000010005"}, 2));
  EXPECT_EQ(rig.view.shown, (std::vector<int>{0, 1}));
}

TEST(AddMachine, TypedTextThatIsNoIdentifierSendsNothing) {
  ScanRig rig;
  for (const char* typed :
       {"12345", "", "0000000100051", "00000001000g", "0000 0010005", "00000001/../"}) {
    EXPECT_EQ(rig.manager.ProbeMachine(typed), network::ProbeResult::InvalidFormat) << typed;
  }
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_TRUE(rig.manager.listBox().empty());
}

TEST(AddMachine, AlreadyListedIgnoresCase) {
  auto bus = std::make_shared<sim::SimBus>();
  bus->addProcessor({0, 0, 0, 1, 0, 0xab});
  ScanRig rig(bus);
  rig.loadList({"H0000000100ab"});
  rig.bus->clearTranscript();
  EXPECT_EQ(rig.manager.ProbeMachine("0000000100AB"), network::ProbeResult::AlreadyListed);
  EXPECT_EQ(rig.pcBytes(), "");
}

TEST(AddMachine, UpperCaseDigitsAreSentAndStoredInLowerCase) {
  auto bus = std::make_shared<sim::SimBus>();
  bus->addProcessor({0, 0, 0, 1, 0, 0xab});
  ScanRig rig(bus);
  rig.frontend.textAnswers = {"0000000100AB"};
  EXPECT_TRUE(rig.manager.AddManually());
  EXPECT_EQ(rig.pcBytes().substr(0, 15), "H0000000100ab54");
  EXPECT_EQ(rig.listFile(), ListImage({"H0000000100ab"}, 1));
  EXPECT_EQ(rig.view.shown, (std::vector<int>{0}));
}

TEST(AddMachine, NinthMachineRefused) {
  ScanRig rig(BusWith(9));
  std::vector<std::string> ids;
  for (int k = 1; k <= 8; ++k) ids.push_back("H0000000100" + protocol::ByteToHex(k));
  rig.loadList(ids);
  rig.frontend.textAnswers = {"000000010009"};
  EXPECT_FALSE(rig.manager.AddManually());
  EXPECT_EQ(rig.frontend.untilMessages,
            std::vector<std::string>{"List Full, Remove A Machine First"});
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_EQ(rig.listFile(), ListImage(ids, 8));
}

TEST(AddMachine, CancelChangesNothing) {
  ScanRig rig;
  rig.loadList({"H000000010001"});
  rig.frontend.textAnswers = {std::nullopt};
  EXPECT_FALSE(rig.manager.AddManually());
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001"}, 1));
}

TEST(AddMachine, EndsWorkOnTheSelectedMachineFirst) {
  ScanRig rig;
  rig.loadList({"H000000010001"});
  ASSERT_TRUE(rig.protocolBus.SelectExchange("H000000010002fd"));
  rig.clearRecords();
  rig.frontend.textAnswers = {std::nullopt};
  rig.manager.AddManually();
  EXPECT_EQ(rig.pcBytes(), "T02feR");
  EXPECT_FALSE(rig.protocolBus.MachineSelected);
  EXPECT_EQ(rig.view.editorHides, 1);
}

TEST(RemoveMachine, RemoveOneThenEvery) {
  ScanRig rig;
  rig.loadList({"H000000010001", "H000000010002", "H000000010005"});
  rig.frontend.keepAnswers = {std::vector<std::string>{"H000000010001", "H000000010005"}};
  EXPECT_TRUE(rig.manager.RemoveMachines());
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001", "H000000010005", "H000000010005"}, 2));
  EXPECT_EQ(rig.view.shown, (std::vector<int>{0, 1}));
  rig.clearRecords();
  rig.frontend.keepAnswers = {std::vector<std::string>{}};
  EXPECT_TRUE(rig.manager.RemoveMachines());
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001", "H000000010005", "H000000010005"}, 0))
      << "old identifiers stay behind the count";
  EXPECT_EQ(rig.pcBytes(), "R");
  EXPECT_TRUE(rig.view.shown.empty());
  EXPECT_TRUE(rig.view.listBox.empty());
}

TEST(RemoveMachine, CancelChangesNothing) {
  ScanRig rig;
  rig.loadList({"H000000010001"});
  rig.frontend.keepAnswers = {std::nullopt};
  EXPECT_FALSE(rig.manager.RemoveMachines());
  EXPECT_EQ(rig.pcBytes(), "");
  EXPECT_EQ(rig.listFile(), ListImage({"H000000010001"}, 1));
}

}  // namespace
}  // namespace qubix::test
