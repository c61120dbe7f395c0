// The editor's view of the main window, over the network manager: the machine list, the slots
// and their records, the name tables, and the list box selection and current machine index
// that the main window keeps for the editor.
#pragma once

#include "editor/EditorHost.h"
#include "network/NetworkManager.h"

namespace qubix::editor {

class NetworkEditorHost final : public EditorHost {
 public:
  NetworkEditorHost(network::NetworkManager& network, link::Link& link,
                    protocol::Commands& commands, link::Frontend& frontend)
      : network_(network), link_(link), commands_(commands), frontend_(frontend) {}

  protocol::Commands& commands() override { return commands_; }
  link::Frontend& frontend() override { return frontend_; }
  std::filesystem::path dataDir() const override { return network_.dataDir(); }
  int machineCount() const override;
  std::string machineId(int index) const override;
  std::string selectFrame(int index) const override;
  int currentMachine() const override { return current_; }
  void setCurrentMachine(int index) override { current_ = index; }
  void selectListItem(int index) override;
  int listSelection() const override { return listSelection_; }
  EditorSlotValues slotValues(int index) const override;
  void storeSlotValues(int index, const EditorSlotValues& values) override;
  std::string hardwarePresetName(int number) const override;
  std::string userPresetName(int number) const override;
  void connectionLost() override;

 private:
  network::NetworkManager& network_;
  link::Link& link_;
  protocol::Commands& commands_;
  link::Frontend& frontend_;
  int current_ = 0;
  int listSelection_ = -1;
  // List entries past the eight slots have no slot record; they keep one here.
  mutable std::array<EditorSlotValues, network::kListEntries> spare_{};
};

}  // namespace qubix::editor
