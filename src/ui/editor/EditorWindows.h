// The editor's windows in the running program: the editor (with its graph, level window and
// calculator) over the main window's station, opened from the slots' edit pictures.
#pragma once

#include <memory>

#include "editor/NetworkEditorHost.h"
#include "ui/editor/TForm1.h"

namespace qubix::network {
class HardwarePresets;
}

namespace qubix::ui {

class Tmainform;

class EditorWindows {
 public:
  explicit EditorWindows(Tmainform& mainform);
  ~EditorWindows();

  TForm1& Form1() { return *form_; }
  editor::NetworkEditorHost& Host() { return host_; }

  // An Extra preset upload stops the editor's timers and hides the level window first.
  void AttachHardwarePresets(network::HardwarePresets& presets);

  // The edit picture of slot k (Image1Click … Image14Click of the eight slots).
  void OpenEditorForSlot(int k);

 private:
  Tmainform& mainform_;
  editor::NetworkEditorHost host_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace qubix::ui
