#include "editor/UserPresetFile.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "files/DurableFile.h"
#include "files/LittleEndian.h"
#include "files/RegularFile.h"
#include "filters/EqBands.h"
#include "protocol/WireCodes.h"

namespace qubix::editor {

namespace {

// Offsets of the 196-byte image.
constexpr std::size_t kOffGainA = 0, kOffGainB = 4, kOffKnob12 = 8, kOffKnob34 = 12;
constexpr std::size_t kOffMutes = 16, kOffDelay12 = 20, kOffDelay34 = 24, kOffFlat = 28;
constexpr std::size_t kOffFreq = 32, kOffGain = 72, kOffStash = 112, kOffQ = 152;
constexpr std::size_t kOffLevel = 192;

void PutU32(UserPresetImage& image, std::size_t at, std::uint32_t v) {
  files::PutLe32(image.data() + at, v);
}
void PutI32(UserPresetImage& image, std::size_t at, std::int32_t v) {
  PutU32(image, at, static_cast<std::uint32_t>(v));
}
void PutF32(UserPresetImage& image, std::size_t at, float v) {
  PutU32(image, at, std::bit_cast<std::uint32_t>(v));
}
std::uint32_t GetU32(std::span<const std::uint8_t, kUserPresetFileSize> image, std::size_t at) {
  return files::GetLe32(image.data() + at);
}
std::int32_t GetI32(std::span<const std::uint8_t, kUserPresetFileSize> image, std::size_t at) {
  return static_cast<std::int32_t>(GetU32(image, at));
}
float GetF32(std::span<const std::uint8_t, kUserPresetFileSize> image, std::size_t at) {
  return std::bit_cast<float>(GetU32(image, at));
}

std::string OutOfRange(const char* what, double value) {
  char text[128];
  std::snprintf(text, sizeof text, "%s %g is outside what the editor can hold", what, value);
  return text;
}

bool InRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

}  // namespace

UserPresetImage EncodeUserPreset(const UserPresetRecord& r) {
  UserPresetImage image{};
  PutI32(image, kOffGainA, r.inputGainA);
  PutI32(image, kOffGainB, r.inputGainB);
  PutI32(image, kOffKnob12, r.knob12);
  PutI32(image, kOffKnob34, r.knob34);
  for (std::size_t c = 0; c < 4; ++c) image[kOffMutes + c] = r.muted[c];
  PutI32(image, kOffDelay12, r.delay12);
  PutI32(image, kOffDelay34, r.delay34);
  image[kOffFlat] = r.flatMode;
  for (std::size_t b = 0; b < kPresetBands; ++b) {
    PutI32(image, kOffFreq + 4 * b, r.freqHz[b]);
    PutF32(image, kOffGain + 4 * b, ZeroSmallGain(r.gainDb[b]));
    PutF32(image, kOffStash + 4 * b, ZeroSmallGain(r.flatGainStash[b]));
    PutF32(image, kOffQ + 4 * b, r.q[b]);
  }
  PutI32(image, kOffLevel, r.ampLevelCode);
  return image;
}

UserPresetRecord DecodeUserPreset(std::span<const std::uint8_t, kUserPresetFileSize> image) {
  UserPresetRecord r;
  r.inputGainA = GetI32(image, kOffGainA);
  r.inputGainB = GetI32(image, kOffGainB);
  r.knob12 = GetI32(image, kOffKnob12);
  r.knob34 = GetI32(image, kOffKnob34);
  for (std::size_t c = 0; c < 4; ++c) r.muted[c] = image[kOffMutes + c];
  r.delay12 = GetI32(image, kOffDelay12);
  r.delay34 = GetI32(image, kOffDelay34);
  r.flatMode = image[kOffFlat];
  for (std::size_t b = 0; b < kPresetBands; ++b) {
    r.freqHz[b] = GetI32(image, kOffFreq + 4 * b);
    r.gainDb[b] = GetF32(image, kOffGain + 4 * b);
    r.flatGainStash[b] = GetF32(image, kOffStash + 4 * b);
    r.q[b] = GetF32(image, kOffQ + 4 * b);
  }
  r.ampLevelCode = GetI32(image, kOffLevel);
  return r;
}

std::string CheckUserPreset(const UserPresetRecord& r) {
  if (!InRange(r.inputGainA, -96, 24)) return OutOfRange("Input A gain step", r.inputGainA);
  if (!InRange(r.inputGainB, -96, 24)) return OutOfRange("Input B gain step", r.inputGainB);
  if (!InRange(r.knob12, 0, 64)) return OutOfRange("Ch1/Ch2 knob position", r.knob12);
  if (!InRange(r.knob34, 0, 64)) return OutOfRange("Ch3/Ch4 knob position", r.knob34);
  if (!InRange(r.delay12, 0, 310)) return OutOfRange("Ch1/Ch2 delay", r.delay12);
  if (!InRange(r.delay34, 0, 310)) return OutOfRange("Ch3/Ch4 delay", r.delay34);
  for (std::size_t b = 0; b < kPresetBands; ++b) {
    if (!InRange(r.freqHz[b], filters::kBandFreqMinHz, filters::kBandFreqMaxHz))
      return OutOfRange("band frequency", r.freqHz[b]);
    if (!InRange(r.gainDb[b], -filters::kBandGainMaxDb, filters::kBandGainMaxDb))
      return OutOfRange("band gain", r.gainDb[b]);
    if (!InRange(r.flatGainStash[b], -filters::kBandGainMaxDb, filters::kBandGainMaxDb))
      return OutOfRange("stashed gain", r.flatGainStash[b]);
    if (!InRange(r.q[b], filters::kBandQMin, filters::kBandQMax))
      return OutOfRange("band Q", r.q[b]);
  }
  if (!InRange(r.ampLevelCode, protocol::codes::kMuted, protocol::codes::kLevelZeroDb))
    return OutOfRange("amplifier level code", r.ampLevelCode);
  return {};
}

UserPresetReadResult ReadUserPresetFile(const std::string& path) {
  UserPresetReadResult result;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    result.error = PresetFileError::Missing;
    result.detail = "no such file: " + path;
    return result;
  }
  std::string bytes;
  if (!files::ReadFilePrefix(path, kUserPresetFileSize, bytes, &result.detail)) {
    result.error = PresetFileError::Unreadable;
    return result;
  }
  result.fileSize = bytes.size();
  if (auto size = std::filesystem::file_size(path, ec); !ec) result.fileSize = size;
  // A shorter file is refused whole rather than loaded in part over the editor's values: the
  // bytes it lacks would leave the bands, the level or the mutes of whatever was shown before
  // and send them to the processor as if the file held them (a file cut short by a full disk or
  // a failed copy is the usual cause).
  if (bytes.size() < kUserPresetFileSize) {
    result.error = PresetFileError::TooShort;
    result.detail = path + " holds " + std::to_string(bytes.size()) + " bytes, a preset needs " +
                    std::to_string(kUserPresetFileSize);
    return result;
  }
  UserPresetImage image{};
  std::memcpy(image.data(), bytes.data(), image.size());
  result.record = DecodeUserPreset(image);
  if (std::string why = CheckUserPreset(result.record); !why.empty()) {
    result.error = PresetFileError::OutOfRange;
    result.detail = why;
  }
  return result;
}

std::string WriteUserPresetFile(const std::string& path, const UserPresetRecord& record) {
  const UserPresetImage image = EncodeUserPreset(record);
  std::string error;
  if (!files::ReplaceFile(path, image, error)) return error;
  return {};
}

}  // namespace qubix::editor
