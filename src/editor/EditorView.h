// The editor window as the editor's core reports to it: the parts a change touches, which the
// window redraws from the state. The pieces of the editor (the editing session, the input
// polling, the equaliser files) all report through one EditorViewRef.
#pragma once

namespace qubix::editor {

// The parts of the window a change touches; the view redraws them from the state.
enum class EditorPart {
  Gains,
  Knobs,
  Delays,
  Mutes,
  Identity,
  FlatCaption,
  Overflow,
  Indicators,
  Graph,
  EditorWindow,
  LevelWindow,
  LevelMeters,
  Timers,
  PowerOnCaption,
};

class EditorView {
 public:
  virtual ~EditorView() = default;
  virtual void changed(EditorPart part) = 0;
};

// The window the editor's pieces report to, or none (the command-line tool, most tests).
class EditorViewRef {
 public:
  void set(EditorView* view) { view_ = view; }
  void notify(EditorPart part) const {
    if (view_) view_->changed(part);
  }

 private:
  EditorView* view_ = nullptr;
};

}  // namespace qubix::editor
