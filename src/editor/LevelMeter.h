// Level meter maths: a reported 16-bit level value to the three stacked gauge sections of one
// meter column, and the tick count after which the level window closes itself.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qubix::editor {

inline constexpr int kMeterCount = 6;  // Input A, Input B, Ch1 … Ch4
inline constexpr int kFirstLevelParameter = 5;
inline constexpr int kLevelViewTickLimit = 40;
inline constexpr int kLevelRefreshMs = 247;

struct GaugeRange {
  int min = 0, max = 0;
  int clamp(int v) const { return v < min ? min : (v > max ? max : v); }
};
inline constexpr GaugeRange kGreenRange{24, 75};
inline constexpr GaugeRange kYellowRange{0, 6};
inline constexpr GaugeRange kRedRange{0, 13};

// Inputs are shown 6 dB hotter than outputs.
double MeterLevel(std::uint16_t reported, bool isInput);
// The meter level at the scale's " 0db" mark, where the yellow section starts.
inline constexpr double kMeterZeroDbLevel = 75.0;
// A reading in dB as the level window's scale marks it (0 at " 0db", −48 at " -48"): what the
// window shows and what the service reports.
double MeterDb(std::uint16_t reported, bool isInput);

struct MeterSections {
  int green = 24, yellow = 0, red = 0;
  friend bool operator==(const MeterSections&, const MeterSections&) = default;
};
// Sections already clamped to their gauge ranges.
MeterSections MeterFor(std::uint16_t reported, bool isInput);

namespace leveltexts {
inline constexpr std::string_view kCaption = "Velmoria Qubix 24 Levels";
inline constexpr std::array<std::string_view, kMeterCount> kTitles{"Input A", "Input B", "Ch1 ",
                                                                   "Ch2 ",    "Ch3 ",    "Ch4 "};
inline constexpr std::array<std::string_view, 7> kScale{" +12", " +6",  " 0db", " -6",
                                                        " -12", " -24", " -48"};
}  // namespace leveltexts

}  // namespace qubix::editor
