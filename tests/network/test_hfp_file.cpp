#include <gtest/gtest.h>

#include "network/HfpFile.h"
#include "support/TempDir.h"

namespace qubix::test {
using namespace qubix::network;
namespace {

using test::TempDir;
using test::WriteBytes;

HfpImage SampleImage() {
  HfpImage image{};
  for (std::size_t i = 0; i < kHfpFileSize; ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  SealHfpImage(image);
  return image;
}

TEST(HfpFile, ChecksumSumsSignedBytes) {
  HfpImage image{};
  image[0] = 0xff;  // −1
  image[1] = 0x80;  // −128
  image[3725] = 0x7f;
  image[3726] = 0x55;  // outside the sum
  EXPECT_EQ(HfpChecksum(image), -1 - 128 + 127);
  SealHfpImage(image);
  EXPECT_EQ((std::array{image[3728], image[3729], image[3730], image[3731]}),
            (std::array<std::uint8_t, 4>{0xfe, 0xff, 0xff, 0xff}));
  EXPECT_TRUE(HfpChecksumOk(image));
}

TEST(HfpFile, WhichBytesTheChecksumCovers) {
  struct Case {
    std::size_t offset;
    bool stillPasses;
  };
  const Case cases[] = {{0, false}, {1, false},    {2, false},   {3, false},
                        {4, false}, {3725, false}, {3726, true}, {3727, true}};
  for (const Case& c : cases) {
    HfpImage image = SampleImage();
    ASSERT_TRUE(HfpChecksumOk(image));
    image[c.offset] ^= 0x01;
    EXPECT_EQ(HfpChecksumOk(image), c.stillPasses) << c.offset;
  }
}

TEST(HfpFile, UploadEncodingAddsFifteen) {
  struct Case {
    std::uint8_t payload, wire;
  };
  const Case cases[] = {{0x71, 0x80}, {0xf5, 0x04}, {0xf0, 0xff}, {0xf1, 0x00}, {0x00, 0x0f}};
  for (const Case& c : cases) EXPECT_EQ(EncodeUploadByte(c.payload), c.wire) << int{c.payload};
}

TEST(HfpFile, ReadsAnExactImage) {
  TempDir dir;
  const HfpImage image = SampleImage();
  WriteBytes(dir.file("x.hfp"), {image.begin(), image.end()});
  const HfpReadResult result = ReadHfpFile(dir.file("x.hfp"));
  ASSERT_TRUE(result.ok()) << result.detail;
  EXPECT_EQ(result.image, image);
  EXPECT_EQ(result.fileSize, kHfpFileSize);
}

TEST(HfpFile, WrongSizesAreRefused) {
  TempDir dir;
  const HfpImage image = SampleImage();
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{3726}, std::size_t{3731},
                           std::size_t{3733}, std::size_t{8000}}) {
    std::vector<std::uint8_t> bytes(image.begin(), image.end());
    bytes.resize(size, 0);
    WriteBytes(dir.file("s.hfp"), bytes);
    const HfpReadResult result = ReadHfpFile(dir.file("s.hfp"));
    EXPECT_EQ(result.error, HfpFileError::WrongSize) << size;
    EXPECT_EQ(result.fileSize, size);
  }
  EXPECT_EQ(ReadHfpFile(dir.file("none.hfp")).error, HfpFileError::Missing);
}

TEST(HfpFile, PictureSitsBesideTheFile) {
  EXPECT_EQ(HfpPicturePath("/data/presets/Hall.hfp"), "/data/presets/Hall.jpg");
  EXPECT_EQ(HfpPicturePath("presets/my.preset.hfp"), "presets/my.preset.jpg");
}

}  // namespace
}  // namespace qubix::test
