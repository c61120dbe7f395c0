#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/CaseNames.h"
#include "support/RecordingFrontend.h"
#include "support/TempDir.h"

using namespace qubix;

namespace qubix::test {
namespace {

namespace fs = std::filesystem;

// The station's data directory, with a helper to put a file into it.
struct DataDir : test::TempDir {
  DataDir() : TempDir("qubix-station") {}
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path() / name, std::ios::binary) << bytes;
  }
};

struct StationRig {
  StationRig()
      : bus(sim::makeDemoBus()),
        adapter(new sim::SimAdapter(bus)),
        station(std::unique_ptr<link::Adapter>(adapter), frontend, dir.path()) {}
  DataDir dir;
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* adapter;
  test::RecordingFrontend frontend;
  network::Station station;
};

struct NamesCase {
  const char* name;
  bool writeFile;
  std::string content;
  int linesRead;
  std::vector<std::string> expected;  // all eight
};

class PresetNamesTest : public ::testing::TestWithParam<NamesCase> {};

const std::vector<std::string> kDefaults{
    "TQ40+TQS2412 A Flw", "TQ40+TQS2412 A Stk", "TQ40+TQ40 A&&B",     "TQ40 4Ch in A",
    "TQS2412 x2 in A",    "4Ch Mono in A",      "4Ch Stereo in A&&B", "Extra Preset   "};

std::vector<std::string> With(std::vector<std::string> v, std::size_t i, std::string s) {
  v[i] = std::move(s);
  return v;
}

TEST_P(PresetNamesTest, MissingNamesKeepTheirDefaults) {
  const auto& c = GetParam();
  DataDir dir;
  if (c.writeFile) dir.write("hwpresetlist.dat", c.content);
  network::HardwarePresetNames names = network::DefaultHardwarePresetNames();
  const auto load = network::LoadHardwarePresetNames(dir.path() / "hwpresetlist.dat", names);
  EXPECT_EQ(load.fileFound, c.writeFile);
  EXPECT_EQ(load.linesRead, c.linesRead);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PresetNamesTest,
    ::testing::Values(
        NamesCase{"missing", false, "", 0, kDefaults}, NamesCase{"empty", true, "", 0, kDefaults},
        NamesCase{"threeLines", true, "A\nB\nC\n", 3,
                  With(With(With(kDefaults, 0, "A"), 1, "B"), 2, "C")},
        NamesCase{"noFinalNewline", true, "A\nB", 2, With(With(kDefaults, 0, "A"), 1, "B")},
        NamesCase{"crLf", true, "One\r\nTwo\r\n", 2, With(With(kDefaults, 0, "One"), 1, "Two")},
        NamesCase{"blankLineIsAName", true, "A\n\nC\n", 3,
                  With(With(With(kDefaults, 0, "A"), 1, ""), 2, "C")},
        NamesCase{"tenLines",
                  true,
                  "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n",
                  8,
                  {"0", "1", "2", "3", "4", "5", "6", "7"}},
        // A name holds 64 characters; the rest of a longer line is skipped, not kept.
        NamesCase{
            "overlongLine", true,
            std::string(64, 'x') + "\r\n" + std::string(1 << 20, 'y') + "\nC\n", 3,
            With(With(With(kDefaults, 0, std::string(64, 'x')), 1, std::string(64, 'y')), 2, "C")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PresetNames, TheShippedListIsTheDefaultList) {
  network::HardwarePresetNames names{};
  const auto load = network::LoadHardwarePresetNames(
      fs::path(QUBIX_TEST_DATA) / ".." / ".." / "data" / "hwpresetlist.dat", names);
  EXPECT_EQ(load.linesRead, 8);
  EXPECT_EQ(std::vector<std::string>(names.begin(), names.end()), kDefaults);
}

TEST(Station, StartsWithTheDefaultsOfTheRun) {
  StationRig rig;
  EXPECT_FALSE(rig.station.stopFlag);
  EXPECT_FALSE(rig.station.link.state().Connected);
  EXPECT_FALSE(rig.station.bus.MachineSelected);
  EXPECT_EQ(rig.station.machineListPath(), rig.dir.path() / "maclist.dat");
  EXPECT_EQ(rig.station.hardwarePresetPath(), rig.dir.path() / "hwpresetlist.dat");
}

TEST(Station, ConnectionTickConnectsThenStopsAndRefreshes) {
  StationRig rig;
  int stops = 0;
  rig.station.ConnectionTick([&] { ++stops; });
  EXPECT_TRUE(rig.station.link.state().Connected);
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(rig.frontend.processEventsCalls, 1);
  // Connected before the tick: no new attempt, just the refresh.
  rig.adapter->resetCalls();
  rig.station.ConnectionTick([&] { ++stops; });
  EXPECT_EQ(rig.adapter->calls().list, 0);
  EXPECT_EQ(stops, 2);
}

TEST(Station, ClosingWhileEventsRunEndsTheTickWithoutRefresh) {
  StationRig rig;
  rig.frontend.onProcessEvents = [&] { rig.station.Close(); };
  int stops = 0;
  rig.station.ConnectionTick([&] { ++stops; });
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(rig.bus->pcBytes(), "");  // no refresh talked to the bus
}

// A scan that found "Max Srch" machines leaves the stop flag set; an adapter pulled out and
// plugged back afterwards must still be found again by the 500 ms retries.
TEST(Station, RetriesGoOnAfterAScanSetTheStopFlag) {
  StationRig rig;
  rig.station.stopFlag = true;
  rig.adapter->faults().unplugged = true;
  int stops = 0;
  rig.station.ConnectionTick([&] { ++stops; });
  rig.station.ConnectionTick([&] { ++stops; });
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(rig.adapter->calls().list, 2);
  rig.adapter->faults().unplugged = false;
  rig.station.ConnectionTick([&] { ++stops; });
  EXPECT_TRUE(rig.station.link.state().Connected);
  EXPECT_EQ(stops, 1);
}

// The editor held H000000010002 when the link was lost or reopened: every way leaves no machine
// taken as selected, each on its own (a write failed at the driver, a failed device check in
// the refresh, the connect itself), so that after reconnecting the refresh selects the first
// listed machine itself and slot 0 shows its own values.
TEST(Station, NoSelectionSurvivesALostOrReopenedLink) {
  struct Case {
    const char* name;
    std::function<void(StationRig&)> lose;
  };
  const Case cases[] = {
      {"a write fails at the driver",
       [](StationRig& r) {
         r.adapter->faults().unplugged = true;
         EXPECT_FALSE(r.station.bus.ReadParameter(18));
         r.adapter->faults().unplugged = false;
       }},
      {"refresh's device check fails",
       [](StationRig& r) {
         r.adapter->faults().infoFails = true;
         r.station.network.RefreshMachines();
         r.adapter->faults().infoFails = false;
       }},
      {"connect again", [](StationRig& r) { r.station.link.Connect(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StationRig rig;
    rig.dir.write("maclist.dat", [] {
      std::string image(132, '\0');
      image.replace(0, 13, "H000000010001");
      image.replace(13, 13, "H000000010002");
      image[130] = 2;
      return image;
    }());
    rig.station.Connect();
    ASSERT_TRUE(rig.station.bus.SelectExchange("H000000010002fd"));
    c.lose(rig);
    EXPECT_FALSE(rig.station.bus.MachineSelected);
    rig.station.link.state().Connected = false;
    rig.bus->clearTranscript();
    rig.station.ConnectionTick([] {});
    EXPECT_EQ(rig.bus->pcBytes().substr(0, 17), "eRH000000010001fe");
    EXPECT_EQ(rig.station.network.slotAt(0).record.hardwarePreset, 0);
    EXPECT_EQ(rig.station.network.slotAt(1).record.hardwarePreset, 3);
  }
}

TEST(Station, CloseWhenTheReleaseCannotBeWrittenStillClosesTheAdapter) {
  StationRig rig;
  rig.station.Connect();
  ASSERT_TRUE(rig.station.bus.SelectExchange("H000000010001fe"));
  rig.adapter->faults().shortWrite = true;  // the "R" does not go out
  rig.adapter->resetCalls();
  rig.station.Close();
  EXPECT_EQ(rig.frontend.statusText, "Comm Error");
  EXPECT_EQ(rig.adapter->calls().close, 1);
  EXPECT_FALSE(rig.adapter->isOpen());
}

TEST(Station, ExitWithoutASelectionSendsNothing) {
  StationRig rig;
  rig.station.Connect();
  rig.bus->clearTranscript();
  struct CountingView final : network::NetworkView {
    void hideEditor() override { ++hidden; }
    int hidden = 0;
  } view;
  rig.station.setView(&view);
  rig.station.EndWorkForExit();
  EXPECT_EQ(rig.bus->pcBytes(), "");
  EXPECT_EQ(view.hidden, 0);
}

TEST(Station, LostWriteRestartsTheConnectionAndReconnects) {
  StationRig rig;
  int restarts = 0;
  rig.station.link.onConnectionLost = [&] { ++restarts; };
  rig.station.Connect();
  ASSERT_TRUE(rig.station.bus.SelectExchange("H000000010001fe"));
  rig.adapter->faults().unplugged = true;
  rig.station.bus.ReleaseMachine();
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(rig.frontend.statusText, "Connection Fail");
  rig.adapter->faults().unplugged = false;
  int stops = 0;
  rig.station.ConnectionTick([&] { ++stops; });
  EXPECT_TRUE(rig.station.link.state().Connected);
  EXPECT_EQ(stops, 1);
}

TEST(DecimalPoint, GuardSetsAPointAndRestores) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  {
    network::DecimalPointGuard guard;
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    EXPECT_STREQ(buf, "2.5");
    guard.restore();
    guard.restore();
  }
  EXPECT_EQ(std::string(std::setlocale(LC_NUMERIC, nullptr)), before);
}

}  // namespace

}  // namespace qubix::test
