#include "ui/editor/PresetLocationDialog.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "editor/UserPresets.h"
#include "ui/common/CaptionButton.h"
#include "ui/common/DialogLook.h"

namespace qubix::ui {

namespace {
QString Text(std::string_view text) { return QtText(text); }
}  // namespace

TForm2::TForm2(QWidget* parent)
    : TForm2(Text(editor::texts::kSelectLocation), Text(editor::texts::kLocationQuestion), parent) {
}

TForm2::TForm2(const QString& caption, const QString& question, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags) {
  SetUpFixedBlackDialog(*this, caption, kClientWidth, kClientHeight);

  Question = new QLabel(question, this);
  Question->setGeometry(16, 10, 250, 18);
  Question->setStyleSheet("color: white;");
  auto* forProcessor = new QLabel(Text(editor::texts::kForTheProcessor), this);
  forProcessor->setGeometry(16, 32, 110, 18);
  forProcessor->setStyleSheet("color: white;");
  Label11 = new QLabel(QStringLiteral("H000000000000"), this);
  Label11->setGeometry(128, 32, 140, 18);
  Label11->setStyleSheet("color: lime;");

  UpDown1 = new QSpinBox(this);
  UpDown1->setRange(0, 7);
  UpDown1->setSingleStep(1);
  UpDown1->setWrapping(false);
  UpDown1->setValue(0);
  // A read-only number field: only the arrows change it.
  if (auto* field = UpDown1->findChild<QLineEdit*>()) field->setReadOnly(true);
  UpDown1->setGeometry(280, 10, 66, 44);
  QFont digits = UpDown1->font();
  digits.setPixelSize(28);
  digits.setBold(true);
  UpDown1->setFont(digits);
  UpDown1->setStyleSheet("QSpinBox { color: lime; background: navy; }");

  OkButton = new CaptionButton(Text(editor::texts::kLocationOk), this);
  OkButton->setGeometry(60, 86, 90, 24);
  CancelButton = new CaptionButton(Text(editor::texts::kLocationCancel), this);
  CancelButton->setGeometry(210, 86, 90, 24);
  connect(OkButton, &CaptionButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &CaptionButton::clicked, this, &QDialog::reject);
}

void TForm2::PlaceBelow(const QWidget& mainWindow) { move(200, mainWindow.y() + 130); }

std::optional<int> TForm2::AskLocation(const QString& processorId) {
  Label11->setText(processorId);
  if (exec() != QDialog::Accepted) return std::nullopt;
  return Position();
}

int TForm2::Position() const { return UpDown1->value(); }

TForm4::TForm4(QWidget* parent)
    : TForm2(Text(editor::texts::kSelectUserPreset), Text(editor::texts::kUserPresetQuestion),
             parent) {}

}  // namespace qubix::ui
