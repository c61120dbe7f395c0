// One equaliser band step in the editor, end to end on the simulated bus: the strip's new gain,
// the editor's band handler, the coefficient computation and the two "Q" exchanges (band and
// mirror). The bus share is the simulator's virtual time (exact); the program's own share is
// the same step with the link down, so that nothing waits for the wire. Both come from one run:
// BM_EditorBandStep reports bus_ms and own_us (and own_share, own time over the whole step); its
// iteration time is the wired step in wall time, simulator included: an upper bound on the
// program's own share, which must stay far below 1 ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "editor/EditorState.h"
#include "link/Link.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/SimRig.h"

namespace {

using namespace qubix;

class OneMachineHost : public editor::EditorHost {
 public:
  explicit OneMachineHost(protocol::Bus& bus, link::Frontend& fe) : commands_(bus), fe_(fe) {}
  protocol::Commands& commands() override { return commands_; }
  link::Frontend& frontend() override { return fe_; }
  std::filesystem::path dataDir() const override { return std::filesystem::temp_directory_path(); }
  int machineCount() const override { return 1; }
  std::string machineId(int) const override { return "H000000010001"; }
  std::string selectFrame(int) const override { return protocol::SelectFrame({0, 0, 0, 1, 0, 1}); }
  int currentMachine() const override { return 0; }
  void setCurrentMachine(int) override {}
  void selectListItem(int) override {}
  int listSelection() const override { return 0; }
  editor::EditorSlotValues slotValues(int) const override { return {}; }
  void storeSlotValues(int, const editor::EditorSlotValues&) override {}
  std::string hardwarePresetName(int) const override { return {}; }
  std::string userPresetName(int) const override { return {}; }
  void connectionLost() override {}

 private:
  protocol::Commands commands_;
  link::Frontend& fe_;
};

std::shared_ptr<sim::SimBus> oneProcessor() {
  auto bus = std::make_shared<sim::SimBus>();
  bus->addProcessor({0, 0, 0, 1, 0, 1});
  return bus;
}

struct Rig {
  test::SimRig sim{oneProcessor()};
  std::shared_ptr<sim::SimBus> bus = sim.bus;
  sim::SimAdapter* adapter = sim.adapter;
  test::RecordingFrontend& frontend = sim.frontend;
  link::Link* link = &sim.link;
  protocol::Bus* protocolBus = &sim.protocolBus;
  std::unique_ptr<OneMachineHost> host;
  std::unique_ptr<editor::EditorState> state;
  std::vector<std::unique_ptr<editor::BandModel>> bands;

  explicit Rig(bool connected) {
    host = std::make_unique<OneMachineHost>(*protocolBus, frontend);
    state = std::make_unique<editor::EditorState>(*host);
    std::array<editor::BandStrip*, editor::kBandCount> ptrs{};
    for (int i = 0; i < editor::kBandCount; ++i) {
      bands.push_back(
          std::make_unique<editor::BandModel>(1000.0F, 1.4F, filters::BandAddressAt(i)));
      bands.back()->onChangePar = [this, i] { state->BandChanged(i); };
      ptrs[static_cast<std::size_t>(i)] = bands.back().get();
    }
    state->attachBands(ptrs);
    state->EditorShown();
    host->commands().liveBand().mirror = true;
    if (connected) {
      link->Connect();
      protocolBus->SelectExchange(host->selectFrame(0));
    }
  }
  double nowMs() const { return adapter->nowMs(); }
};

// Gains of a drag: 0.25 dB per step up and down the fader.
float StepGain(int i) { return 0.25F * static_cast<float>((i % 96) - 48); }

void BM_EditorBandStep(benchmark::State& state) {
  Rig wired(true);
  Rig idle(false);
  double busMs = 0;
  double ownNs = 0;
  std::int64_t steps = 0;
  int i = 0;
  for (auto _ : state) {
    const double before = wired.nowMs();
    wired.bands[3]->SetGPotPos(StepGain(i));
    busMs += wired.nowMs() - before;
    state.PauseTiming();
    wired.frontend.forgetHistory();  // what the status line showed is not kept across steps
    const auto t0 = std::chrono::steady_clock::now();
    idle.bands[3]->SetGPotPos(StepGain(i));
    ownNs +=
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    state.ResumeTiming();
    ++steps;
    ++i;
  }
  const double stepBusMs = steps ? busMs / static_cast<double>(steps) : 0.0;
  const double stepOwnUs = steps ? ownNs / static_cast<double>(steps) / 1000.0 : 0.0;
  state.counters["bus_ms"] = stepBusMs;
  state.counters["own_us"] = stepOwnUs;
  state.counters["own_share"] =
      stepBusMs > 0 ? (stepOwnUs / 1000.0) / (stepOwnUs / 1000.0 + stepBusMs) : 0.0;
  state.counters["q_frames"] = static_cast<double>(wired.bus->processors()[0]->framesHandled['Q']) /
                               static_cast<double>(steps ? steps : 1);
}
BENCHMARK(BM_EditorBandStep);

// The program's own work alone: the same step with the link down.
void BM_EditorBandStepOwn(benchmark::State& state) {
  Rig idle(false);
  int i = 0;
  for (auto _ : state) idle.bands[3]->SetGPotPos(StepGain(i++));
}
BENCHMARK(BM_EditorBandStepOwn);

}  // namespace

BENCHMARK_MAIN();
