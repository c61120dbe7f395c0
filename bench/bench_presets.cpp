// Bus time of the preset operations in the simulator's virtual time (exact and repeatable),
// next to their pure wire time (every byte both ways at 115200 baud, 10 bits a byte): a full
// Extra preset upload and a store of the editor's settings into a user preset location. Both
// come from the same run; bus_over_wire is their ratio.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "editor/HeadlessEditor.h"
#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/RecordingFrontend.h"

namespace {

using namespace qubix;

struct Rig {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "qubix_bench_presets";
  std::shared_ptr<sim::SimBus> bus = sim::makeDemoBus();
  sim::SimAdapter* adapter = new sim::SimAdapter(bus, sim::ClockMode::Virtual);
  test::RecordingFrontend frontend;
  network::Station station{std::unique_ptr<link::Adapter>(adapter), frontend, dir};

  Rig() {
    std::filesystem::create_directories(dir);
    station.link.Connect();
    network::MachineList one;
    one.setEntry(0, "H000000010001");
    one.count = 1;
    station.network.UseMachineList(one);
    station.network.slotAt(0).identifier = "H000000010001";
    station.network.slotAt(0).selectFrame = network::SlotSelectFrame("H000000010001");
  }
  ~Rig() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  double wireMs() const {
    return static_cast<double>(bus->pcBytes().size() + bus->machineBytes().size()) *
           bus->wire().byteMs();
  }
};

void Report(benchmark::State& state, double busMs, double wireMs) {
  state.SetIterationTime(busMs / 1000.0);
  state.counters["bus_ms"] = busMs;
  state.counters["wire_ms"] = wireMs;
  state.counters["bus_over_wire"] = wireMs > 0 ? busMs / wireMs : 0.0;
}

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
    network::TickCounter ticks([&rig] { return rig.adapter->nowMs(); });
    network::HardwarePresets presets(rig.station.link, rig.station.bus, rig.station.commands,
                                     rig.frontend, rig.station.network, ticks);
    rig.bus->clearTranscript();
    const double start = rig.adapter->nowMs();
    if (presets.UploadExtraPresetFile(0, path) != network::UploadOutcome::Done)
      state.SkipWithError("upload failed");
    Report(state, rig.adapter->nowMs() - start, rig.wireMs());
  }
}

void BM_StoreToProcessorMemory(benchmark::State& state) {
  for (auto _ : state) {
    Rig rig;
    editor::HeadlessEditor ed(rig.station);
    ed.state.OpenEditorForSlot(0);
    rig.bus->clearTranscript();
    const double start = rig.adapter->nowMs();
    if (!ed.presets.StoreToLocation(7)) state.SkipWithError("store failed");
    Report(state, rig.adapter->nowMs() - start, rig.wireMs());
  }
}

BENCHMARK(BM_ExtraPresetUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_StoreToProcessorMemory)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
