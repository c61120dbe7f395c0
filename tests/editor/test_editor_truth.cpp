// What the editor shows is what the processor runs, through the sequences an operator goes
// through: after every step the editor's bands, as the words the DSP takes, equal the simulated
// processor's coefficient memory (band and mirror copies), across closing, reopening, recalling,
// storing, importing, copying to all machines and a restart of the program.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/FilterImport.h"
#include "editor/UserPresets.h"
#include "filters/CoefficientWord.h"
#include "filters/EqBands.h"
#include "support/CaseNames.h"
#include "support/EditorRig.h"
#include "support/TempDir.h"
#include "support/TestEditorHost.h"

namespace qubix::test {
namespace {

constexpr const char* kIds[] = {"H000000010001", "H000000010002", "H000000010005"};

// One run of the program: the editor and its user preset operations over the bus and the data
// directory, which outlive it.
struct Run {
  Run(SimRig& rig, const std::filesystem::path& dir)
      : host(rig, dir), state(host), presets(state), bands(AttachBandModels(state)) {
    for (const char* id : kIds) {
      host.ids.push_back(id);
      host.records.emplace_back();
    }
  }
  TestEditorHost host;
  editor::EditorState state;
  editor::UserPresets presets;
  std::vector<std::unique_ptr<editor::BandModel>> bands;
};

struct World {
  TempDir scratch{"qubix-truth"};
  SimRig rig;
  std::unique_ptr<Run> run;
  World() {
    rig.connect();
    restart();
  }
  void restart() { run = std::make_unique<Run>(rig, scratch.path()); }
  editor::EditorState& state() { return run->state; }
};

// A 24-bit word as the DSP holds it, sign-extended.
std::int32_t Signed(std::uint32_t word) { return static_cast<std::int32_t>(word << 8) >> 8; }

// The five words b2, b0, b1, a2, a1 of a record in the processor's memory.
std::array<std::int32_t, 5> Words(const sim::Record& r) {
  std::array<std::int32_t, 5> w{};
  for (std::size_t k = 0; k < 5; ++k)
    w[k] = Signed(static_cast<std::uint32_t>(r[3 * k] << 16 | r[3 * k + 1] << 8 | r[3 * k + 2]));
  return w;
}

// The editor's bands against what the machine it holds runs. Words stored into a location go
// through 32-bit floats before the machine loads them back: a step or two of difference is that
// rounding, a band of another gain is thousands.
::testing::AssertionResult ShowsWhatRuns(World& w) {
  editor::EditorState& state = w.state();
  const std::string id = state.selectedMachineId();
  if (id.empty()) return ::testing::AssertionFailure() << "the editor holds no machine";
  const sim::SimProcessor& machine = w.rig.processor(id);
  for (int b = 0; b < editor::kBandCount; ++b) {
    const auto band = state.ComputeBand(b);
    if (!band) return ::testing::AssertionFailure() << "band " << b;
    const auto& c = *band;
    const std::array<double, 5> order{c.b2, c.b0, c.b1, c.a2, c.a1};
    for (const int offset : {0, filters::kMirrorAddressOffset}) {
      const auto at = static_cast<std::uint16_t>(filters::BandAddressAt(b) + offset);
      const auto held = Words(machine.coefficients.at(at));
      for (std::size_t k = 0; k < 5; ++k) {
        const std::int32_t shown = Signed(filters::CoefficientToWord(order[k]));
        if (std::abs(shown - held[k]) > 2)
          return ::testing::AssertionFailure()
                 << id << " band " << b + 1 << " (" << state.band(b).GPotPos() << " dB shown) word "
                 << k << " at " << at << ": shown " << shown << ", runs " << held[k];
      }
    }
  }
  return ::testing::AssertionSuccess();
}

struct Step {
  const char* name;
  std::function<void(World&)> act;
};

Step Open(int slot) {
  return {"open", [slot](World& w) { ASSERT_TRUE(w.state().OpenEditorForSlot(slot).ok); }};
}
Step Edit(int band, float gainDb) {
  return {"edit", [band, gainDb](World& w) {
            w.run->bands[static_cast<std::size_t>(band - 1)]->SetGPotPos(gainDb);
          }};
}
const Step kClose{"close", [](World& w) { EXPECT_TRUE(w.state().CloseEditor().ok); }};
Step Recall(int location) {
  return {"recall",
          [location](World& w) { EXPECT_TRUE(w.run->presets.RecallFromLocation(location).ok()); }};
}
Step Store(int location) {
  return {"store",
          [location](World& w) { EXPECT_TRUE(w.run->presets.StoreToLocation(location).ok); }};
}
const Step kImport{"import", [](World& w) {
                     filters::FilterImport in;
                     for (std::size_t b = 0; b < in.bands.size(); ++b)
                       in.bands[b] = {static_cast<float>(network::kEqDefaults.freqHz[b]), 0.0F,
                                      network::kEqDefaults.q[b]};
                     in.bands[4].gainDb = -9.0F;
                     EXPECT_TRUE(editor::ApplyImportedFilters(w.state(), in, false).sent);
                   }};
const Step kCopyToAll{"copy to all",
                      [](World& w) { EXPECT_TRUE(w.state().CopyBandsToAllMachines().ok); }};
// The program ends with the editor open (Exit or the main window's close box) and starts again.
const Step kExitAndRestart{"exit, restart", [](World& w) {
                             w.state().closeForExit();
                             w.restart();
                           }};

struct Sequence {
  const char* name;
  std::vector<Step> steps;
};

const Sequence kSequences[] = {
    {"EditCloseReopen", {Open(0), Edit(4, 9.0F), kClose, Open(0)}},
    {"EditCloseReopenRecall", {Open(0), Edit(5, -12.0F), kClose, Open(0), Recall(0)}},
    {"EditRecall", {Open(0), Edit(5, -12.0F), Recall(0)}},
    {"ImportCloseRecall", {Open(0), Store(0), kImport, kClose, Open(0), Recall(0)}},
    {"StoreTwoLocationsRecallFirst",
     {Open(0), Edit(5, -6.0F), Store(0), Edit(5, -12.0F), Store(3), kClose, Open(0), Recall(0),
      Recall(3)}},
    {"CopyToAllThenRecallOnAnother",
     {Open(0), Edit(5, -6.0F), kCopyToAll, kClose, Open(1), Recall(2), Open(2)}},
    {"ExitWithEditorOpenRestartOpen", {Open(0), Edit(5, 6.0F), kExitAndRestart, Open(0)}},
    {"OpenAnotherSlotAndBack", {Open(0), Edit(2, 3.0F), Open(1), Edit(2, -3.0F), Open(0)}},
};

class EditorTruth : public ::testing::TestWithParam<Sequence> {};

TEST_P(EditorTruth, TheEditorShowsWhatTheProcessorRunsAfterEveryStep) {
  World w;
  int n = 0;
  for (const Step& step : GetParam().steps) {
    ++n;
    step.act(w);
    if (::testing::Test::HasFatalFailure()) return;
    if (!w.state().selectedMachineId().empty()) {
      EXPECT_TRUE(ShowsWhatRuns(w)) << "after step " << n << " (" << step.name << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, EditorTruth, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qubix::test
