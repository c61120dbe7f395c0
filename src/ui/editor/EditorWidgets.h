// The editor's small controls: a two-picture indicator lamp and coloured labels.
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

namespace qubix::ui {

// A 10 × 10 lamp: a dark red picture always, a bright red one over it while on.
class Indicator : public QWidget {
  Q_OBJECT

 public:
  explicit Indicator(QWidget* parent);
  bool On() const { return on_; }
  void SetOn(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool on_ = false;
};

// A label in a fixed colour at a place.
QLabel* ColouredLabel(const QString& text, const QColor& colour, QWidget* parent, int x, int y);

}  // namespace qubix::ui
