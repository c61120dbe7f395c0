// Connects the editor's four user preset buttons to the user preset operations and gives them
// the two location dialogs. Made once next to the editor window.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "editor/UserPresets.h"
#include "ui/editor/PresetLocationDialog.h"

namespace qubix::ui {

class TForm1;

class UserPresetControls final : public editor::UserPresetView {
 public:
  // mainWindow places the dialogs (its top + 130, left 200); the editor, which asks, is their
  // parent, so that they open above it.
  UserPresetControls(TForm1& editorWindow, QWidget* mainWindow);
  ~UserPresetControls() override;
  UserPresetControls(const UserPresetControls&) = delete;
  UserPresetControls& operator=(const UserPresetControls&) = delete;

  // editor::UserPresetView
  std::optional<int> askLocation(editor::LocationDialog which,
                                 const std::string& processorId) override;
  void showSlotUserPreset(int slot, const std::string& name) override;

  editor::UserPresets& Presets() { return presets_; }
  TForm2& Form2() { return *form2_; }
  TForm4& Form4() { return *form4_; }

  // After a recall: the main window shows the slot's new user preset name.
  std::function<void(int slot, const std::string& name)> onSlotUserPreset;

 private:
  TForm1& editorWindow_;
  QWidget* mainWindow_;
  editor::UserPresets presets_;
  std::unique_ptr<TForm2> form2_;
  std::unique_ptr<TForm4> form4_;
};

}  // namespace qubix::ui
