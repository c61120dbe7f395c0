// The power amplifier calculator: from the amplifier's sensitivity and power (mode 0) or power
// and gain (mode 1) to the trim in half-dB steps that the editor turns into its level code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qubix::editor {

namespace amptexts {
inline constexpr std::string_view kCaption = "PowerAmp Setting";
inline constexpr std::string_view kYouKnow = "You Know:";
inline constexpr std::string_view kModeSensPower = "Input Sensitivity && Output Power";
inline constexpr std::string_view kModePowerGain = "Output Power && Gain";
inline constexpr std::string_view kInputSens = "Input Sens.";
inline constexpr std::string_view kVolt = "Volt";
inline constexpr std::string_view kGain = "Gain";
inline constexpr std::string_view kOutputPower = "Output Power@4ohm";
inline constexpr std::string_view kWatt = "Watt";
inline constexpr std::string_view kAccept = " Accept";
inline constexpr std::string_view kCancel = " Cancel";
inline constexpr std::string_view kDefaultSens = "0.975";
inline constexpr std::string_view kDefaultPower = "1499";
inline constexpr std::string_view kPowerMax = "9000";
inline constexpr std::string_view kPowerMin = "500";
inline constexpr std::string_view kSensMax = "2.7";
inline constexpr std::string_view kSensMin = "0.385";
// Shown when an entry is not a number; %1 is the entry's text.
inline constexpr std::string_view kNotANumber = "'%1' is not a valid number.";
}  // namespace amptexts

inline constexpr int kAmpGainEntries = 21;  // 20 … 40 dB
inline constexpr int kAmpDefaultGainIndex = 18;
// The texts of the gain list; the eighth entry has always been written without its blank.
std::string AmpGainEntryText(int index);

struct AmpCalcResult {
  double powerW = 0, gainDb = 0, sensV = 0;
  float sensDbu = 0, outDbu = 0, trimRaw = 0;
  float AmpTrimDb = 0;
  std::string edit3;  // the derived sensitivity (mode 1) or gain (mode 0) as text
};

// The computation. mode 0 uses sensV and powerW; mode 1 powerW and gainIndex (gain = index + 20).
AmpCalcResult CalcPot(int mode, double powerW, int gainIndex, double sensV);

// The trim to the nearest half dB, a remainder of exactly ¼ or ¾ going away from zero.
float RoundTrimToHalfDb(float trimRaw);

// Level code for a trim: 255 (0 dB) for any trim ≥ 0, else 255 + 2 × trunc(trim).
std::int32_t AmpLevelCodeFromTrim(float ampTrimDb);

// The dialog's entries and state, kept for the run so the entries survive between openings.
class AmpCalculator {
 public:
  int mode = 0;
  std::string powerText{amptexts::kDefaultPower};
  std::string sensText{amptexts::kDefaultSens};
  int gainIndex = kAmpDefaultGainIndex;
  std::string edit3;
  float AmpTrimDb = 0.0f;
  AmpCalcResult last{};

  // " Accept": clamps both entries (rewriting their texts), computes and returns true. An entry
  // that is not a number leaves everything as it was and returns the message to show.
  std::optional<std::string> Accept();
};

// Parses a whole entry as a finite decimal number (surrounding blanks allowed).
std::optional<double> ParseEntryNumber(std::string_view text);

}  // namespace qubix::editor
