#include <gtest/gtest.h>

#include "media/JpegDecoder.h"
#include "support/NetworkRig.h"

namespace qubix::test {
namespace {

const std::filesystem::path kData = QUBIX_DATA_DIR;

TEST(JpegDecoder, DecodesTheShippedPictures) {
  for (const char* name : {"Controller00.jpg", "Controller03.jpg", "Controller06.jpg",
                           "extrapset.jpg", "notextrapset.jpg"}) {
    std::string error;
    auto image = media::DecodeJpegFile(kData / name, error);
    ASSERT_TRUE(image) << name << ": " << error;
    EXPECT_EQ(image->width, 150);
    EXPECT_EQ(image->height, 150);
    ASSERT_EQ(image->rgb.size(), 150u * 150u * 3u);
    // Drawn in lime on black: green dominates red over the whole picture.
    long red = 0, green = 0;
    for (std::size_t i = 0; i < image->rgb.size(); i += 3) {
      red += image->rgb[i];
      green += image->rgb[i + 1];
    }
    if (std::string_view(name) != "notextrapset.jpg") {
      EXPECT_GT(green, 2 * red) << name;
    }
  }
  std::string error;
  auto processor = media::DecodeJpegFile(kData / "processor.jpg", error);
  ASSERT_TRUE(processor) << error;
  EXPECT_EQ(processor->width, 220);
  EXPECT_EQ(processor->height, 60);
}

TEST(JpegDecoder, FailuresAreErrorsNeverCrashes) {
  ScratchDir dir;
  const std::string good = ReadFile(kData / "Controller01.jpg");
  ASSERT_GT(good.size(), 1000u);
  std::string flipped = good;
  for (std::size_t i = 200; i < flipped.size(); i += 7) flipped[i] = static_cast<char>(0xff);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"truncated", good.substr(0, good.size() / 2)},
      {"header only", good.substr(0, 20)},
      {"not a jpeg", "GIF89a this is not a picture at all"},
      {"empty", ""},
      {"corrupt", flipped},
  };
  for (const auto& c : cases) {
    WriteFile(dir.path() / "p.jpg", c.bytes);
    std::string error;
    EXPECT_FALSE(media::DecodeJpegFile(dir.path() / "p.jpg", error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
  std::string error;
  EXPECT_FALSE(media::DecodeJpegFile(dir.path() / "missing.jpg", error));
  EXPECT_NE(error.find("missing.jpg"), std::string::npos);
}

}  // namespace
}  // namespace qubix::test
