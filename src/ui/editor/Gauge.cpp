#include "ui/editor/Gauge.h"

#include <QPainter>
#include <algorithm>

namespace qubix::ui {

TCGauge::TCGauge(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void TCGauge::SetRange(int minValue, int maxValue) {
  min_ = minValue;
  max_ = std::max(minValue, maxValue);
  SetProgress(value_);
  update();
}

void TCGauge::SetProgress(int value) {
  const int clamped = std::clamp(value, min_, max_);
  if (clamped == value_) return;
  value_ = clamped;
  update();
}

void TCGauge::SetForeColor(const QColor& c) {
  fore_ = c;
  update();
}

void TCGauge::SetBackColor(const QColor& c) {
  back_ = c;
  update();
}

int TCGauge::BarHeight() const {
  if (max_ == min_) return 0;
  return static_cast<int>(static_cast<long long>(height()) * (value_ - min_) / (max_ - min_));
}

void TCGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), back_);
  const int bar = BarHeight();
  if (bar > 0) p.fillRect(QRect(0, height() - bar, width(), bar), fore_);
}

}  // namespace qubix::ui
