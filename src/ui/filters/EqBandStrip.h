// TParFilter: the band strip of one equaliser band — a frequency knob on top, a gain fader in the
// middle and a Q knob at the bottom, each with its value printed beside it. The strip keeps the
// band's frequency, gain and Q, computes the band's coefficients on every change of a pot and then
// raises OnChangePar (ChangePar).
#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>
#include <cstdint>

#include "filters/ParametricBand.h"

namespace qubix::ui {

class TParFilter : public QWidget {
  Q_OBJECT

 public:
  enum class DragMode { None, Frequency, Gain, Q };

  static constexpr int kStripWidth = 38;
  static constexpr int kScaledWidth = 62;  // first and last strip carry a dB scale
  static constexpr int kHeight = 240;
  // The fader knob travels from kKnobTopMax (GMax) to kKnobTopMin (GMin); kKnobTopZero is 0 dB.
  static constexpr int kKnobTopMax = 53;
  static constexpr int kKnobTopMin = 149;
  static constexpr int kKnobTopZero = 101;

  explicit TParFilter(QWidget* parent = nullptr);
  ~TParFilter() override;

  // Pots: store (coupling FValue / QValue), run FBCalc, raise ChangePar. No clamping here.
  float FPotPos() const { return fPotPos_; }
  void SetFPotPos(float hz);
  float GPotPos() const { return gPotPos_; }
  void SetGPotPos(float db);
  float QPotPos() const { return qPotPos_; }
  void SetQPotPos(float q);

  bool First() const { return first_; }
  void SetFirst(bool first);
  bool Last() const { return last_; }
  void SetLast(bool last);

  float FilterBlockQF() const { return filterBlockQF_; }
  void SetFilterBlockQF(float q);
  std::int32_t FilterBlockSR() const { return filterBlockSR_; }
  void SetFilterBlockSR(std::int32_t hz);
  std::int32_t FilterBlockAddr() const { return filterBlockAddr_; }
  void SetFilterBlockAddr(std::int32_t addr);
  bool FBActive() const { return fbActive_; }
  void SetFBActive(bool active);

  std::int32_t FMin() const { return fMin_; }
  void SetFMin(std::int32_t hz) { fMin_ = hz; }
  std::int32_t FMax() const { return fMax_; }
  void SetFMax(std::int32_t hz);
  std::int32_t GMin() const { return gMin_; }
  std::int32_t GMax() const { return gMax_; }
  void SetGMax(std::int32_t db);
  float QMin() const { return qMin_; }
  void SetQMin(float q);
  float QMax() const { return qMax_; }
  void SetQMax(float q);

  // Values: store and redraw only.
  float FValue() const { return fValue_; }
  void SetFValue(float hz);
  void SetGainValue(float db);
  float QValue() const { return qValue_; }
  void SetQValue(float q);

  // Coefficients of FValue, GPotPos, QValue at FilterBlockSR: 0 or 121 (see ParametricBand).
  int FBCalc();
  bool CompParametric() { return band_.CompParametric(); }
  const filters::BiquadCoefficients& Coefficients() const { return band_.Coefficients(); }
  std::int32_t SectionCount() const { return band_.SectionCount(); }

  // Derived values.
  std::int32_t FreqDragStep() const { return freqDragStep_; }
  float QDragStep() const { return qDragStep_; }
  float GainScale() const { return gainScale_; }
  int KnobTop() const { return knobTop_; }
  int XOffset() const { return xOffset_; }
  DragMode Mode() const { return dragMode_; }
  bool MinusZone() const { return minusZone_; }
  bool PlusZone() const { return plusZone_; }
  // Top-left corners of the 4 × 4 dots of the frequency and Q knobs.
  QPoint FrequencyDot() const;
  QPoint QDot() const;

  // Shared by all strips: the strip of the last press in its knob column, and whether the
  // middle button is down on a strip.
  static TParFilter* ActiveStrip();
  static bool MiddleHeld();

  // Full repaint: recomputes GainScale, KnobTop and XOffset and redraws everything.
  void Paint();
  // Zone repaint of the current drag mode (nothing when there is none).
  void IndexPaint();
  // Gain zone: redraws the fader and the gain text. Like every repaint it changes no value.
  void GIndexPaint();
  // The mouse moved the fader knob: the gain takes its position and the band is raised.
  void GainFollowsKnob();
  void FIndexPaint();
  void QIndexPaint();

 signals:
  void ChangePar(qubix::ui::TParFilter* sender);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  QRect FrequencyZone() const;
  QRect GainZone() const;
  QRect QZone() const;
  void UpdateZoneFromPointer(QPoint pos);
  void StepOnRelease(bool bigSteps);
  void Raise();

  float fPotPos_ = 0.0F;
  float gPotPos_ = 0.0F;
  float qPotPos_ = 0.0F;
  bool first_ = false;
  bool last_ = false;
  float filterBlockQF_ = 0.5F;
  std::int32_t filterBlockSR_ = 48000;
  std::int32_t filterBlockAddr_ = 0;
  bool fbActive_ = false;
  std::int32_t fMin_ = 0;
  std::int32_t fMax_ = 18000;
  std::int32_t gMin_ = -48;
  std::int32_t gMax_ = 48;
  float qMin_ = 0.2F;
  float qMax_ = 50.0F;
  float fValue_ = 1000.0F;
  float gainValue_ = 0.0F;
  float qValue_ = 0.5F;

  std::int32_t freqDragStep_ = 19;
  float qDragStep_ = 0.7F;
  float gainScale_ = 1.0F;
  int knobTop_ = kKnobTopZero;
  int xOffset_ = 0;
  DragMode dragMode_ = DragMode::None;
  bool minusZone_ = false;
  bool plusZone_ = false;
  int lastY_ = 0;
  Qt::MouseButton lastDoubleClick_ = Qt::NoButton;
  // The gain text keeps the look of its last drawing: lime at 8 px after a full repaint;
  // after a zone repaint yellow when boosted or cut, in the 10 px font of the other texts.
  QColor gainTextColour_;
  // Every gain figure, after a full or a zone repaint, in the same font.
  static constexpr int kGainTextPixels = 8;

  filters::ParametricBand band_;
  QPixmap knob_, scaleRight_, scaleLeft_, grid_, gridMirrored_, slot_, face_;
};

}  // namespace qubix::ui
