// What the FTDI chip's latency timer costs the bus, in the simulator's virtual time (exact and
// repeatable): a refresh of eight processors, one equaliser band step and a full Extra preset
// upload, with the chip's stock settings (16 ms, no event character) and with ours (2 ms, "O").
// Each benchmark reports both times and their ratio from the same run; the reported iteration
// time is ours.
//
// What a bus behind a device server costs, on the real clock: the same refresh and band step
// through qubix24-sim's pseudo-terminal, once opened locally and through ser2net's raw TCP port
// on the loopback address twice, with ser2net's default settings and with the settings the
// README gives, reported side by side with their ratios to the local path. ser2net and the serial
// backend open the pseudo-terminal through the interposer the tests build, so the program
// re-runs itself with it preloaded. Without ser2net these two are skipped, saying why.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "compose/LinkFactory.h"
#include "link/Link.h"
#include "link/backends/Latency.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/ChildProcess.h"
#ifdef QUBIX_PTY_SHIM
#include "support/PtyInterposer.h"
#endif
#include "support/RecordingFrontend.h"
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
void refreshEight(link::Link& link, protocol::Bus& bus) {
  link.SetReadTimeout(500);
  for (int n = 1; n <= 8; ++n) {
    link.QueryDeviceInfo();
    bus.SelectMachine(protocol::SelectFrame(machine(n)));
    for (int p : {18, 17, 13, 14, 11, 12, 15, 16, 24}) bus.ReadParameter(p);
    bus.MachineSelected = false;  // the next preamble releases it
  }
  bus.ReleaseMachine();
  link.SetReadTimeout(link::kStandardTimeoutMs);
  link.DrainInput();
}
void refreshEight(Rig& rig) { refreshEight(*rig.link, *rig.protocolBus); }

// One step of an equaliser band: its coefficients to the band and the mirror address.
void bandStep(protocol::Bus& bus) {
  protocol::Commands commands(bus);
  commands.liveBand().set(filters::BandAddressAt(3), 1.01, -1.9, 0.9, -1.9, 0.91);
  commands.liveBand().mirror = true;
  commands.SendBandCoefficients();
}
void bandStep(Rig& rig) { bandStep(*rig.protocolBus); }

void selectForEditing(protocol::Bus& bus) { bus.SelectMachine(protocol::SelectFrame(machine(3))); }
void selectForEditing(Rig& rig) { selectForEditing(*rig.protocolBus); }

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
  sideBySide(state, nullptr, [](Rig& rig) { refreshEight(rig); });
}
void BM_BandStep(benchmark::State& state) {
  sideBySide(
      state, [](Rig& rig) { selectForEditing(rig); }, [](Rig& rig) { bandStep(rig); });
}
void BM_ExtraPresetUpload(benchmark::State& state) {
  sideBySide(
      state, [](Rig& rig) { selectForEditing(rig); }, upload);
}

// ---- the network path -----------------------------------------------------------------------

// Three simulated buses of eight processors: one on its pseudo-terminal, opened locally, and two
// behind ser2net's raw TCP ports, one port with ser2net's defaults and one with the README's
// settings. Started on first use; `why` says what is missing.
struct NetworkPaths {
  std::unique_ptr<test::Child> localSim, remoteSim, tunedSim, server;
  std::filesystem::path dir;
  std::string local, remote, tuned, why;

  NetworkPaths() {
#if !defined(QUBIX24_SIM) || !defined(QUBIX_PTY_SHIM)
    why = "built without qubix24-sim and the tests' pseudo-terminal interposer: no network path";
#else
    if (std::system("command -v ser2net >/dev/null 2>&1") != 0) {
      why = "ser2net is not installed: no network path to measure";
      return;
    }
    const std::vector<std::string> sim = {QUBIX24_SIM, "--processors", "8"};
    localSim = std::make_unique<test::Child>(sim, 1);
    remoteSim = std::make_unique<test::Child>(sim, 1);
    tunedSim = std::make_unique<test::Child>(sim, 1);
    char name[] = "/tmp/qubix-bench-XXXXXX";
    dir = ::mkdtemp(name);
    const int port = test::FreeLoopbackPort();
    int tunedPort = test::FreeLoopbackPort();
    for (int tries = 0; tunedPort == port && tries < 20; ++tries)
      tunedPort = test::FreeLoopbackPort();
    // The first connection as ser2net comes; the second as the README sets a rack's.
    std::ofstream(dir / "ser2net.yaml")
        << "connection: &bench\n  accepter: tcp,127.0.0.1," << port << "\n  connector: serialdev,"
        << remoteSim->line(0) << ",115200n81,local\n"
        << "connection: &tuned\n  accepter: tcp(nodelay),127.0.0.1," << tunedPort
        << "\n  connector: serialdev," << tunedSim->line(0)
        << ",115200n81,local\n  options:\n    kickolduser: false\n    chardelay: false\n"
           "    max-connections: 1\n";
    server = std::make_unique<test::Child>(
        std::vector<std::string>{"ser2net", "-n", "-u", "-c", (dir / "ser2net.yaml").string(), "-P",
                                 (dir / "ser2net.pid").string()},
        0);
    local = "serial:" + localSim->line(0);
    remote = "tcp:127.0.0.1:" + std::to_string(port);
    tuned = "tcp:127.0.0.1:" + std::to_string(tunedPort);
#endif
  }
  ~NetworkPaths() {
    server.reset();
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

NetworkPaths& networkPaths() {
  static NetworkPaths paths;
  return paths;
}

// A link on the real clock to one of the paths, connected: ser2net takes a new client only once
// it has let go of the serial device after the previous one, so connecting is tried again.
struct RealLink {
  test::RecordingFrontend frontend;
  std::unique_ptr<link::Link> link;
  std::unique_ptr<protocol::Bus> bus;
  std::string error;

  explicit RealLink(const std::string& uri) {
    auto adapter = compose::makeAdapter(uri, error);
    if (!adapter) return;
    link = std::make_unique<link::Link>(std::move(adapter), frontend);
    for (int tries = 0; tries < 100 && !link->state().Connected; ++tries) {
      if (tries) ::usleep(50000);
      link->Connect();
    }
    if (!link->state().Connected)
      error = uri + ": " + frontend.statusText + " " + frontend.statusDetail;
    bus = std::make_unique<protocol::Bus>(*link, frontend);
  }
  bool ok() const { return link && link->state().Connected; }
};

using Clock = std::chrono::steady_clock;

// Runs `scenario` through the local pseudo-terminal and through ser2net's two ports; reports all
// three (the mean over the iterations) and the ratios to the local path. The reported iteration
// time is the README's settings'.
void localAndNetwork(benchmark::State& state,
                     const std::function<void(link::Link&, protocol::Bus&)>& prepare,
                     const std::function<void(link::Link&, protocol::Bus&)>& scenario) {
  NetworkPaths& paths = networkPaths();
  if (!paths.why.empty()) {
    state.SkipWithError(paths.why.c_str());
    return;
  }
  double total[3] = {};
  for (auto _ : state) {
    double ms[3] = {};
    const std::string* uris[3] = {&paths.local, &paths.remote, &paths.tuned};
    for (int k = 0; k < 3; ++k) {
      RealLink path(*uris[k]);
      if (!path.ok()) {
        state.SkipWithError(("cannot connect " + path.error).c_str());
        return;
      }
      if (prepare) prepare(*path.link, *path.bus);
      const auto start = Clock::now();
      scenario(*path.link, *path.bus);
      ms[k] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      path.bus->ReleaseMachine();
    }
    for (int k = 0; k < 3; ++k) total[k] += ms[k];
    state.SetIterationTime(ms[2] / 1000.0);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["local_ms"] = total[0] / n;
  state.counters["defaults_ms"] = total[1] / n;
  state.counters["readme_ms"] = total[2] / n;
  state.counters["defaults_over_local"] = total[0] > 0 ? total[1] / total[0] : 0.0;
  state.counters["readme_over_local"] = total[0] > 0 ? total[2] / total[0] : 0.0;
}

void BM_NetworkRefreshEightProcessors(benchmark::State& state) {
  localAndNetwork(state, nullptr,
                  [](link::Link& link, protocol::Bus& bus) { refreshEight(link, bus); });
}
void BM_NetworkBandStep(benchmark::State& state) {
  localAndNetwork(
      state, [](link::Link&, protocol::Bus& bus) { selectForEditing(bus); },
      [](link::Link&, protocol::Bus& bus) { bandStep(bus); });
}

BENCHMARK(BM_RefreshEightProcessors)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BandStep)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExtraPresetUpload)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_NetworkRefreshEightProcessors)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_NetworkBandStep)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
#ifdef QUBIX_PTY_SHIM
  if (!qubix::test::PreloadPtyInterposer(argv)) return 1;
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
