#include "ui/editor/UserPresetControls.h"

#include "ui/editor/EditorWindow.h"

namespace qubix::ui {

UserPresetControls::UserPresetControls(TForm1& editorWindow, QWidget* mainWindow)
    : editorWindow_(editorWindow),
      mainWindow_(mainWindow),
      presets_(editorWindow.State()),
      form2_(std::make_unique<TForm2>(&editorWindow)),
      form4_(std::make_unique<TForm4>(&editorWindow)) {
  presets_.setView(this);
  editorWindow.SetUserPresets(&presets_);
}

UserPresetControls::~UserPresetControls() { editorWindow_.SetUserPresets(nullptr); }

std::optional<int> UserPresetControls::askLocation(editor::LocationDialog which,
                                                   const std::string& processorId) {
  TForm2& dialog = which == editor::LocationDialog::Store ? *form2_ : *form4_;
  if (mainWindow_) dialog.PlaceBelow(*mainWindow_);
  return dialog.AskLocation(QString::fromStdString(processorId));
}

void UserPresetControls::showSlotUserPreset(int slot, const std::string& name) {
  if (onSlotUserPreset) onSlotUserPreset(slot, name);
}

}  // namespace qubix::ui
