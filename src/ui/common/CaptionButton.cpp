#include "ui/common/CaptionButton.h"

#include <QMouseEvent>

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

}  // namespace qubix::ui
