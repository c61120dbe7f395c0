#include "ui/network/MachineSlots.h"

#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>
#include <cstring>

#include "media/JpegDecoder.h"
#include "network/NetworkTexts.h"
#include "ui/common/BusGuard.h"

namespace qubix::ui {

namespace {
namespace texts = network::texts;

constexpr int kRowTop[] = {124, 274, 425, 577};
constexpr int kWindowWidth = 1022;
constexpr int kMargin = 8;
constexpr int kLabelWidth = 130;
constexpr int kLabelHeight = 17;
constexpr int kLabelFontPx = 11;  // the longest preset name fits the 130-pixel line
constexpr int kEditWidth = 220;
constexpr int kEditHeight = 60;
constexpr int kPresetSize = 150;
constexpr int kAnimationWidth = 299;
constexpr int kAnimationHeight = 25;

bool leftColumn(int k) { return k % 2 == 0; }
int rowTop(int k) { return kRowTop[k / 2]; }

QString qt(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

const char* kStyle = "color: rgb(0,255,0); background: black;";
}  // namespace

ClickablePicture::ClickablePicture(QWidget* parent) : QLabel(parent) {
  setCursor(Qt::PointingHandCursor);
}

void ClickablePicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    const BusGuard::Operation operation;
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

QImage LoadJpegPicture(const std::filesystem::path& path, std::string* error) {
  std::string why;
  auto decoded = media::DecodeJpegFile(path, why);
  if (!decoded) {
    if (error) *error = why;
    return {};
  }
  QImage image(decoded->width, decoded->height, QImage::Format_RGB888);
  const auto rowBytes = static_cast<std::size_t>(decoded->width) * 3u;
  for (int y = 0; y < decoded->height; ++y)
    std::memcpy(image.scanLine(y), decoded->rgb.data() + rowBytes * static_cast<std::size_t>(y),
                rowBytes);
  return image;
}

QRect MachineSlots::labelGeometry(int k, int line) {
  const int x = leftColumn(k) ? kMargin : kWindowWidth - kMargin - kLabelWidth;
  return {x, rowTop(k) + line * (kLabelHeight + 2), kLabelWidth, kLabelHeight};
}

QRect MachineSlots::editPictureGeometry(int k) {
  const int x = leftColumn(k) ? kMargin + kLabelWidth + 2
                              : kWindowWidth - kMargin - kLabelWidth - 2 - kEditWidth;
  return {x, rowTop(k), kEditWidth, kEditHeight};
}

QRect MachineSlots::presetPictureGeometry(int k) {
  // The two preset pictures of a row stand side by side in the middle of the window.
  const int x = leftColumn(k) ? kWindowWidth / 2 - kPresetSize : kWindowWidth / 2;
  return {x, rowTop(k), kPresetSize, kPresetSize};
}

QRect MachineSlots::animationGeometry(int k) {
  const QRect edit = editPictureGeometry(k);
  const int x = leftColumn(k) ? edit.right() + 1 - kAnimationWidth : edit.left();
  return {std::max(0, x), edit.bottom() + 4, kAnimationWidth, kAnimationHeight};
}

MachineSlots::MachineSlots(QWidget* window, const std::filesystem::path& dataDir)
    : QObject(window) {
  // The edit picture is a fixed picture of the form: a missing file leaves a framed blank.
  const QImage processor = LoadJpegPicture(dataDir / texts::kProcessorPicture);
  for (int k = 0; k < network::kSlotCount; ++k) {
    Slot& s = slots_[static_cast<std::size_t>(k)];
    s.editPicture = new ClickablePicture(window);
    s.editPicture->setGeometry(editPictureGeometry(k));
    s.editPicture->setToolTip(qt(texts::kEditHint));
    s.editPicture->setObjectName(QString("EditPicture%1").arg(k + 1));
    if (!processor.isNull())
      s.editPicture->setPixmap(QPixmap::fromImage(processor));
    else
      s.editPicture->setFrameStyle(QFrame::Box | QFrame::Plain);  // lime, as the text
    s.presetPicture = new ClickablePicture(window);
    s.presetPicture->setGeometry(presetPictureGeometry(k));
    s.presetPicture->setToolTip(qt(texts::kPresetHint));
    s.presetPicture->setScaledContents(true);
    s.presetPicture->setObjectName(QString("PresetPicture%1").arg(k + 1));
    QLabel** labels[] = {&s.identifier, &s.hardwarePreset, &s.userPreset};
    for (int line = 0; line < 3; ++line) {
      *labels[line] = new QLabel(window);
      (*labels[line])->setGeometry(labelGeometry(k, line));
      (*labels[line])->setStyleSheet(kStyle);
      QFont font = (*labels[line])->font();
      font.setPixelSize(kLabelFontPx);
      (*labels[line])->setFont(font);
      (*labels[line])->setTextFormat(Qt::PlainText);
      (*labels[line])
          ->setAlignment(leftColumn(k) ? Qt::AlignLeft | Qt::AlignVCenter
                                       : Qt::AlignRight | Qt::AlignVCenter);
    }
    connect(s.editPicture, &ClickablePicture::clicked, this,
            [this, k] { emit editPictureClicked(k); });
    connect(s.presetPicture, &ClickablePicture::clicked, this,
            [this, k] { emit presetPictureClicked(k); });
  }
  HideAllSlots();
}

void MachineSlots::HideAllSlots() {
  for (auto& s : slots_) {
    s.editPicture->hide();
    s.identifier->hide();
    s.hardwarePreset->hide();
    s.userPreset->hide();
    s.presetPicture->hide();
  }
}

bool MachineSlots::ShowSlot(int k, const network::SlotDisplay& d) {
  if (k < 0 || k >= network::kSlotCount) return true;
  Slot& s = slots_[static_cast<std::size_t>(k)];
  s.editPicture->show();
  s.identifier->show();
  s.hardwarePreset->show();
  s.userPreset->show();
  s.identifier->setText(QString::fromStdString(d.identifier));
  s.userPreset->setText(QString::fromStdString(d.userPreset));
  if (setWindowHeight) setWindowHeight(d.windowHeight);
  return ShowHardwarePreset(k, d);
}

bool MachineSlots::ShowHardwarePreset(int k, const network::SlotDisplay& d) {
  if (k < 0 || k >= network::kSlotCount) return true;
  Slot& s = slots_[static_cast<std::size_t>(k)];
  s.hardwarePreset->setText(QString::fromStdString(d.hardwarePreset));
  if (d.picture) {
    const QImage image = LoadJpegPicture(*d.picture);
    if (image.isNull()) return false;
    s.presetPicture->setPixmap(QPixmap::fromImage(image));
  }
  s.presetPicture->show();
  return true;
}

}  // namespace qubix::ui
