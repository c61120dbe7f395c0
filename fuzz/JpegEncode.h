// Pictures compressed with libjpeg for the JPEG target and its seeds: an RGB image as colour, or
// its red channel as grey, baseline or progressive, at a quality of 1 … 100.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

// After what it takes for granted: size_t and FILE.
#include <jpeglib.h>

#include "media/JpegDecoder.h"

namespace qubix::fuzz {

inline std::vector<std::uint8_t> CompressJpeg(const media::RgbImage& image, bool grey,
                                              bool progressive, int quality = 75) {
  jpeg_compress_struct info{};
  jpeg_error_mgr err{};
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  info.input_components = grey ? 1 : 3;
  info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row;
  while (info.next_scanline < info.image_height) {
    const auto* rgb =
        image.rgb.data() + static_cast<std::size_t>(info.next_scanline) * image.width * 3;
    row.clear();
    for (int x = 0; x < image.width; ++x) {
      if (grey)
        row.push_back(rgb[x * 3]);
      else
        row.insert(row.end(), rgb + x * 3, rgb + x * 3 + 3);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

}  // namespace qubix::fuzz
