// The editor's windows in the running program: the editor (with its graph, level window and
// calculator) over the main window's station, opened from the slots' edit pictures. It joins the
// two windows, so it lives with the program, not with either of them.
#pragma once

#include <memory>

#include "editor/NetworkEditorHost.h"
#include "ui/editor/EditorWindow.h"

namespace qubix::network {
class HardwarePresets;
}

namespace qubix::ui {
class Tmainform;
}

namespace qubix::app {

class EditorWindows {
 public:
  explicit EditorWindows(ui::Tmainform& mainform);
  ~EditorWindows();

  ui::TForm1& Form1() { return *form_; }
  editor::NetworkEditorHost& Host() { return host_; }

  // An Extra preset upload stops the editor's timers and hides the level window first; a change
  // or an upload for a slot whose machine the editor does not hold closes the editor first; one
  // on the editor's own machine gives the editor its machine back when it ends.
  void AttachHardwarePresets(network::HardwarePresets& presets);

  // The edit picture of slot k: the eight handlers below, one per slot, all come here.
  void OpenEditorForSlot(int k);
  void Image1Click() { OpenEditorForSlot(0); }
  void Image2Click() { OpenEditorForSlot(1); }
  void Image3Click() { OpenEditorForSlot(2); }
  void Image4Click() { OpenEditorForSlot(3); }
  void Image5Click() { OpenEditorForSlot(4); }
  void Image6Click() { OpenEditorForSlot(5); }
  void Image13Click() { OpenEditorForSlot(6); }
  void Image14Click() { OpenEditorForSlot(7); }

 private:
  ui::Tmainform& mainform_;
  editor::NetworkEditorHost host_;
  std::unique_ptr<ui::TForm1> form_;
};

}  // namespace qubix::app
