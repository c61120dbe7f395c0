// A link and a bus on the simulated adapter with a virtual clock, as most bus tests need them:
// the demo processors (or an empty bus), a recording frontend, and helpers to connect and
// select.
#pragma once

#include <memory>
#include <string>

#include "link/Link.h"
#include "protocol/Bus.h"
#include "protocol/Hex.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/CaseNames.h"
#include "support/RecordingFrontend.h"

namespace qubix::test {

// Leaves the reply to a query on its way after the read that waited for it gave up, as a
// processor that answers late does, and releases the machine: the next operation finds the
// late bytes waiting. True when it went so.
inline bool LeaveALateReply(protocol::Bus& bus, sim::SimProcessor& machine,
                            const std::string& selectFrame) {
  if (!bus.SelectExchange(selectFrame)) return false;
  machine.faults.lateMs = 300;  // longer than the 200 ms read time-out
  const bool lost = !bus.ReadParameter(18);
  machine.faults.lateMs = 0;
  bus.ReleaseMachine();
  return lost;
}

struct SimRig {
  explicit SimRig(std::shared_ptr<sim::SimBus> b = sim::makeDemoBus())
      : bus(std::move(b)),
        adapter(new sim::SimAdapter(bus, sim::ClockMode::Virtual)),
        link(std::unique_ptr<link::Adapter>(adapter), frontend),
        protocolBus(link, frontend) {
    link.onConnectionLost = [this] { ++connectionLost; };
  }

  // Connects and forgets what connecting put in the records.
  void connect() {
    link.Connect();
    clearRecords();
  }
  // Connects and selects the machine with this identifier text ("H000000010001").
  bool connectAndSelect(const std::string& identifier) {
    connect();
    auto id = protocol::ParseIdentifier(identifier);
    const bool ok = id && protocolBus.SelectExchange(protocol::SelectFrame(*id));
    clearRecords();
    return ok;
  }
  void clearRecords() {
    bus->clearTranscript();
    adapter->resetCalls();
    frontend.forgetHistory();
  }
  sim::SimProcessor& processor(const std::string& identifier) { return *bus->find(identifier); }

  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* adapter;  // owned by link
  RecordingFrontend frontend;
  link::Link link;
  protocol::Bus protocolBus;
  int connectionLost = 0;
};

}  // namespace qubix::test
