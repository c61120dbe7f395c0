// A main-window stand-in for the editor on the simulated bus: the machine list, the records, the
// list box selection and the name tables, with a temporary data directory.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "editor/EditorState.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "support/SimRig.h"

namespace qubix::test {

class TestEditorHost : public editor::EditorHost {
 public:
  TestEditorHost(SimRig& rig, std::filesystem::path dir)
      : commands_(rig.protocolBus), rig_(rig), dir_(std::move(dir)) {}

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
  editor::EditorSlotValues slotValues(int i) const override {
    return records.at(static_cast<std::size_t>(i));
  }
  void storeSlotValues(int i, const editor::EditorSlotValues& v) override {
    records.at(static_cast<std::size_t>(i)) = v;
  }
  std::string hardwarePresetName(int n) const override { return "HW " + std::to_string(n); }
  std::string userPresetName(int n) const override { return "User Config " + std::to_string(n); }
  void connectionLost() override { ++lost; }

  std::vector<std::string> ids;
  std::vector<editor::EditorSlotValues> records;
  int current = 0, listSel = -1, lost = 0;

 private:
  protocol::Commands commands_;
  SimRig& rig_;
  std::filesystem::path dir_;
};

}  // namespace qubix::test
