// What the editor needs of the program around it: the link and its commands, the machine list,
// the slots and the list box selection. The main window provides it over the network manager
// (NetworkEditorHost); the tests provide small ones of their own.
#pragma once

#include <array>
#include <filesystem>
#include <string>

#include "link/Frontend.h"
#include "protocol/Commands.h"
#include "protocol/WireCodes.h"

namespace qubix::editor {

// The state of the machine that the editor shows, as its slot keeps it (raw codes).
struct EditorSlotValues {
  int hardwarePreset = 0;
  int userPreset = 0;
  int outAttn12 = protocol::codes::kAttenuationZeroDb;
  int outAttn34 = protocol::codes::kAttenuationZeroDb;
  int gainA = protocol::codes::kGainZeroDb, gainB = protocol::codes::kGainZeroDb;
  int delay12 = 0, delay34 = 0;
  std::array<bool, 4> muted{};
  int ampLevel = protocol::codes::kLevelZeroDb;
  std::string extraPresetName;
};

// What the editor needs of the main window: its link and commands, the machine list, the
// slots and the list box selection.
class EditorHost {
 public:
  virtual ~EditorHost() = default;
  virtual protocol::Commands& commands() = 0;
  virtual link::Frontend& frontend() = 0;
  virtual std::filesystem::path dataDir() const = 0;

  virtual int machineCount() const = 0;
  // List entry i, cut to 13 characters.
  virtual std::string machineId(int index) const = 0;
  virtual std::string selectFrame(int index) const = 0;
  virtual int currentMachine() const = 0;
  virtual void setCurrentMachine(int index) = 0;
  // The main list box; -1 clears its selection.
  virtual void selectListItem(int index) = 0;
  virtual int listSelection() const = 0;

  virtual EditorSlotValues slotValues(int index) const = 0;
  virtual void storeSlotValues(int index, const EditorSlotValues& values) = 0;
  virtual std::string hardwarePresetName(int number) const = 0;
  virtual std::string userPresetName(int number) const = 0;

  // The adapter stopped answering: the main window marks the link down and reconnects.
  virtual void connectionLost() = 0;
};

}  // namespace qubix::editor
