// The hardware preset side of the main window: the click on a slot's hardware preset picture
// (ChangeHWPS1 … ChangeHWPS8), the "Change HardWare PreSet" dialog with its " Load New " upload,
// and the slots' busy animations. It is the PresetView of the core operations.
#pragma once

#include <QObject>
#include <array>
#include <functional>
#include <memory>

#include "network/HardwarePreset.h"
#include "network/Station.h"
#include "ui/network/BusyAnimation.h"
#include "ui/network/HardwarePresetDialog.h"
#include "ui/network/MachineSlots.h"

namespace qubix::ui {

class PresetControls : public QObject, public network::PresetView {
  Q_OBJECT

 public:
  // window is the main window: parent of the animations and the dialog, and their anchor.
  PresetControls(network::Station& station, MachineSlots& machineSlots, QWidget* window);
  ~PresetControls() override;

  void ChangeHWPS(int number);  // the slot's number, 1 … 8

  network::HardwarePresets& Presets() { return *presets_; }
  BusyAnimation* Animate(int slot) { return animations_[static_cast<std::size_t>(slot)]; }

  // Runs in place of the dialog's modal loop when set (tests answer it without a display loop).
  std::function<int(TForm7&)> runDialog;

  // network::PresetView
  int askHardwarePreset(int slot) override;
  void showWaiting(int slot) override;
  void showHardwarePreset(int slot, const network::SlotDisplay& display) override;
  void stopWaiting(int slot) override;
  void showProgress(bool shown) override;
  void setProgress(int position) override;
  void setExtraLabel(std::string_view text) override;

 private:
  network::Station& station_;
  MachineSlots& slots_;
  QWidget* window_;
  std::unique_ptr<network::HardwarePresets> presets_;
  std::unique_ptr<TForm7> form7_;
  std::array<BusyAnimation*, network::kSlotCount> animations_{};
};

}  // namespace qubix::ui
