#include <gtest/gtest.h>

#include <vector>

#include "protocol/Hex.h"
#include "support/CaseNames.h"

using namespace qubix::protocol;

namespace qubix::test {
namespace {

struct ByteCase {
  int value;
  const char* hex;
};

class ByteToHexTest : public ::testing::TestWithParam<ByteCase> {};

TEST_P(ByteToHexTest, TwoLowerCaseCharactersHighNibbleFirst) {
  EXPECT_EQ(ByteToHex(GetParam().value), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(Values, ByteToHexTest,
                         ::testing::Values(ByteCase{255, "ff"}, ByteCase{0, "00"},
                                           ByteCase{10, "0a"}, ByteCase{-1, "ff"},
                                           ByteCase{-2, "fe"}, ByteCase{171, "ab"},
                                           ByteCase{256, "00"}, ByteCase{-256, "00"},
                                           ByteCase{-255, "01"}, ByteCase{0x9f, "9f"}),
                         [](const ::testing::TestParamInfo<ByteCase>& info) {
                           return qubix::test::NumberName(info.param.value) + "_" + info.param.hex;
                         });

struct CommandCase {
  char letter;
  int value;
  const char* frame;
};

class ByteCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ByteCommandTest, LetterValueAndNegatedChecksum) {
  EXPECT_EQ(ByteCommand(GetParam().letter, GetParam().value), GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ByteCommandTest,
    ::testing::Values(CommandCase{'u', 1, "u01ff"}, CommandCase{'u', 0, "u0000"},
                      CommandCase{'T', 2, "T02fe"}, CommandCase{'T', 1, "T01ff"},
                      CommandCase{'T', 0, "T0000"}, CommandCase{'u', 7, "u07f9"},
                      CommandCase{'r', 7, "r07f9"}, CommandCase{'r', 5, "r05fb"},
                      CommandCase{'I', 25, "I19e7"}, CommandCase{'I', 0, "I0000"},
                      CommandCase{'n', 255, "nff01"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) {
      return std::string(info.param.frame);
    });

TEST(FrameChecksum, PayloadPlusChecksumSumsToZero) {
  const std::vector<std::uint8_t> gains{0xa8, 0xb4};
  EXPECT_EQ(FrameChecksum(gains), 0xa4);
  EXPECT_EQ(BuildFrame('G', gains), "Ga8b4a4");
  const std::vector<std::uint8_t> delays{0x00, 0x0a, 0x01, 0x2c};
  EXPECT_EQ(BuildFrame('L', delays), "L000a012cc9");
  EXPECT_EQ(FrameChecksum({}), 0);
  const std::vector<std::uint8_t> upload{0x07, 0x45};
  EXPECT_EQ(BuildFrame('J', upload), "J0745b4");
}

struct SplitCase {
  std::int32_t n;
  std::uint8_t high, middle, low;
};

class SplitNumberTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitNumberTest, HighMiddleLow) {
  const auto s = SplitNumber(GetParam().n);
  EXPECT_EQ(s.high, GetParam().high);
  EXPECT_EQ(s.middle, GetParam().middle);
  EXPECT_EQ(s.low, GetParam().low);
}

INSTANTIATE_TEST_SUITE_P(Numbers, SplitNumberTest,
                         ::testing::Values(SplitCase{0, 0, 0, 0}, SplitCase{300, 0, 1, 44},
                                           SplitCase{255, 0, 0, 255}, SplitCase{256, 0, 1, 0},
                                           SplitCase{65535, 0, 255, 255}, SplitCase{65536, 1, 0, 0},
                                           SplitCase{0x123456, 0x12, 0x34, 0x56}),
                         [](const ::testing::TestParamInfo<SplitCase>& info) {
                           return std::to_string(info.param.n);
                         });

struct SelectCase {
  Identifier id;
  const char* frame;
};

class SelectFrameTest : public ::testing::TestWithParam<SelectCase> {};

TEST_P(SelectFrameTest, IdentifierAndCheckByte) {
  EXPECT_EQ(SelectFrame(GetParam().id), GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SelectFrameTest,
    ::testing::Values(SelectCase{{0, 0, 0, 1, 0, 1}, "H000000010001fe"},
                      SelectCase{{0, 0, 0, 1, 0, 0}, "H000000010000ff"},
                      SelectCase{{0, 0, 0, 1, 0x07, 0xff}, "H0000000107fff9"},
                      SelectCase{{0, 0, 0, 3, 0, 0}, "H000000030000ff"},
                      SelectCase{{0, 0, 0, 1, 0, 5}, "H000000010005fa"},
                      // Only bytes 5 and 6 enter the check byte.
                      SelectCase{{0xab, 0xcd, 0xef, 0x12, 0x00, 0x01}, "Habcdef120001fe"}),
    [](const ::testing::TestParamInfo<SelectCase>& info) { return std::string(info.param.frame); });

TEST(Identifier, TextRoundTripsAndAcceptsEitherCaseOfDigits) {
  const Identifier id{0, 0, 0, 1, 0x07, 0xff};
  EXPECT_EQ(IdentifierText(id), "H0000000107ff");
  EXPECT_EQ(ParseIdentifier("H0000000107ff"), id);
  EXPECT_EQ(ParseIdentifier("H0000000107FF"), id);
}

TEST(Identifier, RejectsEverythingElse) {
  for (const char* bad : {"", "H", "H0000000107f", "H0000000107fff", "X0000000107ff",
                          "H00000001 7ff", "H0000000107fg", "h0000000107ff"}) {
    EXPECT_FALSE(ParseIdentifier(bad).has_value()) << bad;
  }
}

TEST(HexParsing, EitherCaseAndNothingElse) {
  EXPECT_EQ(HexPairToByte('f', 'F'), 0xff);
  EXPECT_EQ(HexPairToByte('A', 'b'), 0xab);
  EXPECT_EQ(HexPairToByte('0', '9'), 0x09);
  EXPECT_FALSE(HexPairToByte('g', '0'));
  EXPECT_FALSE(HexPairToByte('0', ' '));
  EXPECT_FALSE(HexPairToByte('O', '0'));
  EXPECT_FALSE(HexPairToByte('\0', '0'));
  EXPECT_EQ(HexQuadToWord("01f4"), 500);
  EXPECT_EQ(HexQuadToWord("01F4"), 500);
  EXPECT_EQ(HexQuadToWord("ffff"), 65535);
  EXPECT_FALSE(HexQuadToWord("01f"));
  EXPECT_FALSE(HexQuadToWord("0x1f"));
  EXPECT_FALSE(HexQuadToWord("-1f4"));
}

}  // namespace

}  // namespace qubix::test
