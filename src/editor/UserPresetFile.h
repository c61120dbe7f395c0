// User preset files (".vup"): one complete set of editor settings as a 196-byte little-endian
// image with no header. One reader and one writer, working on a plain record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "network/EqFile.h"

namespace qubix::editor {

inline constexpr std::size_t kUserPresetFileSize = 196;
inline constexpr int kPresetBands = 10;

struct UserPresetRecord {
  std::int32_t inputGainA = 0;  // half-dB steps, trunc(dB × 2)
  std::int32_t inputGainB = 0;
  std::int32_t knob12 = 0;              // Ch1/Ch2 attenuation knob position
  std::int32_t knob34 = 0;              // Ch3/Ch4
  std::array<std::uint8_t, 4> muted{};  // Ch1 … Ch4, 1 = muted
  std::int32_t delay12 = 0;
  std::int32_t delay34 = 0;
  std::uint8_t flatMode = 0;                        // 1 = band gains parked in the stash
  std::array<std::int32_t, kPresetBands> freqHz{};  // bands 1 … 10
  std::array<float, kPresetBands> gainDb{};         // bands 1 … 10
  // The flat stash in the order the flat toggle visits the strips: band 10, band 1 … band 9.
  std::array<float, kPresetBands> flatGainStash{};
  std::array<float, kPresetBands> q{};  // bands 1 … 10
  std::int32_t ampLevelCode = 0;
  friend bool operator==(const UserPresetRecord&, const UserPresetRecord&) = default;
};

using UserPresetImage = std::array<std::uint8_t, kUserPresetFileSize>;

// Gains within ±0.1 dB are stored as exactly 0.0, as in the per-machine equaliser files.
using network::ZeroSmallGain;

// The exact file image; applies the small-gain zeroing to the gains and the stash.
UserPresetImage EncodeUserPreset(const UserPresetRecord& record);
// Decodes a full image. Padding bytes are ignored.
UserPresetRecord DecodeUserPreset(std::span<const std::uint8_t, kUserPresetFileSize> image);

// Empty when every value fits the editor's controls (gain steps −96 … 24, knobs 0 … 64,
// delays 0 … 310, frequencies 10 … 18000 Hz, band gains and stash −12 … +12 dB, Q 0.2 … 50,
// level code 0 … 255, all numbers finite); otherwise a sentence naming the first bad value.
std::string CheckUserPreset(const UserPresetRecord& record);

enum class PresetFileError { None, Missing, Unreadable, TooShort, OutOfRange, WriteFailed };

struct UserPresetReadResult {
  PresetFileError error = PresetFileError::None;
  UserPresetRecord record{};
  std::uintmax_t fileSize = 0;
  std::string detail;  // what went wrong, for the command-line tool and logs
  bool ok() const { return error == PresetFileError::None; }
};

// Reads the first 196 bytes of a file. A file shorter than a full record, or one holding a
// value no control can show, is refused: applying half a preset would mix it with whatever the
// editor held before. A longer file is accepted; bytes past the record are never read.
UserPresetReadResult ReadUserPresetFile(const std::string& path);

// Writes the record durably (files::WriteWholeFile), so that a full disk, a crash or a second
// writer never leaves half a preset behind. Empty on success, else the file and the reason.
std::string WriteUserPresetFile(const std::string& path, const UserPresetRecord& record);

}  // namespace qubix::editor
