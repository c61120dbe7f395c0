#include "editor/LevelMeter.h"

#include <cmath>

namespace qubix::editor {

double MeterLevel(std::uint16_t reported, bool isInput) {
  const double r = static_cast<double>(reported) + 1.0;
  return 20.0 * std::log10(r) + (isInput ? 6.0 : 0.0);
}

double MeterDb(std::uint16_t reported, bool isInput) {
  return MeterLevel(reported, isInput) - kMeterZeroDbLevel;
}

MeterSections MeterFor(std::uint16_t reported, bool isInput) {
  const double level = MeterLevel(reported, isInput);
  MeterSections s;
  s.green = kGreenRange.clamp(static_cast<int>(std::trunc(level)));
  s.yellow = kYellowRange.clamp(static_cast<int>(std::trunc(level - kMeterZeroDbLevel)));
  s.red = kRedRange.clamp(static_cast<int>(std::trunc(level - 81.0)));
  return s;
}

}  // namespace qubix::editor
