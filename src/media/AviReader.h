// A small reader for the AVI container, enough to play the slots' busy clip: one video stream
// of uncompressed 24/32-bit frames or Motion-JPEG frames. Also the matching writer of
// uncompressed clips, which the project's clip generator uses.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/JpegDecoder.h"

namespace qubix::media {

enum class AviCodec { Rgb24, Rgb32, Mjpeg };

struct AviClip {
  int width = 0;
  int height = 0;
  bool bottomUp = true;              // uncompressed rows are stored bottom row first
  std::uint32_t microsPerFrame = 0;  // frame period
  AviCodec codec = AviCodec::Rgb24;
  std::vector<std::vector<std::uint8_t>> frames;  // the stream's chunks as stored
};

struct AviReadResult {
  std::optional<AviClip> clip;
  std::string error;  // why the bytes are not a playable clip
};

// Parses a whole file image. Every size field is checked against the bytes present; a clip
// with no frames, no video stream or an unsupported codec is refused with a reason.
AviReadResult ParseAvi(std::span<const std::uint8_t> bytes);
AviReadResult ReadAviFile(const std::string& path);

// Decodes frame `index`; empty when the frame's bytes are too few or do not decode.
std::optional<RgbImage> DecodeAviFrame(const AviClip& clip, std::size_t index);

// An uncompressed 24-bit clip (with its index chunk) from equally sized frames.
std::vector<std::uint8_t> WriteUncompressedAvi(const std::vector<RgbImage>& frames,
                                               std::uint32_t microsPerFrame);

}  // namespace qubix::media
