#include "ui/editor/EditorUndo.h"

#include <QKeySequence>
#include <QShortcut>
#include <QUndoCommand>
#include <QWidget>
#include <cmath>

#include "editor/UserPresets.h"
#include "protocol/WireCodes.h"
#include "ui/common/BusGuard.h"

namespace qubix::ui {

EditorValues EditorValues::Of(editor::EditorState& state) {
  EditorValues v;
  for (int i = 0; i < editor::kBandCount; ++i) {
    const editor::BandStrip& strip = state.band(i);
    v.bands[static_cast<std::size_t>(i)] = {strip.FPotPos(), strip.GPotPos(), strip.QPotPos()};
  }
  v.gainText = state.gainText();
  v.knobPosition = state.knobPosition();
  v.delay = state.delay();
  v.muted = state.muteState();
  v.ampLevelCode = state.ampLevelCode();
  v.flat = state.flatMode();
  v.flatGainStash = state.flatGainStash();
  return v;
}

namespace {

// The values as a preset file holds them, for going back the way a preset load goes.
editor::UserPresetRecord AsPreset(const EditorValues& v) {
  editor::UserPresetRecord r;
  r.inputGainA = static_cast<std::int32_t>(std::trunc(editor::EditValue(v.gainText[0]) * 2));
  r.inputGainB = static_cast<std::int32_t>(std::trunc(editor::EditValue(v.gainText[1]) * 2));
  r.knob12 = v.knobPosition[0];
  r.knob34 = v.knobPosition[1];
  for (std::size_t c = 0; c < 4; ++c) r.muted[c] = v.muted[c] ? 1 : 0;
  r.delay12 = v.delay[0];
  r.delay34 = v.delay[1];
  r.flatMode = v.flat ? 1 : 0;
  for (std::size_t b = 0; b < v.bands.size(); ++b) {
    r.freqHz[b] = static_cast<std::int32_t>(std::trunc(v.bands[b].freqHz));
    r.gainDb[b] = v.bands[b].gainDb;
    r.q[b] = v.bands[b].q;
    r.flatGainStash[b] = static_cast<float>(v.flatGainStash[b]);
  }
  r.ampLevelCode = v.ampLevelCode;
  return r;
}

int GainCodeOf(const std::string& text) {
  return protocol::codes::GainCode(editor::EditValue(text));
}

}  // namespace

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

void EditorUndo::Push(const QString& text, const EditorValues& before) {
  FollowMachine();
  if (holdsOwner()) push(Kind::Values, text, undocontrol::kNoMerge, before);
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
  // The level first: a preset step only records it, and the mute toggles below send each
  // channel's level with the code in force.
  if (state_.ampLevelCode() != target.ampLevelCode) state_.SetAmpLevel(target.ampLevelCode);
  if (kind == Kind::Preset) {
    editor::UserPresets presets(state_);
    presets.ApplyRecord(AsPreset(target));
  }
  // Whatever a preset load could not carry (a fraction of a hertz), and every single change,
  // goes through the control's own operation: the operator's frames, in the window's order.
  if (state_.flatMode() != target.flat) state_.ToggleFlat();
  for (int c = 0; c < 4; ++c)
    if (state_.muteState()[static_cast<std::size_t>(c)] !=
        target.muted[static_cast<std::size_t>(c)])
      state_.ToggleMute(c);
  for (int i = 0; i < 2; ++i) {
    const auto k = static_cast<std::size_t>(i);
    // Compared as the code sent: a preset load writes "1" where the arrows wrote "1.0".
    if (state_.GainCode(i) != GainCodeOf(target.gainText[k]))
      state_.SetGainText(i, target.gainText[k]);
  }
  for (int p = 0; p < 2; ++p) {
    const auto k = static_cast<std::size_t>(p);
    if (state_.delay()[k] != target.delay[k]) state_.SetDelay(p, target.delay[k]);
  }
  for (int n = 0; n < 2; ++n) {
    const auto k = static_cast<std::size_t>(n);
    if (state_.knobPosition()[k] != target.knobPosition[k])
      state_.SetKnobPosition(n, target.knobPosition[k]);
  }
  for (int b = 0; b < editor::kBandCount; ++b) {
    editor::BandStrip& strip = state_.band(b);
    const EditorValues::Band& want = target.bands[static_cast<std::size_t>(b)];
    const EditorValues::Band held{strip.FPotPos(), strip.GPotPos(), strip.QPotPos()};
    if (held == want) continue;
    if (held.freqHz != want.freqHz) strip.SetFPotPos(want.freqHz);
    if (held.gainDb != want.gainDb) strip.SetGPotPos(want.gainDb);
    if (held.q != want.q) strip.SetQPotPos(want.q);
    strip.Repaint();
  }
  state_.SetFlatGainStash(target.flatGainStash);
  --busy_;
  shown_ = EditorValues::Of(state_);
}

}  // namespace qubix::ui
