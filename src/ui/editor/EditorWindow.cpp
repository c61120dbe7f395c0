#include "ui/editor/EditorWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>

#include "editor/FilterImport.h"
#include "ui/common/BusGuard.h"
#include "ui/common/CaptionButton.h"
#include "ui/common/ProgramLook.h"
#include "ui/common/WindowPlace.h"
#include "ui/editor/AmpCalculatorDialog.h"
#include "ui/editor/EditorTexts.h"
#include "ui/editor/EditorUndo.h"
#include "ui/editor/EditorWidgets.h"
#include "ui/editor/LevelWindow.h"
#include "ui/filters/EditorBands.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/Knob.h"
#include "ui/filters/ResponseGraphWindow.h"

namespace qubix::ui {

using namespace editortexts;

// A band strip on screen as the editor state sees it.
class TForm1::StripAdapter final : public editor::BandStrip {
 public:
  explicit StripAdapter(TParFilter& s) : s_(s) {}
  float FPotPos() const override { return s_.FPotPos(); }
  float GPotPos() const override { return s_.GPotPos(); }
  float QPotPos() const override { return s_.QPotPos(); }
  void SetFPotPos(float hz) override { s_.SetFPotPos(hz); }
  void SetGPotPos(float db) override { s_.SetGPotPos(db); }
  void SetQPotPos(float q) override { s_.SetQPotPos(q); }
  float FilterBlockQF() const override { return s_.FilterBlockQF(); }
  void SetFilterBlockQF(float qf) override { s_.SetFilterBlockQF(qf); }
  std::int32_t FilterBlockAddr() const override { return s_.FilterBlockAddr(); }
  int FBCalc() override { return s_.FBCalc(); }
  filters::BiquadCoefficients Coefficients() const override { return s_.Coefficients(); }
  void SetActive(bool active) override { s_.SetFBActive(active); }
  void Repaint() override { s_.Paint(); }

 private:
  TParFilter& s_;
};

namespace {

QFrame* Bevel(QWidget* parent, int x, int y, int w, int h) {
  return MakeBevel(parent, QRect(x, y, w, h));
}

QLineEdit* NavyField(QWidget* parent, int x, int y, int w, int h) {
  auto* e = new QLineEdit(parent);
  e->setReadOnly(true);
  e->setGeometry(x, y, w, h);
  e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette pal = e->palette();
  pal.setColor(QPalette::Base, kNavy);
  pal.setColor(QPalette::Text, kLimeText);
  e->setPalette(pal);
  e->setFocusPolicy(Qt::NoFocus);
  return e;
}

QString Text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TForm1::TForm1(editor::EditorHost& host, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      state_(std::make_unique<editor::EditorState>(host)),
      graph_(std::make_unique<TForm3>()),
      levels_(std::make_unique<TForm8>()),
      amp_(std::make_unique<TForm9>(calc_, this)),
      undo_(std::make_unique<EditorUndo>(*state_, *this)) {
  setFixedSize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  pal.setColor(QPalette::WindowText, kAqua);
  setPalette(pal);
  // Small type, so that the long captions fit their fixed button widths.
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  move(6, 110);

  graph_->SetInput(&state_->coefficientTable(), editor::kBandCount,
                   [this] { return state_->graphRedrawEnabled(); });
  graph_->SetFocusReturn(this);
  undo_->AddWindow(*graph_);
  // An import is one step of the history: its ten bands and input gains come back together.
  connect(graph_.get(), &TForm3::ImportFiltersRequested, this, [this] {
    undo_->Record(QStringLiteral("Import Filters"), undocontrol::kNoMerge,
                  [this] { editor::ImportFiltersFromFile(*state_); });
  });
  connect(graph_.get(), &TForm3::ExportFiltersRequested, this,
          [this] { editor::ExportFiltersToFile(*state_); });

  timer1_.setInterval(editor::kTimer1IntervalMs);
  timer2_.setInterval(editor::kLevelRefreshMs);
  connect(&timer1_, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(&timer2_, &QTimer::timeout, this, &TForm1::Timer2Timer);

  build();
  state_->setView(this);
  for (auto* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

TForm1::~TForm1() {
  state_->setView(nullptr);
  // The strips go with the window; nothing may reach the state through them afterwards.
  for (auto* s : strips_) s->disconnect(this);
}

void TForm1::PlaceBelow(const QWidget& mainWindow) {
  move(6, mainWindow.y() + 110);
  // The amplifier calculator opens over the editor, 100 pixels to its right.
  amp_->move(106, mainWindow.y() + 110);
}

CaptionButton* TForm1::addButton(const QString& caption, const QColor& colour, int x, int y, int w,
                                 int h) {
  auto* b = new CaptionButton(caption, this, colour);
  b->setGeometry(x, y, w, h);
  buttons_.push_back(b);
  return b;
}

CaptionButton* TForm1::Button(const QString& caption) const {
  for (auto* b : buttons_)
    if (b->text() == caption) return b;
  return nullptr;
}

void TForm1::build() {
  // Input gains.
  Bevel(this, 12, 12, 161, 139);
  gainEdits_[0] = NavyField(this, 24, 32, 70, 29);
  gainEdits_[1] = NavyField(this, 24, 96, 70, 29);
  ColouredLabel(kInputA, kAqua, this, 128, 30);
  ColouredLabel(kGainDb, kAqua, this, 42, 70);
  ColouredLabel(kInputB, kAqua, this, 128, 96);
  for (int i = 0; i < 2; ++i) {
    inputIndicators_[static_cast<std::size_t>(i)] = new Indicator(this);
    inputIndicators_[static_cast<std::size_t>(i)]->move(134, i == 0 ? 54 : 120);
  }

  // Show Levels and mutes.
  Bevel(this, 12, 162, 161, 103);
  connect(addButton(kShowLevels, kYellowText, 42, 170, 95, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText14Click);
  const std::array<QPoint, 4> mutePlaces{QPoint(24, 200), QPoint(100, 200), QPoint(24, 232),
                                         QPoint(100, 232)};
  for (int c = 0; c < 4; ++c) {
    const auto i = static_cast<std::size_t>(c);
    mutes_[i] = addButton(kMute[i], kLimeText, mutePlaces[i].x(), mutePlaces[i].y(), 61, 20);
    connect(mutes_[i], &CaptionButton::clicked, this, [this, c] {
      undo_->Record(kMute[static_cast<std::size_t>(c)], undocontrol::kNoMerge,
                    [this, c] { state_->ToggleMute(c); });
    });
  }

  // Output attenuation knobs.
  Bevel(this, 176, 12, 97, 253);
  ColouredLabel(kCh12, kAqua, this, 200, 16);
  ColouredLabel(kCh34, kAqua, this, 200, 122);
  const std::array<QPoint, 2> knobPlaces{QPoint(188, 28), QPoint(190, 134)};
  for (int k = 0; k < 2; ++k) {
    auto* knob = new TSSKnob(this);
    knobs_[static_cast<std::size_t>(k)] = knob;
    knob->move(knobPlaces[static_cast<std::size_t>(k)]);
    knob->SetCaption(kOutAttn);
    knob->SetValueDigits(1);
    knob->SetKnobColor(KcBlue);
    knob->SetMin(0);
    knob->SetMax(editor::kKnobMax);
    knob->SetPotPos(editor::kKnobMax);
    knob->SetValue(0.0F);
    connect(knob, &TSSKnob::ChangePot, this, [this, k](TSSKnob* sender) {
      if (syncing_) return;
      undo_->Record(kOutAttn, undocontrol::Knob(k),
                    [&] { state_->SetKnobPosition(k, sender->PotPos()); });
    });
  }
  connect(addButton(kAmpSetting, kLimeText, 182, 232, 85, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText15Click);

  // Band strips.
  Bevel(this, 276, 12, 461, 253);
  buildBands();

  // Delays.
  Bevel(this, 740, 12, 101, 153);
  delayEdits_[0] = NavyField(this, 752, 28, 54, 35);
  delayEdits_[1] = NavyField(this, 752, 104, 54, 35);
  ColouredLabel(kCh12, kAqua, this, 784, 68);
  ColouredLabel(kDelayMs, kAqua, this, 748, 84);
  ColouredLabel(kCh34, kAqua, this, 784, 144);

  // Arrows: gains (0, 1) and delays (2, 3).
  const std::array<QPoint, 4> arrowPlaces{QPoint(94, 32), QPoint(94, 96), QPoint(806, 28),
                                          QPoint(806, 104)};
  for (int w = 0; w < 4; ++w) {
    const QPoint at = arrowPlaces[static_cast<std::size_t>(w)];
    const int h = w < 2 ? 29 : 35;
    auto* up = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(at.x(), at.y(), 15, h / 2);
    auto* down = new QToolButton(this);
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(at.x(), at.y() + h / 2, 15, h - h / 2);
    up->setFocusPolicy(Qt::NoFocus);
    down->setFocusPolicy(Qt::NoFocus);
    up->setAutoRepeat(true);
    down->setAutoRepeat(true);
    up->setObjectName(QStringLiteral("up%1").arg(w));
    down->setObjectName(QStringLiteral("down%1").arg(w));
    connect(up, &QToolButton::clicked, this, [this, w] { stepUpDown(w, +1); });
    connect(down, &QToolButton::clicked, this, [this, w] { stepUpDown(w, -1); });
  }

  // Copy, overflow, flat.
  Bevel(this, 736, 172, 105, 93);
  connect(addButton(kCopyToAll, kLimeText, 748, 180, 77, 21), &CaptionButton::clicked, this,
          &TForm1::StaticText7Click);
  overflow_ = new Indicator(this);
  overflow_->move(748, 212);
  ColouredLabel(kOvflw, kAqua, this, 764, 208);
  flat_ = addButton(Text(std::string(editor::texts::kFlat)), kLimeText, 748, 232, 49, 20);
  connect(flat_, &CaptionButton::clicked, this, &TForm1::StaticText8Click);

  // Identity and the store and load buttons.
  ColouredLabel(kProcessorId, kAqua, this, 848, 12);
  label11_ = ColouredLabel(Text(state_->processorId()), kLimeText, this, 848, 28);
  ColouredLabel(kHwPreset, kAqua, this, 848, 48);
  label13_ = ColouredLabel(Text(state_->hwPresetName()), kLimeText, this, 848, 64);
  ColouredLabel(kUserPreset, kAqua, this, 848, 84);
  label15_ = ColouredLabel(Text(state_->userPresetName()), kLimeText, this, 848, 100);
  for (auto* l : {label11_, label13_, label15_}) l->setFixedWidth(150);
  connect(addButton(kSaveToHdd, kYellowText, 852, 119, 141, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText12Click);
  connect(addButton(kLoadFromHdd, kYellowText, 852, 143, 141, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText13Click);
  connect(addButton(kLoadFromDsp, kYellowText, 852, 167, 141, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText10Click);
  connect(addButton(kSaveToDsp, kYellowText, 852, 191, 141, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText9Click);
  powerOn_ = addButton(kSavePowerOn, kYellowText, 852, 215, 141, 20);
  connect(powerOn_, &CaptionButton::clicked, this, &TForm1::StaticText11Click);
  QFont narrow = font();
  narrow.setPixelSize(10);
  for (const QString* caption :
       {&kSaveToHdd, &kLoadFromHdd, &kLoadFromDsp, &kSaveToDsp, &kSavePowerOn})
    Button(*caption)->setFont(narrow);
  connect(addButton(kClose, kLimeText, 932, 243, 61, 20), &CaptionButton::clicked, this,
          &TForm1::StaticText5Click);

  changed(editor::EditorPart::Gains);
  changed(editor::EditorPart::Delays);
}

void TForm1::buildBands() {
  using BandHandler = void (TForm1::*)(TParFilter*);
  static constexpr std::array<BandHandler, editor::kBandCount> kBandHandlers{
      &TForm1::ParFilter1ChangePar, &TForm1::ParFilter2ChangePar, &TForm1::ParFilter3ChangePar,
      &TForm1::ParFilter4ChangePar, &TForm1::ParFilter5ChangePar, &TForm1::ParFilter6ChangePar,
      &TForm1::ParFilter7ChangePar, &TForm1::ParFilter8ChangePar, &TForm1::ParFilter9ChangePar,
      &TForm1::ParFilter10ChangePar};
  std::array<editor::BandStrip*, editor::kBandCount> bands{};
  // The window creates band 10 first, then bands 1 … 9.
  for (int index : editor::kStripCreationOrder) {
    const auto i = static_cast<std::size_t>(index);
    auto* strip = new TParFilter(this);
    strips_[i] = strip;
    ConfigureEditorStrip(*strip, index);
    connect(strip, &TParFilter::ChangePar, this, kBandHandlers[i]);
    connect(strip, &TParFilter::ChangePar, this, [this, index] { undo_->BandMoved(index); });
    StartEditorStrip(*strip, index);
    adapters_[i] = std::make_unique<StripAdapter>(*strip);
    bands[i] = adapters_[i].get();
  }
  state_->attachBands(bands);
}

void TForm1::stepUpDown(int which, int step) {
  const int control = which < 2 ? undocontrol::Gain(which) : undocontrol::Delay(which - 2);
  undo_->Record(QStringLiteral("Arrow"), control, [&] { state_->ArrowClick(which, step); });
}

void TForm1::changed(editor::EditorPart part) {
  using editor::EditorPart;
  const auto& s = *state_;
  const auto& poll = s.polling();
  syncing_ = true;
  switch (part) {
    case EditorPart::Gains:
      for (std::size_t i = 0; i < 2; ++i) gainEdits_[i]->setText(Text(s.gainText()[i]));
      break;
    case EditorPart::Knobs:
      for (std::size_t i = 0; i < 2; ++i) {
        if (knobs_[i]->PotPos() != s.knobPosition()[i]) knobs_[i]->SetPotPos(s.knobPosition()[i]);
        knobs_[i]->SetValue(static_cast<float>(s.knobValue()[i]));
      }
      break;
    case EditorPart::Delays:
      for (std::size_t i = 0; i < 2; ++i) delayEdits_[i]->setText(QString::number(s.delay()[i]));
      break;
    case EditorPart::Mutes:
      for (std::size_t c = 0; c < 4; ++c)
        mutes_[c]->setCaptionColour(s.muteState()[c] ? kRedText : kLimeText);
      break;
    case EditorPart::Identity:
      undo_->FollowMachine();
      label11_->setText(Text(s.processorId()));
      label13_->setText(Text(s.hwPresetName()));
      label15_->setText(Text(s.userPresetName()));
      break;
    case EditorPart::FlatCaption:
      flat_->setText(Text(std::string(s.flatMode() ? editor::texts::kEq : editor::texts::kFlat)));
      break;
    case EditorPart::Overflow:
      overflow_->SetOn(s.overflow());
      break;
    case EditorPart::Indicators:
      for (std::size_t i = 0; i < 2; ++i) inputIndicators_[i]->SetOn(poll.inputIndicator()[i]);
      break;
    case EditorPart::Graph:
      graph_->Redraw();
      break;
    case EditorPart::EditorWindow:
      undo_->FollowMachine();
      if (s.editorVisible() && !isVisible()) show();
      if (!s.editorVisible() && isVisible()) hide();
      if (s.graphVisible() && !graph_->isVisible()) {
        PlaceBeside(*graph_, *levels_);
        graph_->show();
      }
      if (!s.graphVisible() && graph_->isVisible()) graph_->hide();
      break;
    case EditorPart::LevelWindow:
      // The level window and the response graph open at the same corner: the second beside.
      if (poll.levelWindowVisible() && !levels_->isVisible()) PlaceBeside(*levels_, *graph_);
      levels_->setVisible(poll.levelWindowVisible());
      break;
    case EditorPart::LevelMeters:
      levels_->SetMeters(poll.meters());
      break;
    case EditorPart::Timers:
      if (poll.indicatorPollRunning() != timer1_.isActive())
        poll.indicatorPollRunning() ? timer1_.start() : timer1_.stop();
      if (poll.levelRefreshRunning() != timer2_.isActive())
        poll.levelRefreshRunning() ? timer2_.start() : timer2_.stop();
      break;
    case EditorPart::PowerOnCaption:
      powerOn_->setCaptionColour(s.powerOnRunning() ? kLimeText : kYellowText);
      break;
  }
  syncing_ = false;
}

void TForm1::showEvent(QShowEvent* event) {
  if (!state_->editorVisible() || state_->editorNotShown()) state_->EditorShown();
  QWidget::showEvent(event);
}

void TForm1::hideEvent(QHideEvent* event) {
  state_->EditorHidden();
  undo_->FollowMachine();
  QWidget::hideEvent(event);
}

bool TForm1::handleFunctionKey(QKeyEvent* event) {
  const int key = event->key();
  if (key < Qt::Key_F1 || key > Qt::Key_F4) return false;
  const auto mods = event->modifiers();
  undo_->Record(QStringLiteral("Function key"), undocontrol::kNoMerge, [&] {
    state_->FunctionKeyReleased(key - Qt::Key_F1 + 1, mods.testFlag(Qt::ControlModifier),
                                mods.testFlag(Qt::AltModifier));
  });
  return true;
}

void TForm1::keyReleaseEvent(QKeyEvent* event) {
  if (!event->isAutoRepeat() && handleFunctionKey(event)) return;
  QWidget::keyReleaseEvent(event);
}

// The window sees key releases before its controls do.
bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // Each press and key starts a new step: a drag or an arrow held down is one.
  const QEvent::Type type = event->type();
  if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
      type == QEvent::KeyPress)
    undo_->BeginGesture();
  if (event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (!key->isAutoRepeat() && handleFunctionKey(key)) return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::StaticText14Click() { state_->ShowLevels(); }

void TForm1::StaticText15Click() {
  if (amp_->exec() == QDialog::Accepted)
    undo_->Record(kAmpSetting, undocontrol::kNoMerge,
                  [this] { state_->ApplyAmpTrim(calc_.AmpTrimDb); });
}

void TForm1::StaticText11Click() { state_->SaveAsPowerOnSetting(); }
void TForm1::StaticText5Click() { state_->CloseEditor(); }

void TForm1::closeEvent(QCloseEvent* event) {
  // The window goes when the state closes the editor: the machine's access ends and it is
  // released first, after the operation on the bus (if one runs) has ended.
  if (!state_->editorVisible()) return QWidget::closeEvent(event);
  event->ignore();
  QPointer<TForm1> self(this);
  BusGuard::instance().whenIdle([self] {
    if (self && self->state_->editorVisible()) self->StaticText5Click();
  });
}
void TForm1::StaticText7Click() { state_->CopyBandsToAllMachines(); }
void TForm1::StaticText8Click() {
  undo_->Record(flat_->text(), undocontrol::kNoMerge, [this] { state_->ToggleFlat(); });
}
// A tick that falls inside another operation's wait is skipped: the bus is that operation's.
void TForm1::Timer1Timer() {
  if (!BusGuard::instance().busy()) state_->PollInputIndicators();
}
void TForm1::Timer2Timer() {
  if (!BusGuard::instance().busy()) state_->PollLevelMeters();
}

void TForm1::ParFilter1ChangePar(TParFilter*) { state_->BandChanged(0); }
void TForm1::ParFilter2ChangePar(TParFilter*) { state_->BandChanged(1); }
void TForm1::ParFilter3ChangePar(TParFilter*) { state_->BandChanged(2); }
void TForm1::ParFilter4ChangePar(TParFilter*) { state_->BandChanged(3); }
void TForm1::ParFilter5ChangePar(TParFilter*) { state_->BandChanged(4); }
void TForm1::ParFilter6ChangePar(TParFilter*) { state_->BandChanged(5); }
void TForm1::ParFilter7ChangePar(TParFilter*) { state_->BandChanged(6); }
void TForm1::ParFilter8ChangePar(TParFilter*) { state_->BandChanged(7); }
void TForm1::ParFilter9ChangePar(TParFilter*) { state_->BandChanged(8); }
void TForm1::ParFilter10ChangePar(TParFilter*) { state_->BandChanged(9); }

void TForm1::runPresetOperation(CaptionButton* button, void (editor::UserPresets::*operation)()) {
  if (!presets_) return;
  button->setCaptionColour(kLimeText);
  (presets_->*operation)();
  button->setCaptionColour(kYellowText);
}

void TForm1::StaticText9Click() {
  runPresetOperation(Button(kSaveToDsp), &editor::UserPresets::SaveToDspMemory);
}
void TForm1::StaticText10Click() {
  undo_->RecordPreset(kLoadFromDsp, [this] {
    runPresetOperation(Button(kLoadFromDsp), &editor::UserPresets::LoadFromDspMemory);
  });
}
void TForm1::StaticText12Click() {
  runPresetOperation(Button(kSaveToHdd), &editor::UserPresets::SaveToComputerFile);
}
void TForm1::StaticText13Click() {
  undo_->RecordPreset(kLoadFromHdd, [this] {
    runPresetOperation(Button(kLoadFromHdd), &editor::UserPresets::LoadFromComputerFile);
  });
}

}  // namespace qubix::ui
