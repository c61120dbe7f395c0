#include "ui/editor/AmpCalculatorDialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/common/CaptionButton.h"
#include "ui/editor/EditorTexts.h"
#include "ui/editor/EditorWidgets.h"

namespace qubix::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// "&&" in a caption shows one ampersand.
QString Caption(std::string_view s) { return Q(s); }

void Navy(QLineEdit* e) {
  QPalette pal = e->palette();
  pal.setColor(QPalette::Base, editortexts::kNavy);
  pal.setColor(QPalette::Text, editortexts::kLimeText);
  e->setPalette(pal);
}

}  // namespace

TForm9::TForm9(editor::AmpCalculator& calc, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), calc_(calc) {
  using namespace editor::amptexts;
  setWindowTitle(Q(kCaption));
  setFixedSize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  pal.setColor(QPalette::WindowText, editortexts::kAqua);
  setPalette(pal);
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);

  auto* group = new QGroupBox(Q(kYouKnow), this);
  group->setGeometry(12, 12, 240, 80);
  mode0_ = new QRadioButton(Caption(kModeSensPower), group);
  mode1_ = new QRadioButton(Caption(kModePowerGain), group);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(mode0_);
  layout->addWidget(mode1_);
  auto* buttons = new QButtonGroup(this);
  buttons->addButton(mode0_, 0);
  buttons->addButton(mode1_, 1);
  connect(buttons, &QButtonGroup::idClicked, this, &TForm9::RadioGroup1Click);

  sensLabel_ = ColouredLabel(Q(kInputSens), editortexts::kAqua, this, 264, 30);
  edit2_ = new QLineEdit(this);
  edit2_->setGeometry(360, 26, 80, 24);
  Navy(edit2_);
  voltLabel_ = ColouredLabel(Q(kVolt), editortexts::kAqua, this, 448, 30);

  gainLabel_ = ColouredLabel(Q(kGain), editortexts::kAqua, this, 264, 30);
  combo_ = new QComboBox(this);
  combo_->setGeometry(360, 26, 80, 24);
  QPalette field = combo_->palette();  // a navy field like the text boxes, not a white one
  for (auto role : {QPalette::Base, QPalette::Button}) field.setColor(role, editortexts::kNavy);
  for (auto role : {QPalette::Text, QPalette::ButtonText})
    field.setColor(role, editortexts::kLimeText);
  combo_->setPalette(field);
  for (int i = 0; i < editor::kAmpGainEntries; ++i)
    combo_->addItem(QString::fromStdString(editor::AmpGainEntryText(i)));

  ColouredLabel(Q(kOutputPower), editortexts::kAqua, this, 264, 70);
  edit1_ = new QLineEdit(this);
  edit1_->setGeometry(400, 66, 60, 24);
  Navy(edit1_);
  ColouredLabel(Q(kWatt), editortexts::kAqua, this, 468, 70);

  edit3_ = new QLineEdit(this);
  edit3_->hide();

  accept_ = new CaptionButton(Q(kAccept), this, editortexts::kLimeText);
  accept_->setGeometry(300, 170, 85, 22);
  cancel_ = new CaptionButton(Q(kCancel), this, editortexts::kLimeText);
  cancel_->setGeometry(400, 170, 85, 22);
  connect(accept_, &CaptionButton::clicked, this, [this] { StaticTextCloseClick(); });
  connect(cancel_, &CaptionButton::clicked, this, &TForm9::StaticText1Click);

  move(106, 110);
  pushEntries();
}

void TForm9::pushEntries() {
  edit1_->setText(QString::fromStdString(calc_.powerText));
  edit2_->setText(QString::fromStdString(calc_.sensText));
  combo_->setCurrentIndex(calc_.gainIndex);
  edit3_->setText(QString::fromStdString(calc_.edit3));
  (calc_.mode == 1 ? mode1_ : mode0_)->setChecked(true);
}

void TForm9::pullEntries() {
  calc_.powerText = edit1_->text().toStdString();
  calc_.sensText = edit2_->text().toStdString();
  calc_.gainIndex =
      combo_->currentIndex() < 0 ? editor::kAmpDefaultGainIndex : combo_->currentIndex();
}

void TForm9::RadioGroup1Click(int item) {
  if (item == 0 || item == 1) {
    calc_.mode = item;
    const bool gainMode = item == 1;
    combo_->setVisible(gainMode);
    gainLabel_->setVisible(gainMode);
    edit2_->setVisible(!gainMode);
    sensLabel_->setVisible(!gainMode);
    voltLabel_->setVisible(!gainMode);
  }
  edit3_->clear();
}

bool TForm9::StaticTextCloseClick() {
  pullEntries();
  if (auto message = calc_.Accept()) {
    lastMessage_ = QString::fromStdString(*message);
    if (showMessages) QMessageBox::warning(this, windowTitle(), lastMessage_);
    return false;
  }
  lastMessage_.clear();
  pushEntries();
  accept();
  return true;
}

void TForm9::StaticText1Click() { reject(); }

void TForm9::reject() {
  pullEntries();
  QDialog::reject();
}

void TForm9::showEvent(QShowEvent* event) {
  pushEntries();
  RadioGroup1Click(calc_.mode);
  QDialog::showEvent(event);
}

}  // namespace qubix::ui
