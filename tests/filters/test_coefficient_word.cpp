#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "filters/CoefficientWord.h"

using namespace qubix::filters;

namespace qubix::test {
namespace {

constexpr double kStep = 1.0 / 4194304.0;  // one word step, 2^-22

struct WordCase {
  const char* what;
  double c;
  std::uint32_t word;
};

// Rounding always goes towards minus infinity; negatives wrap into the upper half.
const WordCase kWordCases[] = {
    {"zero", 0.0, 0x000000},
    {"negative zero", -0.0, 0x000000},
    {"one step", kStep, 0x000001},
    {"half a step", 0.5 * kStep, 0x000000},
    {"one and a half steps", 1.5 * kStep, 0x000001},
    {"minus half a step", -0.5 * kStep, 0xFFFFFF},
    {"minus one step", -kStep, 0xFFFFFF},
    {"minus one and a half steps", -1.5 * kStep, 0xFFFFFE},
    {"plus one", 1.0, 0x400000},
    {"just under plus one", 1.0 - 0.25 * kStep, 0x3FFFFF},
    {"minus one", -1.0, 0xC00000},
    {"just under minus one", -1.0 - 0.25 * kStep, 0xBFFFFF},
    {"last word below two", 2.0 - kStep, 0x7FFFFF},
    {"largest double below two", std::nextafter(2.0, 0.0), 0x7FFFFF},
    {"minus two", -2.0, 0x800000},
    {"just above minus two", -2.0 + 0.5 * kStep, 0x800000},
    {"between two words", 0.1, 0x066666},  // 0.1 · 2^22 = 419430.4
    {"between two negative words", -0.1, 0xF99999},
    {"not a number", std::nan(""), 0x000000},
    {"infinity", std::numeric_limits<double>::infinity(), 0x000000},
    {"far out of range wraps", 5.0, 0x400000},  // floor(5·2^22) mod 2^24
    {"far negative wraps", -5.0, 0xC00000},
};

TEST(CoefficientWord, RoundingEdges) {
  for (const auto& w : kWordCases) EXPECT_EQ(CoefficientToWord(w.c), w.word) << w.what;
}

TEST(CoefficientWord, BytesMostSignificantFirst) {
  const auto b = WordBytes(0x42D64A);
  EXPECT_EQ(b[0], 0x42);
  EXPECT_EQ(b[1], 0xD6);
  EXPECT_EQ(b[2], 0x4A);
  EXPECT_EQ(WordText(0xF9E2F8), "F9E2F8");
  EXPECT_EQ(WordText(0x1), "000001");
}

TEST(CoefficientWord, BandOrderIsB2B0B1A2A1) {
  const BiquadCoefficients c{0.25, -0.5, 0.75, 1.0, -1.0};  // b0 b1 b2 a1 a2
  const auto words = BandWords(c);
  EXPECT_EQ(words,
            (std::array<std::uint32_t, 5>{0x300000, 0x100000, 0xE00000, 0xC00000, 0x400000}));
  const auto bytes = BandWordBytes(c);
  const std::array<std::uint8_t, 15> expected{0x30, 0,    0, 0x10, 0,    0, 0xE0, 0,
                                              0,    0xC0, 0, 0,    0x40, 0, 0};
  EXPECT_EQ(bytes, expected);
}

// The preset store converts the coefficient after a trip through float; near a word edge the
// float may land on the next word.
TEST(CoefficientWord, StoredFloatMayDifferInLastBit) {
  const double c = (419431.0 - 0.01) * kStep;
  EXPECT_EQ(CoefficientToWord(c), 419430u);
  EXPECT_EQ(StoredCoefficientToWord(static_cast<float>(c)), 419431u);
  EXPECT_EQ(StoredCoefficientToWord(0.5F), 0x200000u);
}

}  // namespace
}  // namespace qubix::test
