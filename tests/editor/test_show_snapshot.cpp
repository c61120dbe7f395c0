// A show taken of every machine on the bus and put back: the processors run again what they ran
// when it was taken, whatever was changed meanwhile, and reading them back finds no difference.
// A machine that fails half-way (silent, an "N" for an "O") or is not on the bus is named and
// never counted as restored, and the other machines are restored all the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "editor/HeadlessEditor.h"
#include "editor/ShowSnapshot.h"
#include "network/Station.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

const std::vector<std::string> kIds{"H000000010001", "H000000010002", "H000000010005"};

// What a processor runs: the part of its memory a restore brings back.
struct Runs {
  sim::Settings live;
  std::array<std::uint8_t, 4> levels;
  std::map<std::uint16_t, sim::Record> coefficients;
  int hardwarePreset;
  friend bool operator==(const Runs&, const Runs&) = default;
  // The channel levels cannot be read back: a restore leaves an unmuted channel at the show's
  // amplifier level, as unmuting it in the editor does.
  Runs asRestored() const {
    Runs r = *this;
    for (auto& level : r.levels) level = level == 0 ? 0 : live.ampLevel;
    return r;
  }
};
void PrintTo(const Runs& r, std::ostream* os) {
  const sim::Settings& s = r.live;
  *os << "gains " << +s.gainA << "/" << +s.gainB << " attenuations " << +s.atten12 << "/"
      << +s.atten34 << " delays " << s.delay12 << "/" << s.delay34 << " amp " << +s.ampLevel
      << " levels";
  for (auto l : r.levels) *os << " " << +l;
  *os << " preset " << r.hardwarePreset << " " << r.coefficients.size() << " bands";
}

// The program as the command-line tool assembles it, on the demo processors, listed and read.
struct ShowRig {
  ShowRig()
      : bus(sim::makeDemoBus()),
        sim(new sim::SimAdapter(bus, sim::ClockMode::Virtual)),
        station(std::unique_ptr<link::Adapter>(sim), frontend, dir.path()),
        ticks([this] { return sim->nowMs(); }),
        presets(station.link, station.bus, station.commands, frontend, station.network, ticks),
        editor(station) {
    WriteFile(dir.path() / "maclist.dat", ListImage(kIds, static_cast<int>(kIds.size())));
    presets.setEditor(&editor.state);
    station.link.Connect();
    station.network.RefreshMachines();
  }
  sim::SimProcessor& processor(int k) { return *bus->find(kIds[static_cast<std::size_t>(k)]); }
  Runs runs(int k) {
    const sim::SimProcessor& p = processor(k);
    return {p.live, p.channelLevel, p.coefficients, p.hardwarePreset};
  }
  // Machine k made to run the change (and the hardware preset) as an operator would.
  void set(int k, const editor::MachineChange& change, std::optional<int> preset) {
    if (preset) {
      ASSERT_EQ(presets.ApplyHardwarePreset(k, *preset), network::PresetChangeOutcome::Done);
    }
    ASSERT_TRUE(editor::HoldMachine(editor, k, /*fresh=*/false).ok);
    const editor::ChangeResult r = editor::ApplyMachineChange(editor, change);
    ASSERT_TRUE(r.outcome.ok) << r.outcome.reason;
  }
  editor::RestoreReport restore(const editor::ShowSnapshot& show) {
    return editor::RestoreShowSnapshot(editor, presets, station.network, show);
  }

  TempDir dir{"qubix-show"};
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* sim;  // owned by the station's link
  RecordingFrontend frontend;
  network::Station station;
  network::TickCounter ticks;
  network::HardwarePresets presets;
  editor::HeadlessEditor editor;
};

// What machine k runs in the show (variant 0) and what it was changed to afterwards (variant
// 1): distinct for every machine and every variant.
using Values = std::function<void(int k, int variant, editor::MachineChange&, std::optional<int>&)>;

void Levels(int k, int v, editor::MachineChange& c, std::optional<int>&) {
  c.inputGainDb = {-1.5 * (k + 1 + 3 * v), 0.5 * (k + 2 * v)};
  c.attenuationDb = {-2.0 * (k + 1 + v), -0.5 * (k + 4 * v)};
  c.delay = {10 * k + 7 * v + 1, 300 - k - 5 * v};
  c.ampLevelDb = -3.0 * (k + 1 + 2 * v);
}
void Mutes(int k, int v, editor::MachineChange& c, std::optional<int>&) {
  c.mute = {false, false, false, false};
  c.mute[static_cast<std::size_t>((k + v) % 4)] = true;
  c.mute[static_cast<std::size_t>((k + v + 2) % 4)] = k % 2 == 0;
}
void Bands(int k, int v, editor::MachineChange& c, std::optional<int>&) {
  auto& band = c.bands[static_cast<std::size_t>(k + 3 * v)];
  band = {250.0 * (k + 1) + 1000 * v, 6.0 - k - 9 * v, 0.7 + 0.5 * k + v};
  c.bands[9].gain = -2.5 * (k + 1 + v);
}
void Flat(int k, int v, editor::MachineChange& c, std::optional<int>&) {
  c.bands[2].gain = 4.5 + k + v;
  c.flat = (k + v) % 2 == 0;
}
void HardwarePreset(int k, int v, editor::MachineChange&, std::optional<int>& preset) {
  preset = 1 + (k + 3 * v) % 6;
}
void Everything(int k, int v, editor::MachineChange& c, std::optional<int>& preset) {
  for (const auto& part : {Levels, Mutes, Bands, HardwarePreset}) part(k, v, c, preset);
}

struct RoundTrip {
  const char* name;
  Values values;
};

// Sets the show on every machine, takes it, sets the other variant and restores the show.
struct Restored {
  editor::ShowSnapshot show;
  std::vector<Runs> taken;
};
Restored TakeAndChange(ShowRig& rig, const Values& values) {
  Restored out;
  for (int variant : {0, 1}) {
    for (int k = 0; k < static_cast<int>(kIds.size()); ++k) {
      editor::MachineChange change;
      std::optional<int> preset;
      values(k, variant, change, preset);
      rig.set(k, change, preset);
    }
    if (variant == 1) break;
    const editor::SnapshotTake take = editor::TakeShowSnapshot(rig.editor, rig.station.network);
    EXPECT_TRUE(take.outcome.ok) << take.outcome.reason;
    out.show = take.machines;
    for (int k = 0; k < static_cast<int>(kIds.size()); ++k)
      out.taken.push_back(rig.runs(k).asRestored());
  }
  for (int k = 0; k < static_cast<int>(kIds.size()); ++k)
    EXPECT_NE(rig.runs(k), out.taken[static_cast<std::size_t>(k)]) << "machine " << k;
  return out;
}

class ShowRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(ShowRoundTrip, TheProcessorsRunTheShowAgain) {
  ShowRig rig;
  const Restored r = TakeAndChange(rig, GetParam().values);
  ASSERT_EQ(r.show.size(), kIds.size());
  const editor::RestoreReport report = rig.restore(r.show);
  EXPECT_TRUE(report.outcome.ok) << report.outcome.reason;
  EXPECT_EQ(report.notApplied, std::vector<std::string>{});
  EXPECT_EQ(report.differences, std::vector<std::string>{});
  for (int k = 0; k < static_cast<int>(kIds.size()); ++k) {
    EXPECT_EQ(rig.runs(k), r.taken[static_cast<std::size_t>(k)]) << kIds[static_cast<size_t>(k)];
    ASSERT_TRUE(editor::HoldMachine(rig.editor, k, /*fresh=*/true).ok);
    EXPECT_EQ(editor::Differences(r.show[static_cast<std::size_t>(k)],
                                  editor::ReadMachineValues(rig.editor, rig.station.network)),
              std::vector<std::string>{});
  }
}

const RoundTrip kRoundTrips[] = {{"Levels", Levels},
                                 {"Mutes", Mutes},
                                 {"Bands", Bands},
                                 {"Flat", Flat},
                                 {"HardwarePreset", HardwarePreset},
                                 {"Everything", Everything}};
INSTANTIATE_TEST_SUITE_P(Shows, ShowRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// Every value a restore sets is compared on reading back, under its own name.
TEST(ShowDifferences, NameTheValueThatDiffers) {
  struct Case {
    const char* line;
    std::function<void(editor::MachineValues&)> change;
  };
  const Case cases[] = {
      {"hardwarePreset: 2 wanted, 0 read", [](auto& m) { m.hardwarePreset = 2; }},
      {"inputGain.b: -3.5 wanted, 0 read", [](auto& m) { m.inputGainDb[1] = -3.5; }},
      {"attenuation.ch34: -6 wanted, 0 read", [](auto& m) { m.attenuationDb[1] = -6; }},
      {"delay.ch12: 12 wanted, 0 read", [](auto& m) { m.delay[0] = 12; }},
      {"mute.4: 1 wanted, 0 read", [](auto& m) { m.mute[3] = true; }},
      {"ampLevel: -10 wanted, 0 read", [](auto& m) { m.ampLevelDb = -10; }},
      {"flat: 1 wanted, 0 read", [](auto& m) { m.flat = true; }},
      {"bands.3.frequency: 1250 wanted, 1000 read", [](auto& m) { m.bands[2].frequency = 1250; }},
      {"bands.10.gain: 4.5 wanted, 0 read", [](auto& m) { m.bands[9].gain = 4.5; }},
      {"bands.1.q: 1.4 wanted, 1 read", [](auto& m) { m.bands[0].q = 1.4; }},
  };
  const editor::MachineValues read;
  for (const Case& c : cases) {
    editor::MachineValues want = read;
    want.userPreset = "User Config 3";  // what the machine last recalled: never a difference
    c.change(want);
    EXPECT_EQ(editor::Differences(want, read), std::vector<std::string>{c.line});
  }
}

enum class Fault { Silent, Nak, NotOnBus };
struct FaultCase {
  const char* name;
  int machine;  // the one at fault
  Fault fault;
  Values values = Everything;  // with or without a hardware preset change
};

class ShowRestoreFault : public ::testing::TestWithParam<FaultCase> {};

// Frames machine k handles from now on; from the strike-th on, the fault plays.
struct FrameCounter {
  int seen = 0;
  int strike = 0;
  int spoiled = 0;
};

TEST_P(ShowRestoreFault, NamesTheMachineAndRestoresTheOthers) {
  const FaultCase& c = GetParam();
  const std::string id = kIds[static_cast<std::size_t>(c.machine)];
  // A clean restore counts the frames the machine at fault handles.
  int clean = 0;
  {
    ShowRig rig;
    const Restored r = TakeAndChange(rig, c.values);
    rig.processor(c.machine).faults.tamper = [&](char, const auto&, std::string&) { ++clean; };
    ASSERT_TRUE(rig.restore(r.show).outcome.ok);
  }
  ShowRig rig;
  Restored r = TakeAndChange(rig, c.values);
  FrameCounter count{0, clean / 3, 0};
  sim::SimProcessor& machine = rig.processor(c.machine);
  machine.faults.tamper = [&](char, const auto&, std::string& answer) {
    if (++count.seen < count.strike) return;
    if (c.fault == Fault::Silent) {
      machine.faults.silent = true;
      answer.clear();
    } else if (c.fault == Fault::Nak && count.spoiled < 1 && answer == "O") {
      answer = "N";
      ++count.spoiled;
    }
  };
  std::string named = id;
  if (c.fault == Fault::NotOnBus)
    r.show[static_cast<std::size_t>(c.machine)].id = named = "H000000010009";

  const editor::RestoreReport report = rig.restore(r.show);
  EXPECT_FALSE(report.outcome.ok);
  EXPECT_EQ(report.outcome.reason.rfind(named + ": ", 0), 0U) << report.outcome.reason;
  const auto about = [](const std::vector<std::string>& lines, const std::string& who) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.rfind(who, 0) == 0; });
  };
  EXPECT_GT(about(report.notApplied, named), 0);
  // Read back, the machine that refused a write shows what it lacks.
  if (c.fault == Fault::Nak) {
    EXPECT_GT(about(report.differences, named), 0);
  }
  EXPECT_NE(rig.runs(c.machine), r.taken[static_cast<size_t>(c.machine)]);
  for (int k = 0; k < static_cast<int>(kIds.size()); ++k) {
    if (k == c.machine) continue;
    const std::string& other = kIds[static_cast<std::size_t>(k)];
    EXPECT_EQ(rig.runs(k), r.taken[static_cast<std::size_t>(k)]) << other;
    EXPECT_EQ(about(report.notApplied, other), 0) << other;
    EXPECT_GT(about(report.applied, other), 0) << other;
    EXPECT_EQ(about(report.differences, other), 0) << other;
  }
}

const FaultCase kFaults[] = {
    {"FirstSilent", 0, Fault::Silent},
    {"MiddleSilent", 1, Fault::Silent},
    {"MiddleAnswersN", 1, Fault::Nak},
    {"LastAnswersN", 2, Fault::Nak},
    {"FirstNotOnBus", 0, Fault::NotOnBus},
    {"MiddleNotOnBus", 1, Fault::NotOnBus},
    {"FirstSilentSamePresets", 0, Fault::Silent, Levels},
    {"MiddleAnswersNSamePresets", 1, Fault::Nak, Levels},
};
INSTANTIATE_TEST_SUITE_P(Faults, ShowRestoreFault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qubix::test
