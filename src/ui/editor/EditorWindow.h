// TForm1: the processor editor window — a view over editor::EditorState. Its handlers forward to
// the state and it redraws what the state reports as changed. It owns the response graph, the level
// window and the amplifier calculator, which it shows and hides with itself.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

#include "editor/AmpCalculator.h"
#include "editor/EditorState.h"
#include "editor/UserPresets.h"

class QLineEdit;
class QFrame;
class QLabel;

namespace qubix::ui {

class CaptionButton;
class EditorUndo;
class Indicator;
class TForm3;
class TForm8;
class TForm9;
class TParFilter;
class TSSKnob;

class TForm1 : public QWidget, public editor::EditorView {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 1006;
  static constexpr int kClientHeight = 275;

  explicit TForm1(editor::EditorHost& host, QWidget* parent = nullptr);
  ~TForm1() override;

  // Places the window below the main window (its top + 110, left 6).
  void PlaceBelow(const QWidget& mainWindow);

  editor::EditorState& State() { return *state_; }
  // The operations behind the four user preset buttons; without them the buttons do nothing.
  void SetUserPresets(editor::UserPresets* presets) { presets_ = presets; }
  TForm3& Graph() { return *graph_; }
  TForm8& Levels() { return *levels_; }
  TForm9& AmpDialog() { return *amp_; }
  // The history of the operator's changes (Ctrl+Z, Ctrl+Shift+Z, Ctrl+Y).
  EditorUndo& Undo() { return *undo_; }

  // Handlers of the controls (thin: each forwards to the state).
  void StaticText14Click();  // "  Show Levels"
  void StaticText15Click();  // " Amp Setting "
  void StaticText11Click();  // " Save As PowerOn Setting"
  void StaticText5Click();   // " Close"
  void StaticText7Click();   // " Copy to All"
  void StaticText8Click();   // "Flat" / "EQ"
  void StaticText9Click();   // "    Save To DSP Memory"
  void StaticText10Click();  // "   Load From DSP Memory"
  void StaticText12Click();  // "   Save To Computer HDD"
  void StaticText13Click();  // "  Load From Computer HDD"
  void Timer1Timer();        // the input indicators, every 655 ms
  void Timer2Timer();        // the level meters while the level window shows
  // Change events of the band strips, one per strip; each forwards its band index.
  void ParFilter1ChangePar(TParFilter* sender);
  void ParFilter2ChangePar(TParFilter* sender);
  void ParFilter3ChangePar(TParFilter* sender);
  void ParFilter4ChangePar(TParFilter* sender);
  void ParFilter5ChangePar(TParFilter* sender);
  void ParFilter6ChangePar(TParFilter* sender);
  void ParFilter7ChangePar(TParFilter* sender);
  void ParFilter8ChangePar(TParFilter* sender);
  void ParFilter9ChangePar(TParFilter* sender);
  void ParFilter10ChangePar(TParFilter* sender);

  // Controls, for the main window and for tests.
  TParFilter* ParFilter(int number) const { return strips_[static_cast<std::size_t>(number - 1)]; }
  TSSKnob* SSKnob(int number) const { return knobs_[static_cast<std::size_t>(number - 1)]; }
  QLineEdit* GainEdit(int input) const { return gainEdits_[static_cast<std::size_t>(input)]; }
  QLineEdit* DelayEdit(int pair) const { return delayEdits_[static_cast<std::size_t>(pair)]; }
  CaptionButton* MuteButton(int channel) const { return mutes_[static_cast<std::size_t>(channel)]; }
  CaptionButton* Button(const QString& caption) const;
  Indicator* InputIndicator(int input) const {
    return inputIndicators_[static_cast<std::size_t>(input)];
  }
  Indicator* OverflowIndicator() const { return overflow_; }
  QLabel* Label11() const { return label11_; }
  QLabel* Label13() const { return label13_; }
  QLabel* Label15() const { return label15_; }
  QTimer& Timer1() { return timer1_; }
  QTimer& Timer2() { return timer2_; }

  // editor::EditorView
  void changed(editor::EditorPart part) override;

 protected:
  void showEvent(QShowEvent* event) override;
  // The window manager's close does what " Close" does.
  void closeEvent(QCloseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class StripAdapter;
  void build();
  void buildBands();
  CaptionButton* addButton(const QString& caption, const QColor& colour, int x, int y, int w,
                           int h);
  void stepUpDown(int which, int step);
  bool handleFunctionKey(QKeyEvent* event);
  void runPresetOperation(CaptionButton* button, void (editor::UserPresets::*operation)());

  editor::AmpCalculator calc_;
  std::unique_ptr<editor::EditorState> state_;
  editor::UserPresets* presets_ = nullptr;
  std::unique_ptr<TForm3> graph_;
  std::unique_ptr<TForm8> levels_;
  std::unique_ptr<TForm9> amp_;
  std::unique_ptr<EditorUndo> undo_;
  std::array<TParFilter*, editor::kBandCount> strips_{};
  std::array<std::unique_ptr<StripAdapter>, editor::kBandCount> adapters_;
  std::array<TSSKnob*, 2> knobs_{};
  std::array<QLineEdit*, 2> gainEdits_{};
  std::array<QLineEdit*, 2> delayEdits_{};
  std::array<CaptionButton*, 4> mutes_{};
  std::array<Indicator*, 2> inputIndicators_{};
  Indicator* overflow_ = nullptr;
  CaptionButton* flat_ = nullptr;
  CaptionButton* powerOn_ = nullptr;
  QLabel* label11_ = nullptr;
  QLabel* label13_ = nullptr;
  QLabel* label15_ = nullptr;
  std::vector<CaptionButton*> buttons_;
  QTimer timer1_;
  QTimer timer2_;
  bool syncing_ = false;  // the view is writing the state's values into its controls
};

}  // namespace qubix::ui
