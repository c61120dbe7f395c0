// TForm8: the level window — six meters (Input A, Input B, Ch1 … Ch4), each three stacked gauges —
// a green section for the range up to the 0 dB mark, a yellow one for 0 … +6 dB and a red one
// above.
#pragma once

#include <QWidget>
#include <array>

#include "editor/LevelMeter.h"
#include "ui/editor/Gauge.h"

namespace qubix::ui {

class TForm8 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 490;
  static constexpr int kClientHeight = 222;

  explicit TForm8(QWidget* parent = nullptr);

  // Green, yellow and red sections, in this order, for each of the six columns.
  void SetMeters(const std::array<editor::MeterSections, editor::kMeterCount>& meters);

  // CGauge1 … CGauge18 (1-based as named).
  TCGauge* CGauge(int number) const { return gauges_[static_cast<std::size_t>(number - 1)]; }

 private:
  std::array<TCGauge*, 18> gauges_{};
};

}  // namespace qubix::ui
