#include "media/AviReader.h"

#include <cstring>
#include <string>
#include <vector>

#include "files/LittleEndian.h"
#include "files/RegularFile.h"

namespace qubix::media {

namespace {

// Far beyond the busy clip; a larger file is refused before it is parsed.
constexpr std::size_t kMaxClipFileBytes = std::size_t{256} * 1024 * 1024;

using Bytes = std::span<const std::uint8_t>;

std::uint32_t U32(Bytes b, std::size_t at) { return files::GetLe32(b.data() + at); }
std::uint16_t U16(Bytes b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
bool Is(Bytes b, std::size_t at, const char (&fourcc)[5]) {
  return std::memcmp(b.data() + at, fourcc, 4) == 0;
}

struct Parser {
  AviClip clip;
  bool haveHeader = false;
  bool haveFormat = false;
  int videoStream = -1;
  int streamCount = 0;
  std::string error;

  // Walks the chunks of one list body; returns false on a size that runs past the data.
  bool Walk(Bytes body, int depth) {
    if (depth > 8) {
      error = "lists nested too deep";
      return false;
    }
    std::size_t at = 0;
    while (at + 8 <= body.size()) {
      const std::uint32_t size = U32(body, at + 4);
      if (size > body.size() - at - 8) {
        error = "a chunk runs past the end of the file";
        return false;
      }
      Bytes data = body.subspan(at + 8, size);
      if (Is(body, at, "LIST") || Is(body, at, "RIFF")) {
        if (size < 4) {
          error = "an empty list";
          return false;
        }
        if (Is(data, 0, "strl")) ++streamCount;
        if (!Walk(data.subspan(4), depth + 1)) return false;
      } else if (!Chunk(body, at, data)) {
        return false;
      }
      at += 8 + size + (size & 1u);
    }
    return true;
  }

  bool Chunk(Bytes body, std::size_t at, Bytes data) {
    if (Is(body, at, "avih")) {
      if (data.size() < 40) return Fail("short main header");
      clip.microsPerFrame = U32(data, 0);
      haveHeader = true;
    } else if (Is(body, at, "strh")) {
      if (data.size() < 8) return Fail("short stream header");
      if (Is(data, 0, "vids") && videoStream < 0) videoStream = streamCount - 1;
    } else if (Is(body, at, "strf")) {
      if (videoStream == streamCount - 1 && !haveFormat) return Format(data);
    } else if (videoStream >= 0 && IsFrameChunk(body, at)) {
      clip.frames.emplace_back(data.begin(), data.end());
    }
    return true;
  }

  bool IsFrameChunk(Bytes body, std::size_t at) const {
    const auto tens = static_cast<std::uint8_t>('0' + videoStream / 10);
    const auto units = static_cast<std::uint8_t>('0' + videoStream % 10);
    return body[at] == tens && body[at + 1] == units &&
           (body[at + 2] == 'd' && (body[at + 3] == 'b' || body[at + 3] == 'c'));
  }

  bool Format(Bytes data) {
    if (data.size() < 40) return Fail("short picture format");
    const auto width = static_cast<std::int32_t>(U32(data, 4));
    const auto height = static_cast<std::int32_t>(U32(data, 8));
    const std::uint16_t bits = U16(data, 14);
    const std::uint32_t compression = U32(data, 16);
    if (width <= 0 || width > 4096 || height == 0 || height < -4096 || height > 4096)
      return Fail("picture size out of range");
    clip.width = width;
    clip.height = height < 0 ? -height : height;
    clip.bottomUp = height > 0;
    if (compression == 0 && bits == 24) {
      clip.codec = AviCodec::Rgb24;
    } else if (compression == 0 && bits == 32) {
      clip.codec = AviCodec::Rgb32;
    } else if (Is(data, 16, "MJPG")) {
      clip.codec = AviCodec::Mjpeg;
    } else {
      return Fail("unsupported frame format");
    }
    haveFormat = true;
    return true;
  }

  bool Fail(const char* why) {
    error = why;
    return false;
  }
};

}  // namespace

AviReadResult ParseAvi(std::span<const std::uint8_t> bytes) {
  AviReadResult result;
  if (bytes.size() < 12 || !Is(bytes, 0, "RIFF") || !Is(bytes, 8, "AVI ")) {
    result.error = "not an AVI file";
    return result;
  }
  const std::uint32_t riffSize = U32(bytes, 4);
  if (riffSize < 4 || riffSize > bytes.size() - 8) {
    result.error = "the file is shorter than its header says";
    return result;
  }
  Parser parser;
  if (!parser.Walk(bytes.subspan(12, riffSize - 4), 0)) {
    result.error = parser.error;
    return result;
  }
  if (!parser.haveHeader || parser.videoStream < 0 || !parser.haveFormat) {
    result.error = "no video stream";
    return result;
  }
  if (parser.clip.frames.empty()) {
    result.error = "no frames";
    return result;
  }
  result.clip = std::move(parser.clip);
  return result;
}

AviReadResult ReadAviFile(const std::string& path) {
  std::string text, error;
  if (!files::ReadFilePrefix(path, kMaxClipFileBytes + 1, text, &error))
    return {std::nullopt, error};
  if (text.size() > kMaxClipFileBytes) return {std::nullopt, path + " is too large for a clip"};
  return ParseAvi(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::optional<RgbImage> DecodeAviFrame(const AviClip& clip, std::size_t index) {
  if (index >= clip.frames.size()) return std::nullopt;
  const std::vector<std::uint8_t>& data = clip.frames[index];
  if (clip.codec == AviCodec::Mjpeg) {
    std::string ignored;
    std::optional<RgbImage> frame = DecodeJpeg(data, ignored);
    if (frame && (frame->width != clip.width || frame->height != clip.height)) return std::nullopt;
    return frame;
  }
  const std::size_t bytesPerPixel = clip.codec == AviCodec::Rgb24 ? 3 : 4;
  const std::size_t w = static_cast<std::size_t>(clip.width);
  const std::size_t h = static_cast<std::size_t>(clip.height);
  const std::size_t stride = (w * bytesPerPixel + 3) / 4 * 4;
  if (data.size() < stride * h) return std::nullopt;
  RgbImage frame{clip.width, clip.height, std::vector<std::uint8_t>(w * h * 3)};
  for (std::size_t y = 0; y < h; ++y) {
    const std::size_t row = clip.bottomUp ? h - 1 - y : y;
    const std::uint8_t* src = data.data() + row * stride;
    std::uint8_t* dst = frame.rgb.data() + y * w * 3;
    for (std::size_t x = 0; x < w; ++x, src += bytesPerPixel, dst += 3) {
      dst[0] = src[2];  // stored blue, green, red
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  return frame;
}

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.resize(out.size() + 4);
  files::PutLe32(out.data() + out.size() - 4, v);
}
void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutId(std::vector<std::uint8_t>& out, const char (&fourcc)[5]) {
  out.insert(out.end(), fourcc, fourcc + 4);
}
// Opens a chunk and returns where its size goes; CloseChunk fills it in and pads to even.
std::size_t OpenChunk(std::vector<std::uint8_t>& out, const char (&fourcc)[5]) {
  PutId(out, fourcc);
  Put32(out, 0);
  return out.size();
}
void CloseChunk(std::vector<std::uint8_t>& out, std::size_t start) {
  const auto size = static_cast<std::uint32_t>(out.size() - start);
  files::PutLe32(out.data() + start - 4, size);
  if (size & 1u) out.push_back(0);
}

}  // namespace

std::vector<std::uint8_t> WriteUncompressedAvi(const std::vector<RgbImage>& frames,
                                               std::uint32_t microsPerFrame) {
  std::vector<std::uint8_t> out;
  if (frames.empty()) return out;
  const auto w = static_cast<std::uint32_t>(frames.front().width);
  const auto h = static_cast<std::uint32_t>(frames.front().height);
  const std::uint32_t stride = (w * 3 + 3) / 4 * 4;
  const std::uint32_t frameBytes = stride * h;
  const auto count = static_cast<std::uint32_t>(frames.size());

  const std::size_t riff = OpenChunk(out, "RIFF");
  PutId(out, "AVI ");
  const std::size_t hdrl = OpenChunk(out, "LIST");
  PutId(out, "hdrl");
  const std::size_t avih = OpenChunk(out, "avih");
  Put32(out, microsPerFrame);
  Put32(out, microsPerFrame ? frameBytes * (1000000u / microsPerFrame) : 0);
  Put32(out, 0);
  Put32(out, 0x10);  // has an index
  Put32(out, count);
  Put32(out, 0);
  Put32(out, 1);
  Put32(out, frameBytes);
  Put32(out, w);
  Put32(out, h);
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  CloseChunk(out, avih);
  const std::size_t strl = OpenChunk(out, "LIST");
  PutId(out, "strl");
  const std::size_t strh = OpenChunk(out, "strh");
  PutId(out, "vids");
  Put32(out, 0);  // no codec: raw frames
  Put32(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, microsPerFrame);  // scale / rate = seconds per frame
  Put32(out, 1000000);
  Put32(out, 0);
  Put32(out, count);
  Put32(out, frameBytes);
  Put32(out, 0xffffffffu);
  Put32(out, 0);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<std::uint16_t>(w));
  Put16(out, static_cast<std::uint16_t>(h));
  CloseChunk(out, strh);
  const std::size_t strf = OpenChunk(out, "strf");
  Put32(out, 40);
  Put32(out, w);
  Put32(out, h);  // positive: bottom row first
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, frameBytes);
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  CloseChunk(out, strf);
  CloseChunk(out, strl);
  CloseChunk(out, hdrl);

  const std::size_t movi = OpenChunk(out, "LIST");
  PutId(out, "movi");
  std::vector<std::uint32_t> offsets;
  for (const RgbImage& frame : frames) {
    offsets.push_back(static_cast<std::uint32_t>(out.size() - movi));
    const std::size_t chunk = OpenChunk(out, "00db");
    const bool fits = frame.width == static_cast<int>(w) && frame.height == static_cast<int>(h) &&
                      frame.rgb.size() >= std::size_t{w} * h * 3;
    for (std::uint32_t y = h; y-- > 0;) {
      for (std::uint32_t x = 0; x < w; ++x) {
        const std::uint8_t* p = fits ? frame.rgb.data() + (std::size_t{y} * w + x) * 3 : nullptr;
        out.push_back(p ? p[2] : 0);
        out.push_back(p ? p[1] : 0);
        out.push_back(p ? p[0] : 0);
      }
      for (std::uint32_t pad = w * 3; pad < stride; ++pad) out.push_back(0);
    }
    CloseChunk(out, chunk);
  }
  CloseChunk(out, movi);
  const std::size_t idx1 = OpenChunk(out, "idx1");
  for (std::uint32_t offset : offsets) {
    PutId(out, "00db");
    Put32(out, 0x10);  // key frame
    Put32(out, offset);
    Put32(out, frameBytes);
  }
  CloseChunk(out, idx1);
  CloseChunk(out, riff);
  return out;
}

}  // namespace qubix::media
