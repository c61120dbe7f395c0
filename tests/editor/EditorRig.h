// The editor on the simulated bus without a window: a main-window stand-in holding the machine
// list and the slots, ten band models wired to the editor, and a temporary data directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "editor/EditorState.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "support/SimRig.h"

namespace qubix::test {

// The strips as the window configures them (frequency, Q, FilterBlockQF).
struct StripSetup {
  float freqHz, q, qf;
};
inline constexpr std::array<StripSetup, editor::kBandCount> kStripSetup{{{32, 1.8F, 0.5F},
                                                                          {63, 1.4F, 0.5F},
                                                                          {125, 1.4F, 0.5F},
                                                                          {250, 1.4F, 0.5F},
                                                                          {500, 1.4F, 0.5F},
                                                                          {1000, 1.4F, 0.5F},
                                                                          {2000, 1.4F, 0.5F},
                                                                          {4000, 1.4F, 0.5F},
                                                                          {8000, 1.8F, 2.0F},
                                                                          {16000, 3.0F, 0.5F}}};

class TestEditorHost : public editor::EditorHost {
 public:
  TestEditorHost(SimRig& rig, std::filesystem::path dir) : commands_(rig.protocolBus), rig_(rig), dir_(std::move(dir)) {}

  protocol::Commands& commands() override { return commands_; }
  link::Frontend& frontend() override { return rig_.frontend; }
  std::filesystem::path dataDir() const override { return dir_; }
  int machineCount() const override { return static_cast<int>(ids.size()); }
  std::string machineId(int i) const override { return ids.at(static_cast<std::size_t>(i)); }
  std::string selectFrame(int i) const override {
    return protocol::SelectFrame(*protocol::ParseIdentifier(machineId(i)));
  }
  int currentMachine() const override { return current; }
  void setCurrentMachine(int i) override { current = i; }
  void selectListItem(int i) override { listSel = i; }
  int listSelection() const override { return listSel; }
  editor::EditorSlotValues slotValues(int i) const override { return slots.at(static_cast<std::size_t>(i)); }
  void storeSlotValues(int i, const editor::EditorSlotValues& v) override { slots.at(static_cast<std::size_t>(i)) = v; }
  std::string hardwarePresetName(int n) const override { return "HW " + std::to_string(n); }
  std::string userPresetName(int n) const override { return "User Config " + std::to_string(n); }
  void connectionLost() override { ++lost; }

  std::vector<std::string> ids;
  std::vector<editor::EditorSlotValues> slots;
  int current = 0, listSel = -1, lost = 0;

 private:
  protocol::Commands commands_;
  SimRig& rig_;
  std::filesystem::path dir_;
};

class EditorRig : public ::testing::Test {
 protected:
  EditorRig()
      : dir(std::filesystem::temp_directory_path() /
            ("editor_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))),
        host(rig, dir),
        state(host) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::array<editor::BandStrip*, editor::kBandCount> ptrs{};
    for (int i = 0; i < editor::kBandCount; ++i) {
      const auto& s = kStripSetup[static_cast<std::size_t>(i)];
      bands.push_back(std::make_unique<editor::BandModel>(s.freqHz, s.q, editor::kFirstBandAddress + 5 * i, s.qf));
      bands.back()->onChangePar = [this, i] { state.BandChanged(i); };
      ptrs[static_cast<std::size_t>(i)] = bands.back().get();
    }
    state.attachBands(ptrs);
    for (const char* id : {"H000000010001", "H000000010002", "H000000010005"}) {
      host.ids.push_back(id);
      host.slots.emplace_back();
    }
    rig.connect();
  }
  ~EditorRig() override { std::filesystem::remove_all(dir); }

  // Opens the editor on a slot and forgets what that put on the wire.
  void open(int slot) {
    state.OpenEditorForSlot(slot);
    rig.clearRecords();
  }
  std::string pc() const { return rig.bus->pcBytes(); }
  editor::BandModel& strip(int i) { return *bands[static_cast<std::size_t>(i)]; }

  std::filesystem::path dir;
  SimRig rig;
  TestEditorHost host;
  editor::EditorState state;
  std::vector<std::unique_ptr<editor::BandModel>> bands;
};

}  // namespace qubix::test
