#include "ui/common/CaptionButton.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/common/BusGuard.h"

namespace qubix::ui {

CaptionButton::CaptionButton(const QString& caption, QWidget* parent, QColor colour)
    : QLabel(caption, parent) {
  setCursor(Qt::PointingHandCursor);
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setCaptionColour(colour);
}

void CaptionButton::setCaptionColour(QColor colour) {
  colour_ = colour;
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, colour);
  setPalette(pal);
}

void CaptionButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    if (BusGuard::AllowedWhileBusy(this)) {
      emit clicked();  // a control that works during an operation (Exit) starts none
    } else {
      const BusGuard::Operation operation;
      emit clicked();
    }
  }
  QLabel::mouseReleaseEvent(event);
}

QFont CaptionButton::captionFont() const {
  QFont f = font();
  const int room = contentsRect().width();
  if (f.pixelSize() <= 0) f.setPixelSize(QFontInfo(f).pixelSize());
  const auto fits = [&] { return QFontMetrics(f).horizontalAdvance(text()) + Indent(f) <= room; };
  if (fits()) return f;
  f.setStretch(QFont::Condensed);  // a narrower face of the same size first
  while (f.pixelSize() > 6 && !fits()) f.setPixelSize(f.pixelSize() - 1);
  return f;
}

int CaptionButton::Indent(const QFont& f) {
  return QFontMetrics(f).horizontalAdvance(QLatin1Char('x')) / 2;
}

void CaptionButton::paintEvent(QPaintEvent* event) {
  const QFont fitted = captionFont();
  if (fitted == font()) {
    QLabel::paintEvent(event);
    return;
  }
  // A caption too long for its button is drawn smaller, as the label would draw it otherwise.
  QPainter p(this);
  drawFrame(&p);
  p.setFont(fitted);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(contentsRect().adjusted(Indent(fitted), 0, 0, 0), static_cast<int>(alignment()),
             text());
}

}  // namespace qubix::ui
