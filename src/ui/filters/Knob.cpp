#include "ui/filters/Knob.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ui/filters/Drawing.h"
#include "ui/filters/FilterTexts.h"

namespace qubix::ui {

namespace {
TSSKnob* gActiveKnob = nullptr;

constexpr int kDialMargin = 10;
constexpr int kZoneTop = 60;  // the minus and plus zones lie in the band below the dial
constexpr int kWheelNotch = 120;
constexpr int kWheelStep = 3;
constexpr int kRightClickStep = 12;

QStringView bitmapName(KcColor colour) {
  switch (colour) {
    case KcBlue:
      return texts::kBlueKnob;
    case KcWhite:
      return texts::kWhiteKnob;
    case KcGreen:
      return texts::kGreenKnob;
    case KcRed:
      return texts::kRedKnob;
    case KcOrange:
      return texts::kOrangeKnob;
    case KcYellow:
      return texts::kYellowKnob;
    case KcGray:
      break;
  }
  return texts::kGrayKnob;
}
}  // namespace

TSSKnob::TSSKnob(QWidget* parent) : QWidget(parent) {
  RegisterCursor(kCursorPlus, texts::kKnobCursorPlus);
  RegisterCursor(kCursorMinus, texts::kKnobCursorMinus);
  RegisterCursor(kCursorKnob, texts::kKnobCursorDrag);
  setFixedSize(kWidth, kHeight);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(NumberedCursor(kCursorKnob));
  bitmap_ = NamedBitmap(bitmapName(knobColor_));
  SetMax(max_);
}

TSSKnob::~TSSKnob() {
  if (gActiveKnob == this) gActiveKnob = nullptr;
}

TSSKnob* TSSKnob::ActiveKnob() { return gActiveKnob; }

void TSSKnob::SetValue(float value) {
  value_ = value;
  DialPaint();
}

void TSSKnob::SetValueVisible(bool visible) {
  valueVisible_ = visible;
  Paint();
}

void TSSKnob::SetValueDigits(std::int32_t digits) {
  valueDigits_ = digits;
  Paint();
}

void TSSKnob::SetKnobColor(KcColor colour) {
  knobColor_ = colour;
  bitmap_ = NamedBitmap(bitmapName(colour));
  Paint();
}

void TSSKnob::SetPotPos(std::int32_t pos) {
  potPos_ = pos;
  DialPaint();
  emit ChangePot(this);
}

void TSSKnob::SetMin(std::int32_t min) {
  min_ = min;
  Paint();
}

void TSSKnob::SetMax(std::int32_t max) {
  max_ = max;
  knobDragStep_ = max / 100 + 3;
  Paint();
}

void TSSKnob::SetCaption(const QString& caption) {
  caption_ = caption;
  Paint();
}

QPoint TSSKnob::DotTopLeft() const {
  const double theta = KnobAngle(potPos_, min_, max_);
  return {static_cast<int>(17.0 * std::cos(theta) + 34.0),
          static_cast<int>(33.0 - 17.0 * std::sin(theta))};
}

void TSSKnob::Paint() {
  // The control keeps its size whatever a layout asks.
  if (size() != QSize(kWidth, kHeight)) resize(kWidth, kHeight);
  update();
}

void TSSKnob::DialPaint() {
  update(QRect(QPoint(kDialMargin, kDialMargin), QPoint(width() - kDialMargin, height() - 20)));
  update(QRect(0, 71, width(), height() - 71));
}

void TSSKnob::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kPanelColour);
  p.drawPixmap(0, 0, bitmap_);

  const bool wide = valueDigits_ > 3;
  const QRect captionArea(QPoint(1, 71), QPoint(wide ? 28 : 39, 85));
  const QRect valueArea(QPoint(wide ? 29 : 40, 71), QPoint(76, 85));
  p.save();
  p.setClipRect(captionArea);
  p.setFont(ControlFont(8));
  p.setPen(Qt::white);
  p.drawText(QRect(1, 72, captionArea.right(), 14), Qt::AlignLeft | Qt::AlignTop, caption_);
  p.restore();
  if (valueVisible_) {
    p.save();
    p.setClipRect(valueArea);
    p.setFont(ControlFont(10));
    p.setPen(kLime);
    p.drawText(QRect(wide ? 30 : 41, 72, 46, 14), Qt::AlignLeft | Qt::AlignTop,
               FormatNumber(value_, 4, valueDigits_, false));
    p.restore();
  }

  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kDotRed);
  p.drawEllipse(QRectF(DotTopLeft(), QSizeF(6, 6)));
  p.restore();
}

std::int32_t TSSKnob::Clamped(std::int64_t pos) const {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(pos, min_, std::max(min_, max_)));
}

void TSSKnob::SetZone(bool minus, bool plus, int cursor) {
  minusZone_ = minus;
  plusZone_ = plus;
  setCursor(NumberedCursor(cursor));
}

void TSSKnob::mousePressEvent(QMouseEvent* event) {
  const int y = event->position().toPoint().y();
  if (event->button() == Qt::LeftButton) {
    gActiveKnob = this;
    lastY_ = y;
  } else if (event->button() == Qt::RightButton) {
    lastY_ = y;
  }
}

void TSSKnob::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (gActiveKnob == this && (event->buttons() & (Qt::LeftButton | Qt::RightButton))) {
    // Moving up raises the position.
    SetPotPos(Clamped(std::int64_t{potPos_} -
                      std::int64_t{pos.y() - lastY_} * std::int64_t{knobDragStep_}));
    lastY_ = pos.y();
  }
  if (pos.y() >= kZoneTop && pos.y() < height() && pos.x() > 0 && pos.x() < 20)
    SetZone(true, false, kCursorMinus);
  else if (pos.y() >= kZoneTop && pos.y() < height() && pos.x() > 56 && pos.x() < width())
    SetZone(false, true, kCursorPlus);
  else
    SetZone(false, false, kCursorKnob);
}

void TSSKnob::mouseReleaseEvent(QMouseEvent* event) {
  int step = 0;
  if (event->button() == Qt::LeftButton)
    step = 1;
  else if (event->button() == Qt::RightButton)
    step = kRightClickStep;
  else
    return;
  const int direction = minusZone_ ? -1 : (plusZone_ ? 1 : 0);
  SetPotPos(Clamped(std::int64_t{potPos_} + std::int64_t{direction} * step));
}

void TSSKnob::mouseDoubleClickEvent(QMouseEvent* event) {
  lastDoubleClick_ = event->button();
  mousePressEvent(event);
}

void TSSKnob::wheelEvent(QWheelEvent* event) {
  // Away from the operator (positive delta) turns up; each full notch is one step of 3.
  wheelRemainder_ += event->angleDelta().y();
  while (wheelRemainder_ >= kWheelNotch) {
    wheelRemainder_ -= kWheelNotch;
    SetPotPos(Clamped(std::int64_t{potPos_} + kWheelStep));
  }
  while (wheelRemainder_ <= -kWheelNotch) {
    wheelRemainder_ += kWheelNotch;
    SetPotPos(Clamped(std::int64_t{potPos_} - kWheelStep));
  }
  event->accept();
}

}  // namespace qubix::ui
