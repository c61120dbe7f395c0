#include "media/JpegDecoder.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include "files/RegularFile.h"

namespace qubix::media {
namespace {

// Pictures larger than this are refused rather than allocated.
constexpr std::size_t kMaxPixels = std::size_t{64} * 1024 * 1024;
// Far beyond any picture of a machine; a larger file is refused before it is decoded.
constexpr std::size_t kMaxPictureFileBytes = std::size_t{64} * 1024 * 1024;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

// Warnings (such as premature end of data) are treated as errors: a truncated picture is an
// error, not a half-grey image.
void onMessage(j_common_ptr info, int level) {
  if (level < 0) onError(info);
}

// Runs the decompression. Kept free of C++ objects with destructors between setjmp and the
// possible longjmp, so that jumping back skips nothing that needs cleaning up.
bool decode(const std::uint8_t* data, unsigned long size, RgbImage& out, char* message) {
  jpeg_decompress_struct info{};
  ErrorManager err{};
  info.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = onError;
  err.pub.emit_message = onMessage;
  err.message[0] = '\0';
  std::uint8_t* volatile pixels = nullptr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.message);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  const std::size_t rowBytes = static_cast<std::size_t>(info.output_width) * 3u;
  if (info.output_components != 3 || info.output_width == 0 || info.output_height == 0 ||
      static_cast<std::size_t>(info.output_width) * info.output_height > kMaxPixels) {
    jpeg_destroy_decompress(&info);
    std::snprintf(message, JMSG_LENGTH_MAX, "unsupported picture size or colour layout");
    return false;
  }
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  out.rgb.resize(rowBytes * info.output_height);
  pixels = out.rgb.data();
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels + rowBytes * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

std::optional<RgbImage> DecodeJpeg(std::span<const std::uint8_t> data, std::string& error) {
  if (data.size() < 4 || data[0] != 0xff || data[1] != 0xd8) {
    error = "not a JPEG file";
    return std::nullopt;
  }
  RgbImage image;
  char message[JMSG_LENGTH_MAX] = {};
  if (!decode(data.data(), static_cast<unsigned long>(data.size()), image, message)) {
    error = message[0] ? message : "corrupt JPEG data";
    return std::nullopt;
  }
  return image;
}

std::optional<RgbImage> DecodeJpegFile(const std::filesystem::path& path, std::string& error) {
  std::string text;
  if (!files::ReadFilePrefix(path, kMaxPictureFileBytes + 1, text, &error)) return std::nullopt;
  if (text.size() > kMaxPictureFileBytes) {
    error = path.string() + " is too large for a picture";
    return std::nullopt;
  }
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  auto image = DecodeJpeg(bytes, error);
  if (!image) error = path.filename().string() + ": " + error;
  return image;
}

}  // namespace qubix::media
