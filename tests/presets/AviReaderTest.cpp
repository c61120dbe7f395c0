#include "network/AviReader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TempDir.h"

namespace qubix::network {
namespace {

RgbImage Gradient(int w, int h, int seed) {
  RgbImage image{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w * h * 3))};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = image.rgb.data() + (y * w + x) * 3;
      p[0] = static_cast<std::uint8_t>(x * 9 + seed);
      p[1] = static_cast<std::uint8_t>(y * 31);
      p[2] = static_cast<std::uint8_t>(seed * 50);
    }
  return image;
}

TEST(AviReader, WrittenClipReadsBackPixelForPixel) {
  // 5 pixels wide: rows need padding to four bytes, which the reader must skip.
  const std::vector<RgbImage> frames = {Gradient(5, 3, 0), Gradient(5, 3, 1), Gradient(5, 3, 2)};
  const std::vector<std::uint8_t> bytes = WriteUncompressedAvi(frames, 70000);
  const AviReadResult result = ParseAvi(bytes);
  ASSERT_TRUE(result.clip) << result.error;
  EXPECT_EQ(result.clip->width, 5);
  EXPECT_EQ(result.clip->height, 3);
  EXPECT_EQ(result.clip->microsPerFrame, 70000u);
  EXPECT_EQ(result.clip->codec, AviCodec::Rgb24);
  ASSERT_EQ(result.clip->frames.size(), 3u);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const std::optional<RgbImage> frame = DecodeAviFrame(*result.clip, i);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->rgb, frames[i].rgb) << i;
  }
  EXPECT_FALSE(DecodeAviFrame(*result.clip, 3));
}

TEST(AviReader, DamagedFilesAreRefusedWithAReason) {
  const std::vector<std::uint8_t> good = WriteUncompressedAvi({Gradient(4, 2, 0)}, 100000);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"not RIFF", std::vector<std::uint8_t>(good.size(), 'x')});
  cases.push_back({"truncated", {good.begin(), good.begin() + static_cast<long>(good.size() / 2)}});
  std::vector<std::uint8_t> hugeChunk = good;
  // The main header's size field (at 28) claims more than the file holds.
  hugeChunk[28] = 0xff;
  hugeChunk[29] = 0xff;
  hugeChunk[30] = 0xff;
  cases.push_back({"chunk past end", hugeChunk});
  std::vector<std::uint8_t> codec = good;
  const auto at = static_cast<std::size_t>(
      std::search(codec.begin(), codec.end(), "strf", "strf" + 4) - codec.begin());
  std::memcpy(codec.data() + at + 8 + 16, "XVID", 4);
  cases.push_back({"unknown codec", codec});
  for (const Case& c : cases) {
    const AviReadResult result = ParseAvi(c.bytes);
    EXPECT_FALSE(result.clip) << c.name;
    EXPECT_NE(result.error, "") << c.name;
  }
}

TEST(AviReader, ShortFrameDoesNotDecode) {
  std::vector<std::uint8_t> bytes = WriteUncompressedAvi({Gradient(4, 2, 0)}, 100000);
  AviReadResult result = ParseAvi(bytes);
  ASSERT_TRUE(result.clip);
  result.clip->frames[0].resize(10);
  EXPECT_FALSE(DecodeAviFrame(*result.clip, 0));
}

TEST(AviReader, CommittedBusyClipPlays) {
  const AviReadResult result = ReadAviFile(QUBIX_SOURCE_DIR "/data/AniVelm2.avi");
  ASSERT_TRUE(result.clip) << result.error;
  EXPECT_EQ(result.clip->width, 299);
  EXPECT_EQ(result.clip->height, 25);
  EXPECT_GE(result.clip->frames.size(), 8u);
  // Consecutive frames differ: the clip moves.
  const auto first = DecodeAviFrame(*result.clip, 0);
  const auto second = DecodeAviFrame(*result.clip, 1);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->rgb, second->rgb);
}

}  // namespace
}  // namespace qubix::network

namespace qubix::network {
namespace {

// Spoiled clips: every single-byte change and every cut of a small clip either parses to a clip
// whose frames decode to pictures of their stated size, or is refused with a reason.
TEST(AviReader, EverySpoiledByteAndEveryCutIsHandled) {
  const std::vector<std::uint8_t> good =
      WriteUncompressedAvi({Gradient(3, 2, 0), Gradient(3, 2, 1)}, 50000);
  auto check = [](const std::vector<std::uint8_t>& bytes) {
    const AviReadResult result = ParseAvi(bytes);
    if (!result.clip) {
      EXPECT_NE(result.error, "");
      return;
    }
    for (std::size_t i = 0; i < result.clip->frames.size(); ++i) {
      const auto frame = DecodeAviFrame(*result.clip, i);
      if (frame) {
        EXPECT_EQ(frame->rgb.size(), static_cast<std::size_t>(frame->width * frame->height * 3));
      }
    }
  };
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xff}, std::uint8_t{0x7f}}) {
      std::vector<std::uint8_t> spoiled = good;
      spoiled[at] = value;
      check(spoiled);
    }
    check({good.begin(), good.begin() + static_cast<long>(at)});
  }
}

}  // namespace
}  // namespace qubix::network
