// EditorUndo: the editor's history of the operator's changes on the machine being edited, undone
// with Ctrl+Z and redone with Ctrl+Shift+Z or Ctrl+Y. A step keeps the editor's values before and
// after it; going back or forth puts the values back through the same operations the controls
// use, so the processor receives the frames it would for the operator's own change. The history
// belongs to one machine: it is dropped as soon as the editor no longer holds that machine.
#pragma once

#include <QUndoStack>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "editor/EditorSnapshot.h"
#include "editor/EditorState.h"

class QWidget;

namespace qubix::ui {

using editor::EditorValues;

// Which control a step came from. Changes of one control within one gesture (a drag, an arrow
// held down, a turn of the wheel) merge into one step; kNoMerge steps never merge.
namespace undocontrol {
inline constexpr int kNoMerge = -1;
inline constexpr int Band(int index) { return index; }
inline constexpr int Gain(int input) { return 100 + input; }
inline constexpr int Knob(int knob) { return 200 + knob; }
inline constexpr int Delay(int pair) { return 300 + pair; }
}  // namespace undocontrol

class EditorUndo {
 public:
  // Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y act while `window` is the active window.
  EditorUndo(editor::EditorState& state, QWidget& window);
  ~EditorUndo();

  // The same keys act in another window of the editor (the response graph, where an import is
  // chosen).
  void AddWindow(QWidget& window);

  QUndoStack& Stack() { return stack_; }

  // A press or a key in the editor: what follows is a new step.
  void BeginGesture();
  // Runs an operator change and keeps it as one step (none when nothing changed, or when the
  // editor lost its machine on the way).
  void Record(const QString& text, int control, const std::function<void()>& change);
  // A recalled or loaded user preset: undone and redone the way a preset load sends its values.
  void RecordPreset(const QString& text, const std::function<void()>& change);
  // A band strip changed outside any recorded change: the operator moved it.
  void BandMoved(int band);

  void Undo();
  void Redo();
  // Drops the history when the editor no longer holds the machine it was kept for.
  void FollowMachine();

 private:
  class Step;
  enum class Kind { Values, Preset };
  void record(Kind kind, const QString& text, int control, const std::function<void()>& change);
  void push(Kind kind, const QString& text, int control, EditorValues before);
  bool holdsOwner() const;
  // Brings the editor (and the processor) to `target` through the controls' own operations.
  void apply(const EditorValues& target, Kind kind);

  editor::EditorState& state_;
  QUndoStack stack_;
  std::string owner_;   // the machine the history belongs to
  EditorValues shown_;  // the values at the start of the current gesture or after a step
  int gesture_ = 0;
  int busy_ = 0;  // inside a recorded change or an undo: strips report nothing
};

}  // namespace qubix::ui
