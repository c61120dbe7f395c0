#include "ui/editor/EditorUndo.h"

#include <QKeySequence>
#include <QShortcut>
#include <QUndoCommand>
#include <QWidget>

#include "ui/common/BusGuard.h"

namespace qubix::ui {

class EditorUndo::Step final : public QUndoCommand {
 public:
  Step(EditorUndo& owner, Kind kind, const QString& text, int control, int gesture,
       EditorValues before, EditorValues after)
      : QUndoCommand(text),
        owner_(owner),
        kind_(kind),
        control_(control),
        gesture_(gesture),
        before_(std::move(before)),
        after_(std::move(after)) {}

  void undo() override { owner_.apply(before_, kind_); }
  // The change itself has already been made when the step is pushed.
  void redo() override {
    if (pushed_) owner_.apply(after_, kind_);
    pushed_ = true;
  }
  int id() const override { return control_ == undocontrol::kNoMerge ? -1 : 1; }
  bool mergeWith(const QUndoCommand* other) override {
    const auto* next = static_cast<const Step*>(other);
    if (next->control_ != control_ || next->gesture_ != gesture_ || next->kind_ != kind_)
      return false;
    after_ = next->after_;
    // A drag that ends where it began leaves nothing to undo.
    setObsolete(after_ == before_);
    return true;
  }

 private:
  EditorUndo& owner_;
  Kind kind_;
  int control_;
  int gesture_;
  EditorValues before_, after_;
  bool pushed_ = false;
};

EditorUndo::EditorUndo(editor::EditorState& state, QWidget& window) : state_(state) {
  AddWindow(window);
}

void EditorUndo::AddWindow(QWidget& window) {
  auto* undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), &window);
  auto* redo = new QShortcut(&window);
  redo->setKeys(
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  QObject::connect(undo, &QShortcut::activated, undo, [this] { Undo(); });
  QObject::connect(redo, &QShortcut::activated, redo, [this] { Redo(); });
}

EditorUndo::~EditorUndo() = default;

bool EditorUndo::holdsOwner() const {
  return !owner_.empty() && state_.editorVisible() && state_.selectedMachineId() == owner_;
}

void EditorUndo::FollowMachine() {
  const std::string held = state_.editorVisible() ? state_.selectedMachineId() : std::string();
  if (held == owner_) return;
  stack_.clear();
  owner_ = held;
  if (!owner_.empty()) shown_ = EditorValues::Of(state_);
}

void EditorUndo::BeginGesture() {
  ++gesture_;
  if (busy_ == 0 && holdsOwner()) shown_ = EditorValues::Of(state_);
}

void EditorUndo::Record(const QString& text, int control, const std::function<void()>& change) {
  record(Kind::Values, text, control, change);
}

void EditorUndo::RecordPreset(const QString& text, const std::function<void()>& change) {
  record(Kind::Preset, text, undocontrol::kNoMerge, change);
}

void EditorUndo::record(Kind kind, const QString& text, int control,
                        const std::function<void()>& change) {
  FollowMachine();
  const bool recording = busy_ == 0 && holdsOwner();
  const EditorValues before = recording ? EditorValues::Of(state_) : EditorValues{};
  ++busy_;
  change();
  --busy_;
  // A change that cost the editor its machine (a failed recall) leaves no history behind.
  FollowMachine();
  if (recording && holdsOwner()) push(kind, text, control, before);
}

void EditorUndo::BandMoved(int band) {
  // Bands filled from a file or a recall are the machine's own values, not the operator's.
  if (busy_ > 0 || state_.editorLoading() || state_.editorNotShown() || !holdsOwner()) return;
  push(Kind::Values, QStringLiteral("Band %1").arg(band + 1), undocontrol::Band(band), shown_);
}

void EditorUndo::push(Kind kind, const QString& text, int control, EditorValues before) {
  shown_ = EditorValues::Of(state_);
  if (shown_ == before) return;
  stack_.push(new Step(*this, kind, text, control, gesture_, std::move(before), shown_));
}

void EditorUndo::Undo() {
  // Like any other input, ignored while an operation waits on the bus.
  if (BusGuard::instance().busy() || busy_ > 0) return;
  ++gesture_;
  FollowMachine();
  if (holdsOwner()) stack_.undo();
}

void EditorUndo::Redo() {
  if (BusGuard::instance().busy() || busy_ > 0) return;
  ++gesture_;
  FollowMachine();
  if (holdsOwner()) stack_.redo();
}

void EditorUndo::apply(const EditorValues& target, Kind kind) {
  const BusGuard::Operation operation;
  ++busy_;
  editor::RestoreEditorValues(
      state_, target,
      kind == Kind::Preset ? editor::RestoreWay::AsPresetLoad : editor::RestoreWay::Controls);
  --busy_;
  shown_ = EditorValues::Of(state_);
}

}  // namespace qubix::ui
