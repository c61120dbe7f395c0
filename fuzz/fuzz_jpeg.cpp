// The pictures through the project's decoder. libjpeg is the system's and is not built with the
// fuzzer's coverage: a run sees the few dozen edges of the decoder around it and none inside the
// library, so mutations of a file are not steered through the library's code. The target
// therefore aims at the decoder's own promises rather than at libjpeg. An input that starts as a
// JPEG does is decoded as it stands: it decodes to a whole image or gives a reason. Any other
// input is the recipe of a picture compressed here (its size, grey or colour, progressive or
// not, quality and pixels), then perhaps cut short or with one byte changed: the whole picture
// decodes to its own size (grey as equal red, green and blue), a cut one is refused with a
// reason (never half an image), a changed one decodes consistently or gives a reason.
#include <algorithm>
#include <vector>

#include "FuzzSupport.h"
#include "JpegEncode.h"
#include "media/JpegDecoder.h"

using namespace qubix;

namespace {

struct Recipe {
  bool grey = false, progressive = false;
  int width = 1, height = 1, quality = 75;
  std::size_t cut = 0;        // keep this many bytes (0: all)
  std::size_t changeAt = 0;   // the byte changed ...
  std::uint8_t changeBy = 0;  // ... by this xor (0: none)
  std::span<const std::uint8_t> pixels;
};

Recipe Read(const std::uint8_t* data, std::size_t size) {
  std::uint8_t head[9] = {};
  std::copy(data, data + std::min<std::size_t>(size, sizeof head), head);
  Recipe r;
  r.grey = head[0] & 1;
  r.progressive = head[0] & 2;
  r.width = head[1] % 48 + 1;
  r.height = head[2] % 48 + 1;
  r.quality = head[3] % 100 + 1;
  r.cut = static_cast<std::size_t>(head[4] | head[5] << 8);
  r.changeAt = static_cast<std::size_t>(head[6] | head[7] << 8);
  r.changeBy = head[8];
  if (size > sizeof head) r.pixels = {data + sizeof head, size - sizeof head};
  return r;
}

std::vector<std::uint8_t> Compress(const Recipe& r) {
  media::RgbImage image{r.width, r.height, {}};
  image.rgb.resize(static_cast<std::size_t>(r.width) * r.height * 3, 128);
  for (std::size_t i = 0; !r.pixels.empty() && i < image.rgb.size(); ++i)
    image.rgb[i] = r.pixels[i % r.pixels.size()];
  return fuzz::CompressJpeg(image, r.grey, r.progressive, r.quality);
}

void CheckConsistent(const std::optional<media::RgbImage>& image, const std::string& error) {
  if (!image) {
    if (error.empty()) fuzz::Broken("a refused picture without a reason");
    return;
  }
  if (image->width <= 0 || image->height <= 0 ||
      image->rgb.size() != static_cast<std::size_t>(image->width) * image->height * 3)
    fuzz::Broken("image size and pixels disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  if (size >= 2 && data[0] == 0xff && data[1] == 0xd8) {
    CheckConsistent(media::DecodeJpeg({data, size}, error), error);
    return 0;
  }
  const Recipe r = Read(data, size);
  std::vector<std::uint8_t> file = Compress(r);
  if (r.cut != 0) {
    file.resize(r.cut % file.size());
    const auto image = media::DecodeJpeg(file, error);
    if (image || error.empty()) fuzz::Broken("a cut picture not refused with a reason");
    return 0;
  }
  if (r.changeBy != 0) {
    file[r.changeAt % file.size()] ^= r.changeBy;
    CheckConsistent(media::DecodeJpeg(file, error), error);
    return 0;
  }
  const auto image = media::DecodeJpeg(file, error);
  if (!image) fuzz::Broken("a whole picture refused");
  if (image->width != r.width || image->height != r.height)
    fuzz::Broken("a picture decoded to another size");
  CheckConsistent(image, error);
  if (r.grey)
    for (std::size_t i = 0; i < image->rgb.size(); i += 3)
      if (image->rgb[i] != image->rgb[i + 1] || image->rgb[i] != image->rgb[i + 2])
        fuzz::Broken("a grey picture decoded with colour");
  return 0;
}
