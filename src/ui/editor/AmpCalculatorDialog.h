// TForm9: the power amplifier calculator dialog — the amplifier described by sensitivity and power,
// or by power and gain; " Accept" clamps the entries, computes the trim and closes with OK.
#pragma once

#include <QDialog>

#include "editor/AmpCalculator.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace qubix::ui {

class CaptionButton;

class TForm9 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 512;
  static constexpr int kClientHeight = 216;

  // The calculator's entries and result live in `calc`, kept for the whole run.
  explicit TForm9(editor::AmpCalculator& calc, QWidget* parent = nullptr);

  void RadioGroup1Click(int item);
  // " Accept": false (and the dialog stays open) when an entry is not a number.
  bool StaticTextCloseClick();
  void StaticText1Click();
  // Closing without " Accept" keeps what was typed for the next opening, computing nothing.
  void reject() override;

  QLineEdit* Edit1() const { return edit1_; }  // power
  QLineEdit* Edit2() const { return edit2_; }  // sensitivity
  QLineEdit* Edit3() const { return edit3_; }  // result text, never shown
  QComboBox* ComboBox1() const { return combo_; }
  QRadioButton* ModeButton(int item) const { return item == 0 ? mode0_ : mode1_; }
  CaptionButton* AcceptButton() const { return accept_; }
  CaptionButton* CancelButton() const { return cancel_; }
  // The last refusal shown (for tests and the status of the dialog).
  const QString& LastMessage() const { return lastMessage_; }

  // Set false in tests: the refusal is only recorded, not shown in a modal box.
  bool showMessages = true;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void pullEntries();
  void pushEntries();

  editor::AmpCalculator& calc_;
  QRadioButton* mode0_;
  QRadioButton* mode1_;
  QLabel* sensLabel_;
  QLabel* voltLabel_;
  QLabel* gainLabel_;
  QLineEdit* edit1_;
  QLineEdit* edit2_;
  QLineEdit* edit3_;
  QComboBox* combo_;
  CaptionButton* accept_;
  CaptionButton* cancel_;
  QString lastMessage_;
};

}  // namespace qubix::ui
