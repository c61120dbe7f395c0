// The busy clip's container and its frames.
#include "FuzzSupport.h"
#include "media/AviReader.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto result = network::ParseAvi({data, size});
  if (!result.clip) {
    if (result.error.empty()) fuzz::Broken("a refused clip without a reason");
    return 0;
  }
  const auto& clip = *result.clip;
  if (clip.frames.empty()) fuzz::Broken("a clip without frames accepted");
  // A few frames are enough: the rest decode the same way.
  for (std::size_t i = 0; i < clip.frames.size() && i < 4; ++i) {
    const auto frame = network::DecodeAviFrame(clip, i);
    if (frame && frame->rgb.size() != static_cast<std::size_t>(frame->width) * frame->height * 3)
      fuzz::Broken("frame size and pixels disagree");
  }
  return 0;
}
