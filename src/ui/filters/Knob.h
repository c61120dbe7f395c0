// TSSKnob: the rotary attenuation knob — an integer position between Min and Max, a caption under
// the dial and a value text that the host sets. It knows nothing of decibels.
#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>
#include <cstdint>

namespace qubix::ui {

enum KcColor : int { KcGray, KcBlue, KcWhite, KcGreen, KcRed, KcOrange, KcYellow };

class TSSKnob : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 76;
  static constexpr int kHeight = 86;

  explicit TSSKnob(QWidget* parent = nullptr);
  ~TSSKnob() override;

  float Value() const { return value_; }
  void SetValue(float value);
  void SetValueVisible(bool visible);
  std::int32_t ValueDigits() const { return valueDigits_; }
  void SetValueDigits(std::int32_t digits);
  void SetKnobColor(KcColor colour);
  std::int32_t PotPos() const { return potPos_; }
  // Stores without clamping, repaints the dial and raises OnChangePot (ChangePot), also when
  // the position did not change.
  void SetPotPos(std::int32_t pos);
  std::int32_t Min() const { return min_; }
  void SetMin(std::int32_t min);
  std::int32_t Max() const { return max_; }
  void SetMax(std::int32_t max);
  QString Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  std::int32_t KnobDragStep() const { return knobDragStep_; }
  // Top-left corner of the 6 × 6 position dot.
  QPoint DotTopLeft() const;
  // The knob that took the last left press, shared by all knobs.
  static TSSKnob* ActiveKnob();

  // Full repaint: the whole control.
  void Paint();
  // Dial repaint: the dial, the value text and the dot.
  void DialPaint();

 signals:
  void ChangePot(qubix::ui::TSSKnob* sender);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  std::int32_t Clamped(std::int64_t pos) const;
  void SetZone(bool minus, bool plus, int cursor);

  float value_ = 0.0F;
  bool valueVisible_ = true;
  std::int32_t valueDigits_ = 2;
  KcColor knobColor_ = KcGray;
  std::int32_t potPos_ = 0;
  std::int32_t min_ = 0;
  std::int32_t max_ = 100;
  QString caption_;
  std::int32_t knobDragStep_ = 4;
  bool minusZone_ = false;
  bool plusZone_ = false;
  int lastY_ = 0;
  int wheelRemainder_ = 0;
  Qt::MouseButton lastDoubleClick_ = Qt::NoButton;
  QPixmap bitmap_;
};

}  // namespace qubix::ui
