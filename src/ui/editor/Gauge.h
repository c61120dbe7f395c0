// TCGauge: a vertical bar gauge — a minimum, a maximum, a value clamped to that range, and a bar
// drawn upwards from the bottom in its bar colour over its background colour. No text.
#pragma once

#include <QColor>
#include <QWidget>

namespace qubix::ui {

class TCGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TCGauge(QWidget* parent = nullptr);

  // Sets both ends; the value is clamped into the new range.
  void SetRange(int minValue, int maxValue);
  int Progress() const { return value_; }
  void SetProgress(int value);
  void SetForeColor(const QColor& c);
  QColor BackColor() const { return back_; }
  void SetBackColor(const QColor& c);

  // Height of the bar in pixels for the current value.
  int BarHeight() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int min_ = 0, max_ = 100, value_ = 0;
  QColor fore_{Qt::black}, back_{Qt::white};
};

}  // namespace qubix::ui
