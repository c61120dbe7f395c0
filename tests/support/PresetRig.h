// The main window's bus side on the simulated processors, for the preset operations: link, bus,
// commands, machine list and slots, the tick counter on the virtual clock, and an adapter
// between link and simulator that lets a test spoil what the PC reads back.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "editor/EditorState.h"
#include "editor/NetworkEditorHost.h"
#include "link/Link.h"
#include "network/HardwarePreset.h"
#include "network/NetworkManager.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/RecordingFrontend.h"
#include "support/SimRig.h"
#include "support/TempDir.h"

namespace qubix::test {

// Forwards every call to the simulator; onRead may change or drop what a read returns.
class TamperingAdapter : public link::Adapter {
 public:
  explicit TamperingAdapter(sim::SimAdapter* inner) : owned_(inner), inner_(inner) {}

  // Called after each successful read with the bytes read and the last bytes written.
  std::function<void(std::uint8_t* buffer, std::uint32_t& got, std::uint32_t asked,
                     const std::string& lastWrite)>
      onRead;

  link::Status listDevices(std::span<link::Description> s, std::uint32_t& n) override {
    return inner_->listDevices(s, n);
  }
  link::Status open(int i, link::Handle& h) override { return inner_->open(i, h); }
  link::Status close(link::Handle h) override { return inner_->close(h); }
  link::Status read(link::Handle h, std::uint8_t* b, std::uint32_t n, std::uint32_t& got) override {
    const link::Status st = inner_->read(h, b, n, got);
    if (st == link::kOk && onRead) onRead(b, got, n, lastWrite_);
    return st;
  }
  link::Status write(link::Handle h, const std::uint8_t* b, std::uint32_t n,
                     std::uint32_t& written) override {
    lastWrite_.assign(reinterpret_cast<const char*>(b), n);
    return inner_->write(h, b, n, written);
  }
  link::Status resetDevice(link::Handle h) override { return inner_->resetDevice(h); }
  link::Status setBaudRate(link::Handle h, std::uint32_t b) override {
    return inner_->setBaudRate(h, b);
  }
  link::Status setDataCharacteristics(link::Handle h, std::uint8_t w, std::uint8_t s,
                                      std::uint8_t p) override {
    return inner_->setDataCharacteristics(h, w, s, p);
  }
  link::Status setFlowControl(link::Handle h, std::uint16_t f, std::uint8_t on,
                              std::uint8_t off) override {
    return inner_->setFlowControl(h, f, on, off);
  }
  link::Status setTimeouts(link::Handle h, std::uint32_t r, std::uint32_t w) override {
    return inner_->setTimeouts(h, r, w);
  }
  link::Status getDeviceInfo(link::Handle h, link::DeviceInfo& info) override {
    return inner_->getDeviceInfo(h, info);
  }
  link::Status queueStatus(link::Handle h, std::uint32_t& waiting) override {
    return inner_->queueStatus(h, waiting);
  }
  std::string lastError() const override { return inner_->lastError(); }
  std::string backendName() const override { return "sim"; }
  double nowMs() const override { return inner_->nowMs(); }

 private:
  std::unique_ptr<sim::SimAdapter> owned_;
  sim::SimAdapter* inner_;
  std::string lastWrite_;
};

// The demo bus has H000000010001 (preset 0), H000000010002 (preset 3) and H000000010005
// (preset 7 with an Extra preset); the list holds them in that order.
struct PresetRig {
  PresetRig()
      : bus(sim::makeDemoBus()),
        sim(new sim::SimAdapter(bus, sim::ClockMode::Virtual)),
        tamper(new TamperingAdapter(sim)),
        link(std::unique_ptr<link::Adapter>(tamper), frontend),
        protocolBus(link, frontend),
        commands(protocolBus),
        network(link, protocolBus, commands, frontend, stopFlag, data.path()),
        ticks([this] { return sim->nowMs(); }),
        presets(link, protocolBus, commands, frontend, network, ticks) {
    network::MachineList listed;
    for (const char* id : {"H000000010001", "H000000010002", "H000000010005"}) {
      listed.setEntry(listed.count, id);
      auto& slot = network.slotAt(listed.count);
      slot.identifier = id;
      slot.selectFrame = network::SlotSelectFrame(id);
      slot.extraPresetName = "ExtraPreset";
      ++listed.count;
    }
    network.UseMachineList(listed);
    network.slotAt(1).record.hardwarePreset = 3;
    link.Connect();
    clear();
  }

  void clear() {
    bus->clearTranscript();
    frontend.statusTexts.clear();
    frontend.boxes.clear();
    frontend.cursorChanges.clear();
  }
  std::string pcBytes() const { return bus->pcBytes(); }
  sim::SimProcessor& processor(const std::string& id) { return *bus->find(id); }
  // The reply to `frame` never arrives: every read after it comes back empty.
  void loseRepliesTo(const std::string& frame) {
    tamper->onRead = [frame](std::uint8_t*, std::uint32_t& got, std::uint32_t,
                             const std::string& lastWrite) {
      if (lastWrite == frame) got = 0;
    };
  }

  TempDir data;
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* sim;      // owned by tamper
  TamperingAdapter* tamper;  // owned by link
  test::RecordingFrontend frontend;
  link::Link link;
  protocol::Bus protocolBus;
  protocol::Commands commands;
  bool stopFlag = false;
  network::NetworkManager network;
  network::TickCounter ticks;
  network::HardwarePresets presets;
};

// The editor over the rig's main window, joined to the preset operations as the windows join
// them, so that a test can have it hold a machine while a slot's preset changes.
struct EditorOnRig {
  explicit EditorOnRig(PresetRig& rig)
      : host(rig.network, rig.link, rig.commands, rig.frontend), state(host) {
    std::array<editor::BandStrip*, editor::kBandCount> strips{};
    for (int i = 0; i < editor::kBandCount; ++i) {
      bands.push_back(std::make_unique<editor::BandModel>(100.0F * static_cast<float>(i + 1), 1.0F,
                                                          filters::BandAddressAt(i)));
      bands.back()->onChangePar = [this, i] { state.BandChanged(i); };
      strips[static_cast<std::size_t>(i)] = bands.back().get();
    }
    state.attachBands(strips);
    rig.presets.setEditor(&state);
  }
  editor::NetworkEditorHost host;
  editor::EditorState state;
  std::vector<std::unique_ptr<editor::BandModel>> bands;
};

// Records what the slot and the dialog were made to show.
struct RecordingPresetView : network::PresetView {
  int answer = network::kPresetDialogClose;
  std::vector<std::string> events;
  std::vector<int> progress;
  std::string extraLabel;
  std::optional<network::SlotDisplay> lastDisplay;
  int askHardwarePreset(int slot) override {
    events.push_back("ask " + std::to_string(slot));
    return answer;
  }
  void showWaiting(int slot) override { events.push_back("wait " + std::to_string(slot)); }
  void showHardwarePreset(int slot, const network::SlotDisplay& d) override {
    events.push_back("show " + std::to_string(slot) + " " + d.hardwarePreset);
    lastDisplay = d;
  }
  void stopWaiting(int slot) override { events.push_back("stop " + std::to_string(slot)); }
  void showProgress(bool shown) override {
    events.push_back(shown ? "progress on" : "progress off");
  }
  void setProgress(int position) override { progress.push_back(position); }
  void setExtraLabel(std::string_view text) override {
    extraLabel = std::string(text);
    events.push_back("label " + extraLabel);
  }
};

}  // namespace qubix::test
