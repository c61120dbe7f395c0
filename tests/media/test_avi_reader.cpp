#include <gtest/gtest.h>

#include <cstring>

#include "media/AviReader.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::media;
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
}  // namespace qubix::test

namespace qubix::test {
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
}  // namespace qubix::test

namespace qubix::test {
namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutChunk(std::vector<std::uint8_t>& out, const char* id,
              const std::vector<std::uint8_t>& body) {
  out.insert(out.end(), id, id + 4);
  Put32(out, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() & 1u) out.push_back(0);
}
std::vector<std::uint8_t> List(const char* type, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out(type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// A one-frame Motion-JPEG clip around a JPEG picture, declared as width × height.
std::vector<std::uint8_t> MjpegClip(const std::vector<std::uint8_t>& jpeg, int width, int height) {
  std::vector<std::uint8_t> avih;
  for (std::uint32_t v : {100000u, 0u, 0u, 0u, 1u, 0u, 1u, 0u, static_cast<std::uint32_t>(width),
                          static_cast<std::uint32_t>(height), 0u, 0u, 0u, 0u})
    Put32(avih, v);
  std::vector<std::uint8_t> strh = {'v', 'i', 'd', 's', 'M', 'J', 'P', 'G'};
  strh.resize(56, 0);
  std::vector<std::uint8_t> strf;
  Put32(strf, 40);
  Put32(strf, static_cast<std::uint32_t>(width));
  Put32(strf, static_cast<std::uint32_t>(height));
  strf.insert(strf.end(), {1, 0, 24, 0, 'M', 'J', 'P', 'G'});
  strf.resize(40, 0);
  std::vector<std::uint8_t> strl, hdrl, movi, riff;
  PutChunk(strl, "strh", strh);
  PutChunk(strl, "strf", strf);
  PutChunk(hdrl, "avih", avih);
  PutChunk(hdrl, "LIST", List("strl", strl));
  PutChunk(movi, "00dc", jpeg);
  PutChunk(riff, "LIST", List("hdrl", hdrl));
  PutChunk(riff, "LIST", List("movi", movi));
  std::vector<std::uint8_t> out;
  PutChunk(out, "RIFF", List("AVI ", riff));
  return out;
}

TEST(AviReader, MotionJpegFramesDecodeThroughTheJpegDecoder) {
  const std::vector<std::uint8_t> jpeg = test::ReadBytes(QUBIX_SOURCE_DIR "/data/Controller03.jpg");
  ASSERT_FALSE(jpeg.empty());
  std::string error;
  const std::optional<RgbImage> picture = DecodeJpeg(jpeg, error);
  ASSERT_TRUE(picture) << error;

  const AviReadResult result = ParseAvi(MjpegClip(jpeg, picture->width, picture->height));
  ASSERT_TRUE(result.clip) << result.error;
  EXPECT_EQ(result.clip->codec, AviCodec::Mjpeg);
  const std::optional<RgbImage> frame = DecodeAviFrame(*result.clip, 0);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->rgb, picture->rgb);

  // A frame whose picture does not match the declared size, or is no JPEG, is not shown.
  const AviReadResult wrongSize = ParseAvi(MjpegClip(jpeg, picture->width + 1, picture->height));
  ASSERT_TRUE(wrongSize.clip);
  EXPECT_FALSE(DecodeAviFrame(*wrongSize.clip, 0));
  const AviReadResult notJpeg =
      ParseAvi(MjpegClip(std::vector<std::uint8_t>(64, 0x55), picture->width, picture->height));
  ASSERT_TRUE(notJpeg.clip);
  EXPECT_FALSE(DecodeAviFrame(*notJpeg.clip, 0));
}

}  // namespace
}  // namespace qubix::test
