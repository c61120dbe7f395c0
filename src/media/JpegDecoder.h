// A small JPEG decoder on libjpeg's decompression interface. Every failure — a missing file,
// truncated or corrupt data, a file that is no JPEG — comes back as an error text; libjpeg's
// own error exit (which would end the process) is replaced by a jump back into the decoder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qubix::media {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // width × height × 3 bytes, rows top to bottom
};

std::optional<RgbImage> DecodeJpeg(std::span<const std::uint8_t> data, std::string& error);
std::optional<RgbImage> DecodeJpegFile(const std::filesystem::path& path, std::string& error);

}  // namespace qubix::media
