// The busy clip's container and its frames. Motion-JPEG frames go through the system's libjpeg,
// which is not built with the fuzzer's coverage (its edges are invisible to the run), so time
// spent there steers nothing: the target works the project's own code, the chunk walk and the
// picture format of the AVI reader and the unpacking of uncompressed frames, and hands at most
// one Motion-JPEG frame to the decoder, for the reader's check of its size against the clip's.
#include <algorithm>

#include "FuzzSupport.h"
#include "media/AviReader.h"

using namespace qubix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto result = media::ParseAvi({data, size});
  if (!result.clip) {
    if (result.error.empty()) fuzz::Broken("a refused clip without a reason");
    return 0;
  }
  const auto& clip = *result.clip;
  if (clip.frames.empty()) fuzz::Broken("a clip without frames accepted");
  if (clip.width <= 0 || clip.width > 4096 || clip.height <= 0 || clip.height > 4096)
    fuzz::Broken("a picture size out of range accepted");
  if (clip.codec == media::AviCodec::Mjpeg) {
    const auto frame = media::DecodeAviFrame(clip, 0);
    if (frame && (frame->width != clip.width || frame->height != clip.height))
      fuzz::Broken("a frame of another size than the clip's");
    return 0;
  }

  // Uncompressed: a frame decodes exactly when it holds its rows (each padded to four bytes).
  const std::size_t pixelBytes = clip.codec == media::AviCodec::Rgb24 ? 3 : 4;
  const std::size_t stride = (static_cast<std::size_t>(clip.width) * pixelBytes + 3) / 4 * 4;
  std::vector<media::RgbImage> frames;
  for (std::size_t i = 0; i < clip.frames.size() && i < 4; ++i) {
    auto frame = media::DecodeAviFrame(clip, i);
    if (frame.has_value() != (clip.frames[i].size() >= stride * clip.height))
      fuzz::Broken("a frame decoded or refused against its length");
    if (!frame) return 0;
    if (frame->width != clip.width || frame->height != clip.height ||
        frame->rgb.size() != static_cast<std::size_t>(frame->width) * frame->height * 3)
      fuzz::Broken("frame size and pixels disagree");
    frames.push_back(std::move(*frame));
  }
  // What was read, written as a clip of the project's own and read again, is the same pictures
  // whichever row order and pixel size the input had.
  if (static_cast<std::size_t>(clip.width) * clip.height > 64 * 64) return 0;
  const auto again = media::ParseAvi(media::WriteUncompressedAvi(frames, clip.microsPerFrame));
  if (!again.clip || again.clip->frames.size() != frames.size())
    fuzz::Broken("a written clip does not read back");
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const auto back = media::DecodeAviFrame(*again.clip, i);
    if (!back || back->rgb != frames[i].rgb) fuzz::Broken("a frame changes when written and read");
  }
  return 0;
}
