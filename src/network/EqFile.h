// The per-machine equaliser files: the ten bands of the editor as the operator set them, kept on
// the PC because a machine only holds coefficient words. One 180-byte little-endian record, in a
// last-edit file (ID + ".dat") and in one file per user preset number (ID + "_" + N + ".dat").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qubix::network {

inline constexpr std::size_t kEqRecordSize = 180;
inline constexpr int kEqBandCount = 10;
// The machine whose last-edit file seeds every newly listed machine.
inline constexpr std::string_view kEqTemplateId = "H000000010000";

namespace eqtexts {
inline constexpr std::string_view kFileErrorCaption = "File Error";
inline constexpr std::string_view kReadError =
    "Can't perform one of the following file operations: Open, Seek, Read, Close.";
inline constexpr std::string_view kWriteError =
    "Can't perform one of the following file operations: Open, Seek, Read, Write, Close.";
}  // namespace eqtexts

// The record as the editor's band controls see it. Bands are in band order 1 … 10; the saved
// gains are in the order the "Flat" button visits the strips: band 10, then bands 1 … 9.
struct EqRecord {
  std::uint8_t flatFlag = 0;
  std::array<std::int32_t, kEqBandCount> freqHz{};
  std::array<float, kEqBandCount> gainDb{};
  std::array<float, kEqBandCount> savedGainDb{};
  std::array<float, kEqBandCount> q{};
};

// The bands a machine gets when no file exists (flat flag and saved gains are not part of them).
struct EqBandDefaults {
  std::array<std::int32_t, kEqBandCount> freqHz{32,   64,   128,  250,  500,
                                                1000, 2000, 4000, 8000, 16000};
  std::array<float, kEqBandCount> q{3.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.5f, 3.0f};
};
inline constexpr EqBandDefaults kEqDefaults{};

// A record holding the default bands, 0 dB, flat off and an empty stash.
EqRecord DefaultEqRecord();

// Gains within ±0.1 dB are stored as exact zeros (the float is compared with the double bounds).
float ZeroSmallGain(float gainDb);

// The 180 bytes of a record, with the small gains zeroed.
std::array<std::uint8_t, kEqRecordSize> EncodeEqRecord(const EqRecord& record);

// Reads the record from the first 180 bytes of any byte string. A short string supplies only the
// values it holds completely; the others are the defaults (saved gains 0). Non-finite numbers
// (which no writer produces) are replaced by the default of their field.
EqRecord DecodeEqRecord(std::span<const std::uint8_t> bytes);

// Whether an identifier can name a file in the data directory: letters and digits only, so that
// a damaged list entry can never reach outside it.
bool IsPlainIdentifier(std::string_view id);

// File names in the data directory: ID + ".dat" and ID + "_" + N + ".dat" (N decimal, no zeros).
std::filesystem::path LastEditEqPath(const std::filesystem::path& dataDir, std::string_view id);
std::filesystem::path PresetEqPath(const std::filesystem::path& dataDir, std::string_view id,
                                   int location);

// WrongSize: the file exists but does not hold exactly one record (a write cut short by a full
// disk leaves zero bytes); it is never taken as valid.
enum class EqFileResult { Ok, Missing, Error, WrongSize };

struct EqReadOutcome {
  EqFileResult result = EqFileResult::Missing;
  EqRecord record{};
  std::string error;  // Error: the file and the reason
};

// Reads the record; a file of any other size than 180 bytes is WrongSize, its bytes unused.
EqReadOutcome ReadEqFile(const std::filesystem::path& path);
// Writes durably (files::WriteWholeFile), so that a failure never leaves half a record. False
// when any step failed (the old file is untouched); error then names the file and the reason.
bool WriteEqFile(const std::filesystem::path& path, const EqRecord& record, std::string& error);
bool WriteEqFile(const std::filesystem::path& path, const EqRecord& record);

// What the two kinds of file mean, and so where the bands asked for come from:
// - the last-edit file (ID.dat) holds the bands the machine runs, as far as it acknowledged them:
//   written when the editor leaves or closes the machine, after a recall, and for the machines
//   " Copy to All" wrote;
// - a preset file (ID_N.dat) holds what user preset location N of the machine holds: written only
//   when the bands were stored there.
// Running (opening the editor): the last-edit file, else the preset file of the location the
// machine reports, else the defaults. Location (after a recall of N): the preset file, else the
// defaults (a location never stored from here holds what the machine came with: flat bands).
// An identifier that is not plain is an error. A file of the wrong size counts as missing and is
// moved aside as NAME.bad, so that no later save overwrites it unseen.
enum class EqWanted { Running, Location };
enum class EqSource { PresetFile, LastEditFile, Defaults };
struct EqLookup {
  EqSource source = EqSource::Defaults;
  EqFileResult result = EqFileResult::Missing;  // Error: a file existed but could not be read
  EqRecord record{};
  std::vector<std::string> problems;  // files set aside (or that could not be), one line each
};
EqLookup LookupMachineEq(const std::filesystem::path& dataDir, std::string_view id,
                         std::optional<int> location, EqWanted wanted = EqWanted::Location);

// The refresh gives a machine that has no last-edit file a copy of the template file, when the
// template exists. The copy is written durably and never replaces a file; a last-edit file or a
// template of the wrong size is moved aside as NAME.bad and counts as missing.
struct SeedOutcome {
  bool copied = false;
  std::vector<std::string> problems;  // files set aside, a copy that failed: one line each
};
SeedOutcome SeedLastEditFromTemplate(const std::filesystem::path& dataDir,
                                     const std::filesystem::path& templateDir, std::string_view id);

}  // namespace qubix::network
