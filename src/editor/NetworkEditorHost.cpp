#include "editor/NetworkEditorHost.h"

#include <cmath>

namespace qubix::editor {

int NetworkEditorHost::machineCount() const {
  return network_.list().countValid() ? network_.list().count : 0;
}

std::string NetworkEditorHost::machineId(int index) const {
  std::string id = network_.list().entry(index);
  // The stored entry is zero-padded to 13 characters.
  if (const auto end = id.find('\0'); end != std::string::npos) id.resize(end);
  return id;
}

std::string NetworkEditorHost::selectFrame(int index) const {
  if (index >= 0 && index < network::kSlotCount) {
    const auto& slot = network_.slotAt(index);
    if (!slot.selectFrame.empty()) return slot.selectFrame;
  }
  return network::SlotSelectFrame(machineId(index));
}

void NetworkEditorHost::selectListItem(int index) {
  listSelection_ = index;
  // The main window's list box follows the selection made here.
  network_.view().listSelectionChanged(index);
}

EditorSlotValues NetworkEditorHost::slotValues(int index) const {
  if (index < 0 || index >= network::kListEntries) return {};
  if (index >= network::kSlotCount) return spare_[static_cast<std::size_t>(index)];
  const auto& slot = network_.slotAt(index);
  const auto& r = slot.record;
  EditorSlotValues v;
  v.hardwarePreset = r.hardwarePreset;
  v.userPreset = r.userPreset;
  v.outAttn12 = static_cast<int>(std::trunc(r.outAttn12));
  v.outAttn34 = static_cast<int>(std::trunc(r.outAttn34));
  v.gainA = r.gainA;
  v.gainB = r.gainB;
  v.delay12 = r.delay12;
  v.delay34 = r.delay34;
  for (std::size_t c = 0; c < 4; ++c) v.muted[c] = r.muted[c] != 0;
  v.ampLevel = r.ampLevel;
  v.extraPresetName = slot.extraPresetName;
  return v;
}

void NetworkEditorHost::storeSlotValues(int index, const EditorSlotValues& v) {
  if (index < 0 || index >= network::kListEntries) return;
  if (index >= network::kSlotCount) {
    spare_[static_cast<std::size_t>(index)] = v;
    return;
  }
  auto& r = network_.slotAt(index).record;
  r.hardwarePreset = v.hardwarePreset;
  r.userPreset = v.userPreset;
  r.outAttn12 = static_cast<float>(v.outAttn12);
  r.outAttn34 = static_cast<float>(v.outAttn34);
  r.gainA = v.gainA;
  r.gainB = v.gainB;
  r.delay12 = v.delay12;
  r.delay34 = v.delay34;
  for (std::size_t c = 0; c < 4; ++c) r.muted[c] = v.muted[c] ? 1 : 0;
  r.ampLevel = v.ampLevel;
}

std::string NetworkEditorHost::hardwarePresetName(int number) const {
  return network::HardwarePresetName(network_.hardwarePresetNames(), number);
}

std::string NetworkEditorHost::userPresetName(int number) const {
  return network::UserPresetName(network_.userPresetNames(), number);
}

void NetworkEditorHost::connectionLost() {
  link_.state().Connected = false;
  network_.view().restartConnectTimer();
}

}  // namespace qubix::editor
