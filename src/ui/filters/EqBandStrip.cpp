#include "ui/filters/EqBandStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ui/filters/Drawing.h"
#include "ui/filters/FilterTexts.h"

namespace qubix::ui {

namespace {
TParFilter* gActiveStrip = nullptr;
bool gMiddleHeld = false;

constexpr float kSmallestQ = 0.2F;
constexpr int kScaleWidth = 24;   // XOffset of the first strip
constexpr int kRightScaleX = 27;  // dB scale of the last strip
constexpr int kFaderTop = 53;     // grid, slot and scales are drawn from here
constexpr int kFaderTravel = 96;  // pixels between GMax and GMin
constexpr int kGainTextTop = 169;
constexpr int kQKnobTop = 187;
// Press column and the rows that choose the drag mode.
constexpr int kPressLeft = 4;
constexpr int kPressRight = 34;

QPoint dotCorner(double pot, double minimum, double maximum, int xOffset, int yOffset) {
  const double theta = KnobAngle(pot, minimum, maximum);
  return {static_cast<int>(10.0 * std::cos(theta) + 17.0) + xOffset,
          static_cast<int>(16.0 - 10.0 * std::sin(theta)) + yOffset};
}
}  // namespace

TParFilter::TParFilter(QWidget* parent) : QWidget(parent) {
  knob_ = NamedBitmap(texts::kEqKnob);
  scaleRight_ = NamedBitmap(texts::kEqScaleRight);
  scaleLeft_ = NamedBitmap(texts::kEqScaleLeft);
  grid_ = NamedBitmap(texts::kEqGrid);
  gridMirrored_ = QPixmap::fromImage(grid_.toImage().mirrored(true, false));
  slot_ = NamedBitmap(texts::kEqSlot);
  face_ = NamedBitmap(texts::kSmallKnobFace);
  RegisterCursor(kCursorPlus, texts::kStripCursorPlus);
  RegisterCursor(kCursorMinus, texts::kStripCursorMinus);
  RegisterCursor(kCursorStrip, texts::kStripCursorDrag);

  gainTextColour_ = kLime;
  resize(kStripWidth, kHeight);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(NumberedCursor(kCursorStrip));
}

TParFilter::~TParFilter() {
  if (gActiveStrip == this) {
    gActiveStrip = nullptr;
    gMiddleHeld = false;
  }
}

TParFilter* TParFilter::ActiveStrip() { return gActiveStrip; }
bool TParFilter::MiddleHeld() { return gMiddleHeld; }

// ---- pots, values and properties --------------------------------------------------------

int TParFilter::FBCalc() { return band_.FBCalc(fValue_, gPotPos_, qValue_, filterBlockSR_); }

void TParFilter::Raise() {
  FBCalc();
  emit ChangePar(this);
}

void TParFilter::SetFPotPos(float hz) {
  fPotPos_ = hz;
  fValue_ = hz;
  update(FrequencyZone());
  Raise();
}

void TParFilter::SetGPotPos(float db) {
  gPotPos_ = db;
  Raise();
}

void TParFilter::SetQPotPos(float q) {
  qPotPos_ = q;
  qValue_ = q;
  update(QZone());
  Raise();
}

void TParFilter::SetFValue(float hz) {
  fValue_ = hz;
  if (fbActive_) IndexPaint();
}

void TParFilter::SetGainValue(float db) {
  gainValue_ = db;
  IndexPaint();
}

void TParFilter::SetQValue(float q) {
  qValue_ = q;
  IndexPaint();
}

void TParFilter::SetFirst(bool first) {
  first_ = first;
  if (first) last_ = false;
  Paint();
}

void TParFilter::SetLast(bool last) {
  last_ = last;
  if (last) first_ = false;
  Paint();
}

void TParFilter::SetFilterBlockQF(float q) { filterBlockQF_ = q; }

void TParFilter::SetFilterBlockSR(std::int32_t hz) { filterBlockSR_ = hz; }

void TParFilter::SetFilterBlockAddr(std::int32_t addr) { filterBlockAddr_ = addr; }

void TParFilter::SetFBActive(bool active) {
  fbActive_ = active;
  if (!active) dragMode_ = DragMode::None;
}

void TParFilter::SetFMax(std::int32_t hz) {
  fMax_ = hz;
  freqDragStep_ = hz / 1000 + 1;
}

void TParFilter::SetGMax(std::int32_t db) {
  gMax_ = db;
  gMin_ = -db;
}

void TParFilter::SetQMin(float q) { qMin_ = q <= kSmallestQ ? kSmallestQ : q; }

void TParFilter::SetQMax(float q) {
  qMax_ = q;
  qDragStep_ = static_cast<float>(q * 0.01 + 0.2);
}

QPoint TParFilter::FrequencyDot() const { return dotCorner(fPotPos_, fMin_, fMax_, xOffset_, 0); }

QPoint TParFilter::QDot() const { return dotCorner(qPotPos_, qMin_, qMax_, xOffset_, kQKnobTop); }

// ---- repaints ---------------------------------------------------------------------------

QRect TParFilter::FrequencyZone() const { return {0, 0, width(), kFaderTop}; }
QRect TParFilter::GainZone() const { return {0, kFaderTop, width(), kQKnobTop - kFaderTop}; }
QRect TParFilter::QZone() const { return {0, kQKnobTop, width(), kHeight - kQKnobTop}; }

void TParFilter::Paint() {
  // A range of zero dB would divide by zero: the fader keeps its previous scale then.
  if (gMax_ > gMin_)
    gainScale_ = static_cast<float>(kFaderTravel) / static_cast<float>(gMax_ - gMin_);
  knobTop_ = static_cast<int>(48.0F - gPotPos_ * gainScale_ + 53.0F);
  xOffset_ = first_ ? kScaleWidth : 0;
  gainTextColour_ = kLime;
  update();
}

void TParFilter::IndexPaint() {
  switch (dragMode_) {
    case DragMode::Frequency:
      FIndexPaint();
      break;
    case DragMode::Gain:
      GIndexPaint();
      break;
    case DragMode::Q:
      QIndexPaint();
      break;
    case DragMode::None:
      break;
  }
}

void TParFilter::GainFollowsKnob() {
  // During a drag the knob moves in whole pixels and the gain follows it.
  SetGPotPos(static_cast<float>(gMax_) - static_cast<float>(knobTop_ - kFaderTop) / gainScale_);
}

void TParFilter::GIndexPaint() {
  gainTextColour_ = std::fabs(gPotPos_) >= 0.1F ? kYellow : kLime;
  update(GainZone());
}

void TParFilter::FIndexPaint() { update(FrequencyZone()); }
void TParFilter::QIndexPaint() { update(QZone()); }

void TParFilter::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kPanelColour);
  const int xo = xOffset_;

  // Fader background: scales, grids either side of the slot, the slot.
  if (first_) p.drawPixmap(0, kFaderTop, scaleLeft_);
  p.drawPixmap(xo + 2, kFaderTop, grid_);
  p.drawPixmap(xo + 22, kFaderTop, gridMirrored_);
  p.drawPixmap(xo + 16, kFaderTop, slot_);
  if (last_) p.drawPixmap(kRightScaleX, kFaderTop, scaleRight_);
  p.drawPixmap(xo + 3, knobTop_, knob_);

  // Knob faces and their dots.
  p.drawPixmap(xo, 0, face_);
  p.drawPixmap(xo, kQKnobTop, face_);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(kDotRed);
  p.drawEllipse(QRectF(FrequencyDot(), QSizeF(4, 4)));
  p.drawEllipse(QRectF(QDot(), QSizeF(4, 4)));
  p.restore();

  // Value texts.
  p.setPen(kLime);
  p.setFont(ControlFont(10));
  p.drawText(QRect(xo + 2, 38, kStripWidth - 2, 15), Qt::AlignLeft | Qt::AlignTop,
             FormatNumber(fValue_, 15, 0, true));
  p.drawText(QRect(xo + 2, 225, kStripWidth - 2, 15), Qt::AlignLeft | Qt::AlignTop,
             FormatNumber(qValue_, 4, 1, false));
  p.setPen(gainTextColour_);
  p.setFont(ControlFont(kGainTextPixels));
  p.drawText(QRect(xo + 4, kGainTextTop, kStripWidth - 4, kQKnobTop - kGainTextTop),
             Qt::AlignLeft | Qt::AlignTop, FormatNumber(gPotPos_, 2, 1, true));
}

// ---- mouse ------------------------------------------------------------------------------

void TParFilter::UpdateZoneFromPointer(QPoint pos) {
  const int x = pos.x() - xOffset_;
  const bool knobRow = (pos.y() >= 30 && pos.y() <= 53) || (pos.y() >= 217 && pos.y() <= 240);
  minusZone_ = knobRow && x > 0 && x < 12;
  plusZone_ = knobRow && x > 26 && x < 38;
  setCursor(NumberedCursor(minusZone_ ? kCursorMinus : (plusZone_ ? kCursorPlus : kCursorStrip)));
}

void TParFilter::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() == Qt::MiddleButton) {
    gMiddleHeld = true;
    gActiveStrip = this;
    dragMode_ = DragMode::Gain;
    knobTop_ = kKnobTopZero;
    GainFollowsKnob();
    GIndexPaint();
    return;
  }
  if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
  const int x = pos.x() - xOffset_;
  if (x < kPressLeft || x > kPressRight) return;
  if (pos.y() >= 1 && pos.y() <= 53)
    dragMode_ = DragMode::Frequency;
  else if (pos.y() >= 54 && pos.y() <= 187)
    dragMode_ = DragMode::Gain;
  else if (pos.y() >= 188 && pos.y() <= 240)
    dragMode_ = DragMode::Q;
  gActiveStrip = this;
  lastY_ = pos.y();
}

void TParFilter::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  UpdateZoneFromPointer(pos);
  if (gActiveStrip != this) return;
  if (gMiddleHeld) {
    knobTop_ = kKnobTopZero;
  } else if (event->buttons() & (Qt::LeftButton | Qt::RightButton)) {
    const int dy = pos.y() - lastY_;
    switch (dragMode_) {
      case DragMode::Frequency: {
        // Moving up raises the frequency, FreqDragStep · 10 Hz per pixel.
        const double hz = double{fPotPos_} - static_cast<double>(dy) * freqDragStep_ * 10.0;
        SetFPotPos(
            static_cast<float>(std::clamp(hz, double(fMin_), double(std::max(fMin_, fMax_)))));
        break;
      }
      case DragMode::Gain:
        knobTop_ = std::clamp(knobTop_ + dy, kKnobTopMax, kKnobTopMin);
        break;
      case DragMode::Q: {
        const double q = double{qPotPos_} - static_cast<double>(dy) * double{qDragStep_};
        SetQPotPos(
            static_cast<float>(std::clamp(q, double(qMin_), double(std::max(qMin_, qMax_)))));
        break;
      }
      case DragMode::None:
        break;
    }
  } else {
    return;
  }
  lastY_ = pos.y();
  if (dragMode_ == DragMode::Gain) GainFollowsKnob();
  IndexPaint();
}

void TParFilter::StepOnRelease(bool bigSteps) {
  const int direction = minusZone_ ? -1 : (plusZone_ ? 1 : 0);
  if (dragMode_ == DragMode::Frequency) {
    // A plain click (no zone) still re-sends the band.
    const double hz = double{fPotPos_} + direction * (bigSteps ? 25.0 : 1.0);
    SetFPotPos(static_cast<float>(std::clamp(hz, double(fMin_), double(std::max(fMin_, fMax_)))));
    FIndexPaint();
  } else if (dragMode_ == DragMode::Q) {
    const double q = double{qPotPos_} + direction * (bigSteps ? 1.0 : 0.1);
    SetQPotPos(static_cast<float>(std::clamp(q, double(qMin_), double(std::max(qMin_, qMax_)))));
    QIndexPaint();
  }
}

void TParFilter::mouseReleaseEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton:
      StepOnRelease(false);
      break;
    case Qt::RightButton:
      StepOnRelease(true);
      break;
    case Qt::MiddleButton:
      gMiddleHeld = false;
      break;
    default:
      break;
  }
}

void TParFilter::mouseDoubleClickEvent(QMouseEvent* event) {
  lastDoubleClick_ = event->button();
  mousePressEvent(event);
}

void TParFilter::wheelEvent(QWheelEvent* event) { event->ignore(); }

}  // namespace qubix::ui
