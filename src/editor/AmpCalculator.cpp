#include "editor/AmpCalculator.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "protocol/WireCodes.h"

namespace qubix::editor {
namespace {

constexpr double kDbuFactor = 1.2919896640826873;  // 1 / 0.774 V

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace

std::string AmpGainEntryText(int index) {
  const int db = index + 20;
  return index == 7 ? std::to_string(db) + "db" : std::to_string(db) + " db";
}

float RoundTrimToHalfDb(float trimRaw) {
  const float n = std::trunc(trimRaw);
  const float f = trimRaw - n;
  const float mag = std::fabs(f);
  if (mag < 0.25f) return n;
  if (mag < 0.75f) return n - 0.5f;
  return n - 1.0f;
}

AmpCalcResult CalcPot(int mode, double powerW, int gainIndex, double sensV) {
  AmpCalcResult r;
  r.powerW = powerW;
  const double vOut = std::pow(4.0 * powerW, 0.5);
  if (mode == 1) {
    r.gainDb = gainIndex + 20;
    r.sensV = vOut / std::pow(10.0, 0.05 * r.gainDb);
    r.edit3 = Fixed(r.sensV, 5);
  } else {
    r.sensV = sensV;
    r.gainDb = 20.0 * std::log10(vOut / sensV);
    r.edit3 = Fixed(r.gainDb, 0);
  }
  r.sensDbu = static_cast<float>(20.0 * std::log10(r.sensV * kDbuFactor));
  r.outDbu = static_cast<float>(20.0 * std::log10(std::pow(4.0 * powerW, 0.5) * kDbuFactor));
  r.trimRaw = static_cast<float>((static_cast<double>(r.sensDbu) - 4.0) -
                                 (static_cast<double>(r.outDbu) - 40.0));
  r.AmpTrimDb = RoundTrimToHalfDb(r.trimRaw);
  return r;
}

std::int32_t AmpLevelCodeFromTrim(float ampTrimDb) {
  return protocol::codes::AmpLevelCode(static_cast<double>(ampTrimDb));
}

std::optional<double> ParseEntryNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  if (text.front() == '+') text.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

std::optional<std::string> AmpCalculator::Accept() {
  for (const std::string* entry : {&powerText, &sensText}) {
    if (!ParseEntryNumber(*entry)) {
      std::string message(amptexts::kNotANumber);
      message.replace(message.find("%1"), 2, *entry);
      return message;
    }
  }
  double power = *ParseEntryNumber(powerText);
  if (power > 9000) {
    powerText = amptexts::kPowerMax;
  } else if (power < 500) {
    powerText = amptexts::kPowerMin;
  }
  double sens = *ParseEntryNumber(sensText);
  if (sens > 2.7) {
    sensText = amptexts::kSensMax;
  } else if (sens < 0.385) {
    sensText = amptexts::kSensMin;
  }
  power = *ParseEntryNumber(powerText);
  sens = *ParseEntryNumber(sensText);
  last = CalcPot(mode, power, gainIndex, sens);
  edit3 = last.edit3;
  AmpTrimDb = last.AmpTrimDb;
  return std::nullopt;
}

}  // namespace qubix::editor
