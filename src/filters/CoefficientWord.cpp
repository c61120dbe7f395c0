#include "filters/CoefficientWord.h"

#include <cmath>
#include <cstdio>

namespace qubix::filters {

namespace {
constexpr double kTwo47 = 140737488355328.0;  // 2^47
constexpr double kTwo48 = 281474976710656.0;  // 2^48
constexpr double kTwo22 = 4194304.0;          // 2^22
constexpr double kTwo24 = 16777216.0;         // 2^24
constexpr std::uint32_t kWordMask = 0xFFFFFFu;
}  // namespace

std::uint32_t CoefficientToWord(double c) {
  if (!std::isfinite(c)) return 0;
  if (c > -4.0 && c < 4.0) {
    // The DSP's own construction: a 48-bit two's-complement value with 47 fractional bits of
    // c/2, of which the upper 24 bits are the word. Both products stay far inside int64.
    const double x = c * 0.5;
    const std::int64_t v = x >= 0.0 ? static_cast<std::int64_t>(x * kTwo47)
                                    : static_cast<std::int64_t>(x * kTwo47 + kTwo48);
    return static_cast<std::uint32_t>(v >> 24) & kWordMask;
  }
  // Never sent (the range check stops it), but still defined: floor(c·2²²) mod 2²⁴.
  double w = std::fmod(std::floor(c * kTwo22), kTwo24);
  if (w < 0.0) w += kTwo24;
  return static_cast<std::uint32_t>(w) & kWordMask;
}

std::uint32_t StoredCoefficientToWord(float c) { return CoefficientToWord(static_cast<double>(c)); }

double WordToCoefficient(std::uint32_t word) {
  word &= kWordMask;
  const double v =
      word & 0x800000u ? static_cast<double>(word) - kTwo24 : static_cast<double>(word);
  return v / kTwo22;
}

BiquadCoefficients QuantizedCoefficients(const BiquadCoefficients& c) {
  const auto q = [](double v) { return WordToCoefficient(CoefficientToWord(v)); };
  return {q(c.b0), q(c.b1), q(c.b2), q(c.a1), q(c.a2)};
}

std::array<std::uint8_t, 3> WordBytes(std::uint32_t word) {
  return {static_cast<std::uint8_t>((word >> 16) & 0xFF),
          static_cast<std::uint8_t>((word >> 8) & 0xFF), static_cast<std::uint8_t>(word & 0xFF)};
}

std::string WordText(std::uint32_t word) {
  char text[8];
  std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(word & kWordMask));
  return text;
}

std::array<std::uint32_t, 5> BandWords(const BiquadCoefficients& c) {
  const auto order = SendingOrder(c);
  std::array<std::uint32_t, 5> words{};
  for (std::size_t i = 0; i < order.size(); ++i) words[i] = CoefficientToWord(order[i]);
  return words;
}

std::array<std::uint8_t, 15> BandWordBytes(const BiquadCoefficients& c) {
  std::array<std::uint8_t, 15> bytes{};
  const auto words = BandWords(c);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const auto b = WordBytes(words[i]);
    for (std::size_t j = 0; j < 3; ++j) bytes[3 * i + j] = b[j];
  }
  return bytes;
}

}  // namespace qubix::filters
