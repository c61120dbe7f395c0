#include "compose/LinkFactory.h"

#include <chrono>

#include "link/TracingAdapter.h"
#include "link/backends/NoDeviceAdapter.h"
#include "link/backends/auto/AutoAdapter.h"
#include "link/backends/d2xx/D2xxAdapter.h"
#include "link/backends/ftdi/FtdiAdapter.h"
#include "link/backends/net/NetAdapter.h"
#include "link/backends/serial/SerialAdapter.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"

namespace qubix::compose {

using link::Adapter;
using link::TracingAdapter;
using link::backends::AutoAdapter;
using link::backends::D2xxAdapter;
using link::backends::makeFtdiAdapter;
using link::backends::makeNetAdapter;
using link::backends::makeSerialAdapter;
using link::backends::NetAddress;
using link::backends::NetProtocol;
using link::backends::NoDeviceAdapter;
using link::backends::parseNetAddress;

namespace {
std::unique_ptr<Adapter> notAvailableFor(std::string_view backend, std::string_view reason,
                                         std::string& error) {
  error = notAvailableText(backend, reason);
  return nullptr;
}

// "sim:virtual": the same bus on the virtual clock, where waiting costs no time (scripts and
// tests of long operations such as the Extra preset upload).
// A program's simulated bus runs for as long as the program does; nobody reads its transcript
// but a trace, which has its own file, so it keeps only the newest bursts.
std::unique_ptr<sim::SimAdapter> makeSimAdapter(std::string_view rest) {
  auto bus = sim::makeDemoBus();
  bus->transcriptLimit = sim::kProgramTranscriptLimit;
  return std::make_unique<sim::SimAdapter>(
      std::move(bus), rest == "virtual" ? sim::ClockMode::Virtual : sim::ClockMode::Real);
}

struct SchemeAndRest {
  std::string_view scheme, rest;
};
SchemeAndRest split(std::string_view uri) {
  const auto colon = uri.find(':');
  return {uri.substr(0, colon),
          colon == std::string_view::npos ? std::string_view{} : uri.substr(colon + 1)};
}
}  // namespace

std::string notAvailableText(std::string_view backend, std::string_view reason) {
  std::string text = "the ";
  text += backend;
  text += " adapter is not available: ";
  text += reason;
  return text;
}

std::unique_ptr<Adapter> traceAdapter(std::unique_ptr<Adapter> adapter, const std::string& path,
                                      std::string& error) {
  TracingAdapter::Clock clock;
  // On the simulated bus the trace keeps the bus's own time, virtual or real, so that its gaps
  // are the ones the processors saw.
  if (auto* sim = dynamic_cast<sim::SimAdapter*>(adapter.get()))
    clock = [sim] { return sim->nowMs(); };
  return TracingAdapter::open(std::move(adapter), path, error, std::move(clock));
}

std::function<double()> steadyClockMs() {
  const auto start = std::chrono::steady_clock::now();
  return [start] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  };
}

AdapterWithClock withSimulatorClock(std::unique_ptr<sim::SimAdapter> adapter) {
  // The station owns the adapter for as long as anything counts time on its clock.
  const sim::SimAdapter* clock = adapter.get();
  return {std::move(adapter), [clock] { return clock->nowMs(); }};
}

AdapterWithClock makeAdapterWithClock(std::string_view uri, std::string& error) {
  const auto [scheme, rest] = split(uri);
  if (scheme == "sim") {
    error.clear();
    return withSimulatorClock(makeSimAdapter(rest));
  }
  auto adapter = makeAdapter(uri, error);
  if (!adapter) return {};
  return {std::move(adapter), steadyClockMs()};
}

std::unique_ptr<Adapter> makeAdapter(std::string_view uri, std::string& error) {
  error.clear();
  const auto [scheme, rest] = split(uri);

  // No --link: whatever FTDI adapter is plugged in, looked for again at every connect attempt.
  if (uri.empty()) return std::make_unique<AutoAdapter>();
  // An adapter that never opens, for trying the program's behaviour without one.
  if (scheme == "none") return std::make_unique<NoDeviceAdapter>();
  if (scheme == "sim") return makeSimAdapter(rest);
  // The device itself is looked for at connect time (and again on every retry), so an adapter
  // plugged in later is found; what is wrong then is in the adapter's lastError().
  if (scheme == "serial" || scheme == "ftdi") {
    std::string reason;
    auto adapter = scheme == "serial" ? makeSerialAdapter(std::string(rest), reason)
                                      : makeFtdiAdapter(std::string(rest), reason);
    if (!adapter) return notAvailableFor(scheme, reason, error);
    return adapter;
  }
  // A device server on the network; the connection is made at connect time, like a device
  // that is looked for then.
  if (scheme == "tcp" || scheme == "rfc2217") {
    NetAddress address;
    std::string reason;
    if (!parseNetAddress(rest, address, reason)) {
      error = std::string(scheme) + ": " + reason;
      return nullptr;
    }
    auto adapter = makeNetAdapter(scheme == "tcp" ? NetProtocol::Raw : NetProtocol::Rfc2217,
                                  std::move(address), reason);
    if (!adapter) return notAvailableFor(scheme, reason, error);
    return adapter;
  }
  if (scheme == "d2xx") {
    // "d2xx:" loads libftd2xx.so from the loader's path; "d2xx:PATH" a given copy of it.
    auto adapter = std::make_unique<D2xxAdapter>(std::string(rest));
    if (!adapter->loaded()) {
      std::string reason = adapter->lastError();
      const std::string prefix = "d2xx: not available: ";
      if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
      return notAvailableFor("d2xx", reason, error);
    }
    return adapter;
  }

  error = "unknown link \"" + std::string(uri) +
          "\": use sim:, serial:DEVICE, ftdi:[DESCRIPTION], d2xx:, tcp:HOST:PORT or "
          "rfc2217:HOST:PORT";
  return nullptr;
}

}  // namespace qubix::compose
