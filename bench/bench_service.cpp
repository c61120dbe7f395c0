// qubix24d's own cost on the simulated bus on the virtual clock (where the bus itself takes no
// real time, so a request's time is the service's overhead): GET of a cached machine state and
// PATCH of one band at 1, 16 and 64 concurrent clients, p50 and p99; 100 WebSocket clients
// receiving level readings, CPU per reading; memory per idle connection.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "service/ServiceRig.h"

namespace {

using Clock = std::chrono::steady_clock;
using qubix::test::EventClient;
using qubix::test::RawClient;
using qubix::test::ServiceRig;

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

long RssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// Each client sends `perClient` requests one after the other on its own keep-alive connection.
void Load(ServiceRig& rig, const char* name, int clients, int perClient, const std::string& method,
          const std::string& path, const std::string& body) {
  std::vector<std::vector<double>> times(static_cast<std::size_t>(clients));
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      RawClient client(rig.port);
      for (int i = 0; i < perClient; ++i) {
        const auto t0 = Clock::now();
        client.send(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body);
        client.readResponses(i + 1);
        times[static_cast<std::size_t>(c)].push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      }
    });
  for (auto& t : threads) t.join();
  std::vector<double> all;
  for (auto& t : times) all.insert(all.end(), t.begin(), t.end());
  std::sort(all.begin(), all.end());
  std::printf("%-10s %3d clients: p50 %.3f ms  p99 %.3f ms  (%zu requests)\n", name, clients,
              all[all.size() / 2], all[all.size() * 99 / 100], all.size());
}

}  // namespace

int main() {
  ServiceRig rig;
  rig.request("GET", "/api/v1/buses/main/machines/1");  // opened and cached
  for (int clients : {1, 16, 64}) {
    const int per = 1600 / clients;
    Load(rig, "GET cached", clients, per, "GET", "/api/v1/buses/main/machines/1", "");
    Load(rig, "PATCH band", clients, per, "PATCH", "/api/v1/buses/main/machines/1",
         R"({"bands":[{"band":4,"gain":3}]})");
  }

  // Level readings to 100 clients.
  std::vector<std::unique_ptr<EventClient>> watchers;
  for (int i = 0; i < 100; ++i) {
    watchers.push_back(std::make_unique<EventClient>(rig.port));
    watchers.back()->send(R"({"subscribe":"levels","bus":"main","machine":"1"})");
  }
  const auto isLevels = [](const QJsonObject& e) { return e.value("type") == "levels"; };
  for (auto& w : watchers) w->next(isLevels);
  const double cpu0 = CpuMs();
  constexpr int kReadings = 10;
  for (int r = 0; r < kReadings; ++r)
    for (auto& w : watchers) w->next(isLevels);
  std::printf("levels to 100 clients: %.3f ms CPU per reading (whole process)\n",
              (CpuMs() - cpu0) / kReadings);
  watchers.clear();

  // Idle connections.
  const long before = RssKb();
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 60; ++i) idle.push_back(std::make_unique<RawClient>(rig.port));
  rig.request("GET", "/api/v1/buses");  // the server has taken them all by now
  std::printf("idle connection: %.1f KiB each (both ends in this process)\n",
              static_cast<double>(RssKb() - before) / 60);
  return 0;
}
