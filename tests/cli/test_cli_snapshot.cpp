// qubix24ctl snapshot: a show saved from the simulated bus and restored after the machines were
// changed brings their values back; a show file that cannot be restored is refused with the
// reason, and nothing reaches the bus.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "cli/StationSession.h"
#include "network/MachineList.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

// The demo bus, kept from one run of the tool to the next, and a data directory listing it.
struct SnapshotRig {
  SnapshotRig() {
    network::MachineList list;
    for (const char* id : {"H000000010001", "H000000010002", "H000000010005"})
      list.setEntry(list.count++, id);
    std::string error;
    network::WriteMachineListFile(dir.path() / "maclist.dat", list, error);
    cli::SetAdapterForTesting([bus = bus] {
      return compose::withSimulatorClock(
          std::make_unique<sim::SimAdapter>(bus, sim::ClockMode::Virtual));
    });
  }
  ~SnapshotRig() { cli::SetAdapterForTesting({}); }
  CliResult run(const std::string& verb, const std::string& file) {
    return RunCli(
        {"snapshot", verb, file, "--link", "sim:virtual", "--data-dir", dir.path().string()});
  }
  sim::SimProcessor& processor(const char* id) { return *bus->find(id); }

  TempDir dir{"qubix-cli-show"};
  std::shared_ptr<sim::SimBus> bus = sim::makeDemoBus();
};

std::string ReadText(const std::string& path) {
  const auto bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}
void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(CliSnapshot, RestoreBringsBackWhatWasSaved) {
  SnapshotRig rig;
  const std::string file = rig.dir.file("show.json");
  CliResult r = rig.run("save", file);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3 machines saved to " + file + "\n");
  sim::SimProcessor& second = rig.processor("H000000010002");
  const sim::Settings saved = second.live;
  const int preset = second.hardwarePreset;
  // Changed behind the tool's back, as at the machine's front panel.
  second.live.delay12 = 200;
  second.live.gainB = 150;
  second.hardwarePreset = 6;
  r = rig.run("restore", file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3 machines restored, 0 values differ\n");
  EXPECT_EQ(second.live, saved);
  EXPECT_EQ(second.hardwarePreset, preset);
}

TEST(CliSnapshot, AShowFileThatCannotBeRestoredIsRefusedBeforeAnythingIsSent) {
  SnapshotRig rig;
  const std::string good = rig.dir.file("show.json");
  ASSERT_EQ(rig.run("save", good).status, 0);
  const std::string text = ReadText(good);
  // The first machine of the file, changed.
  const auto edited = [&](const std::function<void(QJsonObject&)>& edit) {
    QJsonObject show = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    QJsonArray machines = show["machines"].toArray();
    QJsonObject first = machines[0].toObject();
    edit(first);
    machines[0] = first;
    show["machines"] = machines;
    return QJsonDocument(show).toJson().toStdString();
  };
  struct Case {
    const char* name;
    std::string file;  // empty: no file at all
    const char* message;
  };
  const Case cases[] = {
      {"Truncated", text.substr(0, text.size() / 2), ": not JSON: "},
      {"AmpLevelAboveZero", edited([](QJsonObject& m) { m["ampLevel"] = 3; }),
       ": machines[0].ampLevel: 3 is outside -127.5 … 0: nothing was sent"},
      {"DelayOffAStep", edited([](QJsonObject& m) {
         m["delay"] = QJsonObject{{"ch12", 1.5}, {"ch34", 0}};
       }),
       ": machines[0].delay.ch12: 1.5 is not a step of 1 within 0 … 310: nothing was sent"},
      {"UnknownField", edited([](QJsonObject& m) { m["volume"] = 1; }),
       ": machines[0].volume: no such field: nothing was sent"},
      {"BandMissing", edited([](QJsonObject& m) {
         QJsonArray bands = m["bands"].toArray();
         bands.removeLast();
         m["bands"] = bands;
       }),
       ": machines[0].bands: all ten bands are wanted: nothing was sent"},
      {"Missing", "", ": cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = rig.dir.file(std::string(c.name) + ".json");
    if (!c.file.empty()) WriteText(path, c.file);
    rig.bus->clearTranscript();
    const CliResult r = rig.run("restore", path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("qubix24ctl: " + path + c.message, 0), 0U) << r.err;
    EXPECT_EQ(rig.bus->pcBytes(), "");
  }
}

}  // namespace
}  // namespace qubix::test
