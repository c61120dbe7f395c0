#include "ui/editor/UserPresetControls.h"

#include "ui/editor/EditorWindow.h"

namespace qubix::ui {

UserPresetControls::UserPresetControls(TForm1& editorWindow, QWidget* mainWindow)
    : mainWindow_(mainWindow),
      presets_(editorWindow.State()),
      form2_(std::make_unique<TForm2>(mainWindow)),
      form4_(std::make_unique<TForm4>(mainWindow)) {
  editor::EditorState& state = editorWindow.State();
  state.onSaveToDsp = [this] { presets_.SaveToDspMemory(); };
  state.onLoadFromDsp = [this] { presets_.LoadFromDspMemory(); };
  state.onSaveToFile = [this] { presets_.SaveToComputerFile(); };
  state.onLoadFromFile = [this] { presets_.LoadFromComputerFile(); };
  presets_.askLocation = [this](editor::LocationDialog which,
                                const std::string& processorId) -> std::optional<int> {
    TForm2& dialog = which == editor::LocationDialog::Store ? *form2_ : *form4_;
    if (mainWindow_) dialog.PlaceBelow(*mainWindow_);
    return dialog.AskLocation(QString::fromStdString(processorId));
  };
  presets_.onSlotUserPreset = [this](int slot, const std::string& name) {
    if (onSlotUserPreset) onSlotUserPreset(slot, name);
  };
}

}  // namespace qubix::ui
