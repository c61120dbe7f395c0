#include "ui/network/PresetControls.h"

#include <QLabel>
#include <QProgressBar>

#include "network/NetworkTexts.h"

namespace qubix::ui {

PresetControls::PresetControls(network::Station& station, MachineSlots& machineSlots,
                               QWidget* window)
    : station_(station),
      slots_(machineSlots),
      window_(window),
      presets_(std::make_unique<network::HardwarePresets>(station.link, station.bus,
                                                          station.commands, station.frontend,
                                                          station.network, station.ticks)),
      form7_(std::make_unique<TForm7>(station.dataDir(), station.network.hardwarePresetNames(),
                                      window)) {
  presets_->setView(this);
  form7_->onLoadNew = [this] { presets_->UploadExtraPreset(presets_->presetSlot); };
  const QString clip =
      QString::fromStdString((station.dataDir() / std::string(network::texts::kBusyClip)).string());
  for (int k = 0; k < network::kSlotCount; ++k) {
    auto* animation = new BusyAnimation(window);
    animation->setGeometry(MachineSlots::animationGeometry(k));
    animation->open(clip);  // without the clip the drawn indicator runs
    animation->hide();
    animations_[static_cast<std::size_t>(k)] = animation;
  }
  connect(&slots_, &MachineSlots::presetPictureClicked, this, [this](int k) { ChangeHWPS(k + 1); });
}

PresetControls::~PresetControls() = default;

void PresetControls::ChangeHWPS(int number) { presets_->ChangeHardwarePreset(number - 1); }

int PresetControls::askHardwarePreset(int) {
  if (window_) form7_->PlaceBelow(*window_);
  form7_->FormShow();
  if (runDialog) return runDialog(*form7_);
  return form7_->exec();
}

void PresetControls::showWaiting(int slot) {
  const MachineSlots::Slot& s = slots_.slot(slot);
  s.hardwarePreset->setText(QString::fromUtf8(network::texts::kWait.data(),
                                              static_cast<int>(network::texts::kWait.size())));
  s.presetPicture->hide();
  BusyAnimation* animation = Animate(slot);
  animation->show();
  animation->raise();
  animation->start();
}

void PresetControls::showHardwarePreset(int slot, const network::SlotDisplay& display) {
  // A picture that cannot be loaded keeps the one the control holds, but the control comes back:
  // it is the slot's only way to change the preset again.
  if (!slots_.ShowHardwarePreset(slot, display)) slots_.slot(slot).presetPicture->show();
}

void PresetControls::stopWaiting(int slot) {
  BusyAnimation* animation = Animate(slot);
  animation->stop();
  animation->hide();
}

void PresetControls::showProgress(bool shown) { form7_->ProgressBar1->setVisible(shown); }

void PresetControls::setProgress(int position) { form7_->ProgressBar1->setValue(position); }

void PresetControls::setExtraLabel(std::string_view text) {
  form7_->Names[network::kExtraPreset]->setText(
      QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

}  // namespace qubix::ui
