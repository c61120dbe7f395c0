#include "app/EditorWindows.h"

#include "network/HardwarePreset.h"
#include "ui/editor/LevelWindow.h"
#include "ui/filters/ResponseGraphWindow.h"
#include "ui/network/MainWindow.h"

namespace qubix::app {

using ui::MachineSlots;
using ui::TForm1;
using ui::Tmainform;

EditorWindows::EditorWindows(Tmainform& mainform)
    : mainform_(mainform),
      host_(mainform.station().network, mainform.station().link, mainform.station().commands,
            mainform.frontend()),
      form_(std::make_unique<TForm1>(host_)) {
  form_->PlaceBelow(mainform);
  using Handler = void (EditorWindows::*)();
  static constexpr std::array<Handler, network::kSlotCount> kImageClicks{
      &EditorWindows::Image1Click,  &EditorWindows::Image2Click, &EditorWindows::Image3Click,
      &EditorWindows::Image4Click,  &EditorWindows::Image5Click, &EditorWindows::Image6Click,
      &EditorWindows::Image13Click, &EditorWindows::Image14Click};
  QObject::connect(mainform.Slots, &MachineSlots::editPictureClicked, form_.get(), [this](int k) {
    if (k >= 0 && k < network::kSlotCount) (this->*kImageClicks[static_cast<std::size_t>(k)])();
  });
  QObject::connect(&mainform, &Tmainform::editorWindowsToHide, form_.get(), [this] {
    form_->hide();
    form_->Graph().hide();
    form_->Levels().hide();
  });
}

EditorWindows::~EditorWindows() { mainform_.station().setEditor(nullptr); }

void EditorWindows::AttachHardwarePresets(network::HardwarePresets& presets) {
  presets.setEditor(&form_->State());
  mainform_.station().setEditor(&form_->State());
}

void EditorWindows::OpenEditorForSlot(int k) { form_->State().OpenEditorForSlot(k); }

}  // namespace qubix::app
