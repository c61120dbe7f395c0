#include "ui/editor/EditorWidgets.h"

#include <QPainter>

#include "ui/editor/EditorTexts.h"

namespace qubix::ui {

namespace {
void Recolour(QLabel* label, const QColor& colour) {
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, colour);
  label->setPalette(pal);
}
}  // namespace

Indicator::Indicator(QWidget* parent) : QWidget(parent) {
  setFixedSize(10, 10);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void Indicator::SetOn(bool on) {
  if (on_ == on) return;
  on_ = on;
  update();
}

void Indicator::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(editortexts::kIndicatorOff);
  p.drawEllipse(rect().adjusted(0, 0, -1, -1));
  if (on_) {
    p.setBrush(editortexts::kIndicatorOn);
    p.drawEllipse(rect().adjusted(1, 1, -2, -2));
  }
}

QLabel* ColouredLabel(const QString& text, const QColor& colour, QWidget* parent, int x, int y) {
  auto* label = new QLabel(text, parent);
  Recolour(label, colour);
  label->move(x, y);
  label->adjustSize();
  return label;
}

}  // namespace qubix::ui
