// The pictures: any bytes either decode to a whole image or give a reason.
#include "FuzzSupport.h"
#include "media/JpegDecoder.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto image = network::DecodeJpeg({data, size}, error);
  if (!image) {
    if (error.empty()) fuzz::Broken("a refused picture without a reason");
    return 0;
  }
  if (image->width <= 0 || image->height <= 0 ||
      image->rgb.size() != static_cast<std::size_t>(image->width) * image->height * 3)
    fuzz::Broken("image size and pixels disagree");
  return 0;
}
