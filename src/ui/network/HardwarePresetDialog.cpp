#include "ui/network/HardwarePresetDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>

#include "network/HardwarePreset.h"
#include "network/NetworkTexts.h"
#include "ui/common/CaptionButton.h"
#include "ui/common/DialogLook.h"
#include "ui/network/MachineSlots.h"

namespace qubix::ui {

namespace {

QString Text(std::string_view text) { return QtText(text); }

// Configurations 1 … 4 in the left column, 5 … 8 in the right.
QPoint PictureAt(int index) {
  const int column = index / 4;
  const int row = index % 4;
  return {16 + column * 256, 14 + row * 100};
}

}  // namespace

TForm7::TForm7(std::filesystem::path dataDir, const network::HardwarePresetNames& names,
               QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), dataDir_(std::move(dataDir)), names_(names) {
  SetUpFixedBlackDialog(*this, Text(network::texts::kPresetDialogCaption), kClientWidth,
                        kClientHeight);

  const QString hint = Text(network::texts::kPresetPictureHint);
  for (int i = 0; i < network::kHardwarePresetCount; ++i) {
    const QPoint at = PictureAt(i);
    auto* picture = new ClickablePicture(this);
    picture->setGeometry(at.x(), at.y(), kPictureSize, kPictureSize);
    picture->setToolTip(hint);
    picture->setScaledContents(true);
    // A palette rather than a style sheet: a sheet would reach the picture's tool tip too.
    QPalette ground = picture->palette();
    ground.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    picture->setPalette(ground);
    picture->setAutoFillBackground(true);
    connect(picture, &ClickablePicture::clicked, this, [this, i] { SelectPS(i + 1); });
    Images[static_cast<std::size_t>(i)] = picture;

    auto* title = new QLabel(Text(network::texts::kPresetTitle) + QString::number(i + 1), this);
    title->setGeometry(at.x() + kPictureSize + 8, at.y() + 6, 150, 18);
    title->setStyleSheet("color: aqua;");
    Titles[static_cast<std::size_t>(i)] = title;

    auto* name = new QLabel(this);
    name->setGeometry(at.x() + kPictureSize + 8, at.y() + 28, 150, 18);
    name->setStyleSheet("color: lime;");
    Names[static_cast<std::size_t>(i)] = name;
  }

  const QPoint eight = PictureAt(7);
  StaticText22 = new CaptionButton(Text(network::texts::kLoadNew), this);
  StaticText22->setGeometry(eight.x() + kPictureSize + 8, eight.y() + 50, 90, 20);
  connect(StaticText22, &CaptionButton::clicked, this, &TForm7::StaticText22Click);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setRange(0, kProgressMax);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setGeometry(eight.x() + kPictureSize + 8, eight.y() + 74, 150, 10);
  ProgressBar1->hide();

  FootHint = new QLabel(hint, this);
  FootHint->setGeometry(16, kClientHeight - 40, 360, 20);
  FootHint->setStyleSheet("color: white;");
  StaticText8 = new CaptionButton(Text(network::texts::kPresetClose), this);
  StaticText8->setGeometry(kClientWidth - 110, kClientHeight - 40, 90, 20);
  connect(StaticText8, &CaptionButton::clicked, this, &TForm7::StaticText8Click);
}

void TForm7::PlaceBelow(const QWidget& mainWindow) { move(106, mainWindow.y() + 110); }

void TForm7::FormShow() {
  for (int i = 0; i < network::kHardwarePresetCount; ++i) {
    const std::string file = i < network::kExtraPreset ? "Controller0" + std::to_string(i) + ".jpg"
                                                       : std::string(network::texts::kExtraPicture);
    // A missing picture leaves the frame empty; the dialog stays usable.
    Images[static_cast<std::size_t>(i)]->setPixmap(
        QPixmap::fromImage(LoadJpegPicture(dataDir_ / file)));
    Names[static_cast<std::size_t>(i)]->setText(
        i < network::kExtraPreset
            ? QString::fromStdString(network::CaptionText(names_[static_cast<std::size_t>(i)]))
            : Text(network::texts::kExtraPresetLabel));
  }
}

void TForm7::SelectPS(int number) { done(number); }

void TForm7::StaticText8Click() { done(network::kPresetDialogClose); }

void TForm7::StaticText22Click() {
  if (onLoadNew) onLoadNew();
}

// No title-bar buttons: Escape and the window manager's close do not end the dialog.
void TForm7::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm7::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace qubix::ui
