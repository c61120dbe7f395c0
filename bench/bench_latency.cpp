// What the FTDI chip's latency timer costs the bus, in the simulator's virtual time (exact and
// repeatable): a refresh of eight processors, one equaliser band step and a full Extra preset
// upload, with the chip's stock settings (16 ms, no event character) and with ours (2 ms, "O").
// Each benchmark reports both times and their ratio from the same run; the reported iteration
// time is ours.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>

#include "link/Link.h"
#include "link/backends/Latency.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/SimRig.h"

namespace {

using namespace qubix;

protocol::Identifier machine(int n) { return {0, 0, 0, 1, 0, static_cast<std::uint8_t>(n)}; }

std::shared_ptr<sim::SimBus> eightProcessors() {
  auto bus = std::make_shared<sim::SimBus>();
  for (int n = 1; n <= 8; ++n) bus->addProcessor(machine(n));
  return bus;
}

// A bus of eight processors, a link through a simulated chip with the given settings, connected.
struct Rig {
  test::SimRig sim{eightProcessors()};
  sim::SimAdapter* adapter = sim.adapter;
  link::Link* link = &sim.link;
  protocol::Bus* protocolBus = &sim.protocolBus;

  explicit Rig(bool ours) {
    adapter->emulateChip(true);
    link->Connect();
    if (ours) {
      adapter->setLatencyTimer(link->state().handle, link::backends::kLatencyTimerMs);
      adapter->setEventCharacter(link->state().handle, link::backends::kEventCharacter, true);
    }
  }
  double nowMs() const { return adapter->nowMs(); }
};

// The list refresh's traffic: every machine selected after the "e", "R" preamble, its eleven
// status values read, then the release and the final drain.
void refreshEight(Rig& rig) {
  auto& bus = *rig.protocolBus;
  rig.link->SetReadTimeout(500);
  for (int n = 1; n <= 8; ++n) {
    rig.link->QueryDeviceInfo();
    bus.SelectMachine(protocol::SelectFrame(machine(n)));
    for (int p : {18, 17, 13, 14, 11, 12, 15, 16, 24}) bus.ReadParameter(p);
    bus.MachineSelected = false;  // the next preamble releases it
  }
  bus.ReleaseMachine();
  rig.link->SetReadTimeout(link::kStandardTimeoutMs);
  rig.link->DrainInput();
}

// One step of an equaliser band: its coefficients to the band and the mirror address.
void bandStep(Rig& rig) {
  protocol::Commands commands(*rig.protocolBus);
  commands.liveBand().set(filters::BandAddressAt(3), 1.01, -1.9, 0.9, -1.9, 0.91);
  commands.liveBand().mirror = true;
  commands.SendBandCoefficients();
}

void selectForEditing(Rig& rig) {
  rig.protocolBus->SelectMachine(protocol::SelectFrame(machine(3)));
}

// The Extra preset upload's traffic: the command, 3722 bytes each waiting for its echo, the
// read-back in one read and the final "O".
void upload(Rig& rig) {
  auto& link = *rig.link;
  link.DrainInput();
  link.WriteText("J0745b4");
  std::uint8_t byte = 0;
  std::uint32_t n = 0;
  link.RawRead(&byte, 1, n);
  for (std::size_t i = 0; i < sim::kExtraPayloadSize; ++i) {
    const std::uint8_t out = static_cast<std::uint8_t>(0x20 + i % 0x5f + 15);
    std::uint32_t written = 0;
    link.RawWrite(&out, 1, written);
    link.RawRead(&byte, 1, n);
  }
  std::string back(sim::kExtraPayloadSize, '\0');
  link.SetReadTimeout(10000);
  link.RawRead(reinterpret_cast<std::uint8_t*>(back.data()), sim::kExtraPayloadSize, n);
  link.SetReadTimeout(link::kStandardTimeoutMs);
  for (int tries = 0; tries < 50 && !(n == 1 && byte == 'O'); ++tries) link.RawRead(&byte, 1, n);
}

// Runs `scenario` on a fresh rig with each setting; reports both and their ratio.
void sideBySide(benchmark::State& state, const std::function<void(Rig&)>& prepare,
                const std::function<void(Rig&)>& scenario) {
  double stockMs = 0.0, oursMs = 0.0;
  for (auto _ : state) {
    for (bool ours : {false, true}) {
      Rig rig(ours);
      if (prepare) prepare(rig);
      const double start = rig.nowMs();
      scenario(rig);
      (ours ? oursMs : stockMs) = rig.nowMs() - start;
    }
    state.SetIterationTime(oursMs / 1000.0);
  }
  state.counters["stock_ms"] = stockMs;
  state.counters["ours_ms"] = oursMs;
  state.counters["stock_over_ours"] = oursMs > 0 ? stockMs / oursMs : 0.0;
}

void BM_RefreshEightProcessors(benchmark::State& state) {
  sideBySide(state, nullptr, refreshEight);
}
void BM_BandStep(benchmark::State& state) { sideBySide(state, selectForEditing, bandStep); }
void BM_ExtraPresetUpload(benchmark::State& state) {
  sideBySide(state, selectForEditing, upload);
}

BENCHMARK(BM_RefreshEightProcessors)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BandStep)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExtraPresetUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
