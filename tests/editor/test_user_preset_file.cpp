#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "editor/UserPresetFile.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::editor;

namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::int32_t I32At(const UserPresetImage& image, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | image[at + i];
  return static_cast<std::int32_t>(v);
}
float F32At(const UserPresetImage& image, std::size_t at) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(I32At(image, at)));
}

// The editor's start-up state: default bands, 0 dB everywhere, level 255.
UserPresetRecord Defaults() {
  UserPresetRecord r;
  r.knob12 = r.knob34 = 64;
  r.freqHz = {32, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
  r.q = {3.0f, 2.0f, 2.0f, 2.0f, 1.4f, 2.0f, 2.0f, 2.0f, 2.5f, 3.0f};
  r.ampLevelCode = 255;
  return r;
}

TEST(UserPresetFile, LayoutOfEveryField) {
  UserPresetRecord r = Defaults();
  r.inputGainA = -7;  // −3.5 dB
  r.inputGainB = 24;
  r.knob12 = 10;
  r.knob34 = 63;
  r.muted = {1, 0, 0, 1};
  r.delay12 = 300;
  r.delay34 = 7;
  r.gainDb[3] = 4.5f;
  r.q[9] = 0.7f;
  r.ampLevelCode = 241;
  const UserPresetImage image = EncodeUserPreset(r);
  EXPECT_EQ(I32At(image, 0), -7);
  EXPECT_EQ(image[0], 0xf9);
  EXPECT_EQ(image[3], 0xff);
  EXPECT_EQ(I32At(image, 4), 24);
  EXPECT_EQ(I32At(image, 8), 10);
  EXPECT_EQ(I32At(image, 12), 63);
  EXPECT_EQ((std::array{image[16], image[17], image[18], image[19]}),
            (std::array<std::uint8_t, 4>{1, 0, 0, 1}));
  EXPECT_EQ(I32At(image, 20), 300);
  EXPECT_EQ(I32At(image, 24), 7);
  EXPECT_EQ(image[28], 0);
  EXPECT_EQ((std::array{image[29], image[30], image[31]}), (std::array<std::uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(I32At(image, 32), 32);
  EXPECT_EQ(I32At(image, 68), 16000);
  EXPECT_EQ(F32At(image, 72 + 12), 4.5f);
  EXPECT_EQ(F32At(image, 152 + 36), 0.7f);
  EXPECT_EQ(I32At(image, 192), 241);
  EXPECT_EQ(DecodeUserPreset(image), r);
}

TEST(UserPresetFile, SmallGainsAreWrittenAsExactZero) {
  struct Case {
    float gain;
    float written;
  };
  // 0.1f and -0.1f lie just outside ±0.1 as doubles and are kept.
  const Case cases[] = {{0.05f, 0.0f}, {-0.05f, 0.0f}, {0.2f, 0.2f},
                        {0.1f, 0.1f},  {-0.1f, -0.1f}, {std::nextafter(0.1f, 0.0f), 0.0f}};
  for (const Case& c : cases) {
    UserPresetRecord r = Defaults();
    r.gainDb[0] = c.gain;
    r.flatGainStash[5] = c.gain;
    const UserPresetImage image = EncodeUserPreset(r);
    EXPECT_EQ(F32At(image, 72), c.written) << c.gain;
    EXPECT_EQ(F32At(image, 112 + 20), c.written) << c.gain;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(F32At(image, 72)) == 0, c.written == 0.0f) << c.gain;
  }
}

TEST(UserPresetFile, FlatModeKeepsRealGainsInTheStash) {
  TempDir dir;
  UserPresetRecord r = Defaults();
  r.flatMode = 1;
  // Gains parked: the strips are at 0 dB, the stash (band 10 first) holds the real gains.
  r.flatGainStash = {6.0f, -3.0f, 0.0f, 1.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 2.25f};
  const std::string path = dir.file("flat.vup");
  ASSERT_EQ(WriteUserPresetFile(path, r), "");
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), kUserPresetFileSize);
  EXPECT_EQ(bytes[28], 1);
  UserPresetImage image{};
  std::memcpy(image.data(), bytes.data(), image.size());
  for (int b = 0; b < 10; ++b) EXPECT_EQ(F32At(image, 72 + 4 * b), 0.0f);
  EXPECT_EQ(F32At(image, 112), 6.0f);  // band 10's real gain comes first
  EXPECT_EQ(F32At(image, 148), 2.25f);

  const UserPresetReadResult back = ReadUserPresetFile(path);
  ASSERT_TRUE(back.ok()) << back.detail;
  EXPECT_EQ(back.record, r);
}

TEST(UserPresetFile, WriteReplacesThroughRenameAndLeavesNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("preset.vup");
  WriteBytes(path, std::vector<std::uint8_t>(500, 0xaa));
  ASSERT_EQ(WriteUserPresetFile(path, Defaults()), "");
  EXPECT_EQ(ReadBytes(path).size(), kUserPresetFileSize);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(UserPresetFile, WriteIntoMissingFolderFailsAndTouchesNothing) {
  TempDir dir;
  const std::string error = WriteUserPresetFile(dir.file("no/such/folder/p.vup"), Defaults());
  EXPECT_NE(error, "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
}

TEST(UserPresetFile, ShortFilesAreRefusedLongFilesUseTheFirstRecord) {
  TempDir dir;
  const UserPresetImage image = EncodeUserPreset(Defaults());
  struct Case {
    std::size_t size;
    PresetFileError error;
  };
  const Case cases[] = {{0, PresetFileError::TooShort},
                        {100, PresetFileError::TooShort},
                        {195, PresetFileError::TooShort},
                        {196, PresetFileError::None},
                        {300, PresetFileError::None}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes(image.begin(), image.end());
    bytes.resize(c.size, 0x7f);  // trailing junk past the record must not matter
    const std::string path = dir.file("p" + std::to_string(c.size) + ".vup");
    WriteBytes(path, bytes);
    const UserPresetReadResult result = ReadUserPresetFile(path);
    EXPECT_EQ(result.error, c.error) << c.size;
    EXPECT_EQ(result.fileSize, c.size);
    if (c.error == PresetFileError::None) {
      EXPECT_EQ(result.record, Defaults());
    }
  }
  EXPECT_EQ(ReadUserPresetFile(dir.file("absent.vup")).error, PresetFileError::Missing);
}

TEST(UserPresetFile, ValuesNoControlCanHoldAreRefused) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    void (*spoil)(UserPresetRecord&, float nan, float inf);
  };
  const Case cases[] = {
      {"gain A low", [](UserPresetRecord& r, float, float) { r.inputGainA = -97; }},
      {"gain B high", [](UserPresetRecord& r, float, float) { r.inputGainB = 25; }},
      {"knob negative", [](UserPresetRecord& r, float, float) { r.knob12 = -1; }},
      {"knob past 64", [](UserPresetRecord& r, float, float) { r.knob34 = 65; }},
      {"delay past 310", [](UserPresetRecord& r, float, float) { r.delay12 = 311; }},
      {"delay negative", [](UserPresetRecord& r, float, float) { r.delay34 = -5; }},
      {"frequency low", [](UserPresetRecord& r, float, float) { r.freqHz[0] = 9; }},
      {"frequency high", [](UserPresetRecord& r, float, float) { r.freqHz[9] = 18001; }},
      {"band gain high", [](UserPresetRecord& r, float, float) { r.gainDb[2] = 12.5f; }},
      {"band gain NaN", [](UserPresetRecord& r, float n, float) { r.gainDb[4] = n; }},
      {"stash infinite", [](UserPresetRecord& r, float, float i) { r.flatGainStash[1] = -i; }},
      {"Q too small", [](UserPresetRecord& r, float, float) { r.q[3] = 0.1f; }},
      {"Q too large", [](UserPresetRecord& r, float, float) { r.q[3] = 51.0f; }},
      {"Q NaN", [](UserPresetRecord& r, float n, float) { r.q[8] = n; }},
      {"level code", [](UserPresetRecord& r, float, float) { r.ampLevelCode = 256; }},
  };
  TempDir dir;
  for (const Case& c : cases) {
    UserPresetRecord r = Defaults();
    c.spoil(r, nan, inf);
    EXPECT_NE(CheckUserPreset(r), "") << c.name;
    const std::string path = dir.file("bad.vup");
    const UserPresetImage image = EncodeUserPreset(r);
    WriteBytes(path, {image.begin(), image.end()});
    EXPECT_EQ(ReadUserPresetFile(path).error, PresetFileError::OutOfRange) << c.name;
  }
  UserPresetRecord edges = Defaults();
  edges.inputGainA = -96;
  edges.inputGainB = 24;
  edges.knob12 = 0;
  edges.delay34 = 310;
  edges.freqHz[0] = 10;
  edges.freqHz[9] = 18000;
  edges.gainDb[0] = -12.0f;
  edges.q[0] = 0.2f;
  edges.q[1] = 50.0f;
  edges.ampLevelCode = 0;
  EXPECT_EQ(CheckUserPreset(edges), "");
}

}  // namespace
}  // namespace qubix::test
