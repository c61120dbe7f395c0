// Bus time of the machine list refresh (eight processors) and of a full scan of an empty bus,
// measured on the simulated bus's virtual clock, next to the pure wire time of the bytes they
// exchange. The difference is what the sequence itself waits for: the reply delays of the
// processors, the read time-outs of probes nobody answers and the closing drain. Anything the
// program added beyond those would show as "added_ms".
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "link/Link.h"
#include "network/Station.h"
#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/RecordingFrontend.h"

namespace {

using namespace qubix;

struct Rig {
  explicit Rig(int processors) {
    dir = std::filesystem::temp_directory_path() /
          ("qubix_bench_network_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    bus = std::make_shared<sim::SimBus>();
    std::string image(132, '\0');
    for (int k = 1; k <= processors; ++k) {
      bus->addProcessor({0, 0, 0, 1, 0, static_cast<std::uint8_t>(k)});
      image.replace(static_cast<std::size_t>(k - 1) * 13, 13,
                    "H0000000100" + protocol::ByteToHex(k));
    }
    image[130] = static_cast<char>(processors);
    std::ofstream(dir / "maclist.dat", std::ios::binary).write(image.data(), 132);
    adapter = new sim::SimAdapter(bus, sim::ClockMode::Virtual);
    station =
        std::make_unique<network::Station>(std::unique_ptr<link::Adapter>(adapter), frontend, dir);
    station->Connect();
  }
  ~Rig() {
    station.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // Wire time of every byte exchanged since the transcript was last cleared.
  double wireMs() const {
    return static_cast<double>(bus->pcBytes().size() + bus->machineBytes().size()) *
           bus->wire().byteMs();
  }

  std::filesystem::path dir;
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* adapter = nullptr;
  test::RecordingFrontend frontend;
  std::unique_ptr<network::Station> station;
};

void Report(benchmark::State& state, double busMs, double wireMs, double waitsMs) {
  state.counters["bus_ms"] = busMs;
  state.counters["wire_ms"] = wireMs;
  state.counters["waits_ms"] = waitsMs;
  state.counters["added_ms"] = busMs - wireMs - waitsMs;
  state.counters["bus_per_wire"] = busMs / wireMs;
}

void BM_RefreshEightProcessors(benchmark::State& state) {
  Rig rig(8);
  double busMs = 0, wireMs = 0;
  for (auto _ : state) {
    rig.bus->clearTranscript();
    rig.frontend.forgetHistory();
    const double start = rig.adapter->nowMs();
    rig.station->network.RefreshMachines();
    busMs = rig.adapter->nowMs() - start;
    wireMs = rig.wireMs();
  }
  // What the sequence waits for by itself: each reply's start delay, the opening discard's one
  // empty read of kDiscardWaitMs, and the closing drain, whose one empty read lasts the 200 ms
  // read time-out. (An opening drain that waited a whole read time-out showed as 200 "added".)
  const double replies = 8.0 * 12.0;  // e, R, select, eight reads, the Extra preset query
  const double waits = replies * sim::timing::kAnswerMs + link::kDiscardWaitMs + 200.0;
  Report(state, busMs, wireMs, waits);
}
BENCHMARK(BM_RefreshEightProcessors)->Unit(benchmark::kMillisecond);

void BM_ScanEmptyBus(benchmark::State& state) {
  Rig rig(0);
  double busMs = 0, wireMs = 0;
  for (auto _ : state) {
    rig.bus->clearTranscript();
    rig.frontend.forgetHistory();
    const double start = rig.adapter->nowMs();
    rig.station->network.ScanBus();
    busMs = rig.adapter->nowMs() - start;
    wireMs = rig.wireMs();
  }
  // The opening drain under the 1000 ms time-out, then 2048 probes each waiting 200 ms.
  const double waits = 1000.0 + 2048.0 * 200.0;
  Report(state, busMs, wireMs, waits);
}
BENCHMARK(BM_ScanEmptyBus)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
