// The hardware preset change and the Extra preset upload on the simulator's virtual clock (exact
// and repeatable), next to the time their described sequence takes on the same simulated
// processor: its own waits (the preset switch, the upload's commit), the waits for silence the
// sequence asks for, and every byte both ways on the wire. over_described_ms is what the program
// spends beyond that. QUBIX_BENCH_TRANSCRIPT=1 prints each run's bursts with their times.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "sim/SimProcessor.h"
#include "support/RecordingFrontend.h"

namespace {

using namespace qubix;

struct Rig {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "qubix_bench_timing";
  std::shared_ptr<sim::SimBus> bus = sim::makeDemoBus();
  sim::SimAdapter* adapter = new sim::SimAdapter(bus, sim::ClockMode::Virtual);
  test::RecordingFrontend frontend;
  network::Station station{std::unique_ptr<link::Adapter>(adapter), frontend, dir};
  // The upload's tick clock; its last reading is when the final "O" was read (the counter stops).
  double lastTickRead = 0;
  network::TickCounter ticks{[this] { return lastTickRead = adapter->nowMs(); }};
  network::HardwarePresets presets{station.link, station.bus,     station.commands,
                                   frontend,     station.network, ticks};

  Rig() {
    std::filesystem::create_directories(dir);
    station.link.Connect();
    network::MachineList one;
    one.setEntry(0, "H000000010001");
    one.count = 1;
    station.network.UseMachineList(one);
    station.network.slotAt(0).identifier = "H000000010001";
    station.network.slotAt(0).selectFrame = network::SlotSelectFrame("H000000010001");
    bus->clearTranscript();
  }
  ~Rig() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  double wireMs() const {
    return static_cast<double>(bus->pcBytes().size() + bus->machineBytes().size()) *
           bus->wire().byteMs();
  }
  void printTranscript(const char* what, double start) const {
    if (std::getenv("QUBIX_BENCH_TRANSCRIPT") == nullptr) return;
    std::fprintf(stderr, "%s\n", what);
    for (const auto& e : bus->transcript)
      std::fprintf(stderr, "  %10.1f %s %.40s\n", e.atMs - start, e.fromPc ? "pc " : "dsp",
                   e.bytes.c_str());
  }
};

void Report(benchmark::State& state, double busMs, double describedMs) {
  state.SetIterationTime(busMs / 1000.0);
  state.counters["bus_ms"] = busMs;
  state.counters["described_ms"] = describedMs;
  state.counters["over_described_ms"] = busMs - describedMs;
}

// The described change: select, "T01ff", the preset command, the processor's switch, a wait for
// 4 s of silence, value 24, another wait for 4 s, value 18, "T02fe", release.
void BM_HardwarePresetChange(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig;
    const double start = rig.adapter->nowMs();
    if (rig.presets.ApplyHardwarePreset(0, 4) != network::PresetChangeOutcome::Done)
      state.SkipWithError("preset change failed");
    const double busMs = rig.adapter->nowMs() - start;
    rig.printTranscript("hardware preset change", start);
    Report(state, busMs, sim::timing::kPresetSwitchMs + 2 * 4000.0 + rig.wireMs());
  }
}

// The described upload: select, "T01ff", two drains at the standard time-out, "J0745b4", the
// payload with its echoes, the read-back and the final "O" (as long as the simulated processor
// takes for them in this run), "T02fe", release, and the wait for 5 s of silence.
void BM_ExtraPresetUpload(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig;
    network::HfpImage image{};
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13);
    network::SealHfpImage(image);
    const auto path = (rig.dir / "bench.hfp").string();
    {
      std::FILE* f = std::fopen(path.c_str(), "wb");
      std::fwrite(image.data(), 1, image.size(), f);
      std::fclose(f);
    }
    const double start = rig.adapter->nowMs();
    if (rig.presets.UploadExtraPresetFile(0, path) != network::UploadOutcome::Done)
      state.SkipWithError("upload failed");
    const double busMs = rig.adapter->nowMs() - start;
    rig.printTranscript("Extra preset upload", start);
    // From "J0745b4" on the wire to the final "O" read: the processor's part, as long as it
    // takes in this run.
    const auto& t = rig.bus->transcript;
    const auto begin = std::find_if(t.begin(), t.end(), [](const sim::TranscriptEntry& e) {
      return e.fromPc && e.bytes.starts_with("J0745b4");
    });
    if (begin == t.end()) {
      state.SkipWithError("no payload in the transcript");
      continue;
    }
    const double payloadMs = rig.lastTickRead - begin->atMs;
    const double framingBytes = 15 + 1 + 5 + 1 + 5 + 1 + 1;  // select, "T01ff", "T02fe", "R"
    Report(state, busMs, 2 * 200.0 + payloadMs + 5000.0 + framingBytes * rig.bus->wire().byteMs());
  }
}

BENCHMARK(BM_HardwarePresetChange)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ExtraPresetUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
