// Extra preset files (".hfp"): a 3732-byte image whose first 3726 bytes are covered by a
// signed-byte checksum stored little-endian at offset 3728. Bytes 4 … 3725 are the payload that
// goes to the processor; the rest never leaves the PC.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qubix::network {

inline constexpr std::size_t kHfpFileSize = 3732;
inline constexpr std::size_t kHfpPayloadOffset = 4;
inline constexpr std::size_t kHfpPayloadSize = 3722;
inline constexpr std::size_t kHfpSummedBytes = 3726;  // offsets 0 … 3725
inline constexpr std::size_t kHfpChecksumOffset = 3728;

using HfpImage = std::array<std::uint8_t, kHfpFileSize>;

// Sum of bytes 0 … 3725, each read as a signed 8-bit value, in a signed 32-bit accumulator.
std::int32_t HfpChecksum(const HfpImage& image);
std::int32_t HfpStoredChecksum(const HfpImage& image);
bool HfpChecksumOk(const HfpImage& image);
// Stores the checksum of bytes 0 … 3725 in the checksum field (for building test files).
void SealHfpImage(HfpImage& image);

// Each payload byte travels as (b + 15) mod 256; the processor echoes what it received.
constexpr std::uint8_t EncodeUploadByte(std::uint8_t b) {
  return static_cast<std::uint8_t>(b + 15);
}

enum class HfpFileError { None, Missing, Unreadable, WrongSize };

struct HfpReadResult {
  HfpFileError error = HfpFileError::None;
  HfpImage image{};
  std::uintmax_t fileSize = 0;
  std::string detail;
  bool ok() const { return error == HfpFileError::None; }
};

// Reads a whole Extra preset file. A file that cannot be read is refused rather than leaving
// an earlier image in place; a file that is not exactly 3732 bytes is refused as well, since
// it cannot be an Extra preset. Never reads past the 3732nd byte.
HfpReadResult ReadHfpFile(const std::string& path);

// The picture that belongs to an uploaded file: the same path with the extension ".jpg".
std::string HfpPicturePath(const std::string& hfpPath);

}  // namespace qubix::network
