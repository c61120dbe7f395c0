#include "network/EqFile.h"

#include <bit>
#include <cmath>
#include <system_error>

#include "files/DurableFile.h"
#include "files/LittleEndian.h"
#include "files/RegularFile.h"

namespace qubix::network {
namespace {

constexpr std::size_t kFreqOffset = 4;
constexpr std::size_t kGainOffset = 44;
constexpr std::size_t kSavedOffset = 84;
constexpr std::size_t kQOffset = 124;

// Reads value i of a ten-value array at `offset` when the bytes hold it completely.
std::optional<std::uint32_t> Word(std::span<const std::uint8_t> bytes, std::size_t offset, int i) {
  const std::size_t at = offset + 4 * static_cast<std::size_t>(i);
  if (at + 4 > bytes.size()) return std::nullopt;
  return files::GetLe32(bytes.data() + at);
}

float FiniteOr(std::optional<std::uint32_t> word, float fallback) {
  if (!word) return fallback;
  const float v = std::bit_cast<float>(*word);
  return std::isfinite(v) ? v : fallback;
}

std::string NameOf(std::string_view id, std::string_view suffix) {
  std::string name(id);
  name += suffix;
  return name;
}

// Reads a settings file; one of the wrong size is moved aside (noted in problems) and then
// counts as missing.
EqReadOutcome ReadOrSetAside(const std::filesystem::path& path,
                             std::vector<std::string>& problems) {
  EqReadOutcome outcome = ReadEqFile(path);
  if (outcome.result == EqFileResult::Error && !outcome.error.empty())
    problems.push_back(outcome.error);
  if (outcome.result != EqFileResult::WrongSize) return outcome;
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  const std::string held =
      ec ? std::string("is not a settings file")
         : "held " + std::to_string(size) + " bytes, not " + std::to_string(kEqRecordSize);
  std::string error;
  if (const auto aside = files::SetAside(path, error)) {
    problems.push_back(path.string() + " " + held + "; kept as " + aside->string());
    outcome.result = EqFileResult::Missing;
  } else {
    problems.push_back(path.string() + " " + held + "; " + error);
    outcome.result = EqFileResult::Error;
  }
  return outcome;
}

}  // namespace

EqRecord DefaultEqRecord() {
  EqRecord r;
  r.freqHz = kEqDefaults.freqHz;
  r.q = kEqDefaults.q;
  return r;
}

float ZeroSmallGain(float gainDb) {
  const double v = gainDb;
  return (v >= -0.1 && v <= 0.1) ? 0.0f : gainDb;
}

std::array<std::uint8_t, kEqRecordSize> EncodeEqRecord(const EqRecord& record) {
  std::array<std::uint8_t, kEqRecordSize> out{};
  out[0] = record.flatFlag;
  for (int i = 0; i < kEqBandCount; ++i) {
    const auto at = 4 * static_cast<std::size_t>(i);
    files::PutLe32(out.data() + kFreqOffset + at, static_cast<std::uint32_t>(record.freqHz[i]));
    files::PutLe32(out.data() + kGainOffset + at,
                   std::bit_cast<std::uint32_t>(ZeroSmallGain(record.gainDb[i])));
    files::PutLe32(out.data() + kSavedOffset + at,
                   std::bit_cast<std::uint32_t>(ZeroSmallGain(record.savedGainDb[i])));
    files::PutLe32(out.data() + kQOffset + at, std::bit_cast<std::uint32_t>(record.q[i]));
  }
  return out;
}

EqRecord DecodeEqRecord(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kEqRecordSize) bytes = bytes.first(kEqRecordSize);
  EqRecord r = DefaultEqRecord();
  if (!bytes.empty()) r.flatFlag = bytes[0];
  for (int i = 0; i < kEqBandCount; ++i) {
    if (auto w = Word(bytes, kFreqOffset, i)) r.freqHz[i] = static_cast<std::int32_t>(*w);
    r.gainDb[i] = FiniteOr(Word(bytes, kGainOffset, i), 0.0f);
    r.savedGainDb[i] = FiniteOr(Word(bytes, kSavedOffset, i), 0.0f);
    r.q[i] = FiniteOr(Word(bytes, kQOffset, i), kEqDefaults.q[i]);
  }
  return r;
}

bool IsPlainIdentifier(std::string_view id) {
  if (id.empty()) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  return true;
}

std::filesystem::path LastEditEqPath(const std::filesystem::path& dataDir, std::string_view id) {
  return dataDir / NameOf(id, ".dat");
}

std::filesystem::path PresetEqPath(const std::filesystem::path& dataDir, std::string_view id,
                                   int location) {
  return dataDir / NameOf(id, "_" + std::to_string(location) + ".dat");
}

EqReadOutcome ReadEqFile(const std::filesystem::path& path) {
  EqReadOutcome outcome;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    outcome.result = ec ? EqFileResult::Error : EqFileResult::Missing;
    return outcome;
  }
  std::string bytes;
  // One byte more than a record tells a longer file from an exact one.
  if (!files::ReadFilePrefix(path, kEqRecordSize + 1, bytes, &outcome.error)) {
    outcome.result = EqFileResult::Error;
    return outcome;
  }
  if (bytes.size() != kEqRecordSize) {
    outcome.result = EqFileResult::WrongSize;
    return outcome;
  }
  outcome.record =
      DecodeEqRecord(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  outcome.result = EqFileResult::Ok;
  return outcome;
}

bool WriteEqFile(const std::filesystem::path& path, const EqRecord& record, std::string& error) {
  return files::ReplaceFile(path, EncodeEqRecord(record), error);
}

bool WriteEqFile(const std::filesystem::path& path, const EqRecord& record) {
  std::string error;
  return WriteEqFile(path, record, error);
}

EqLookup LookupMachineEq(const std::filesystem::path& dataDir, std::string_view id,
                         std::optional<int> location, EqWanted wanted) {
  EqLookup lookup;
  if (!IsPlainIdentifier(id)) {
    lookup.result = EqFileResult::Error;
    return lookup;
  }
  // Takes the file when it exists (read or not): true when the lookup is decided.
  const auto take = [&](const std::filesystem::path& path, EqSource source) {
    auto read = ReadOrSetAside(path, lookup.problems);
    if (read.result == EqFileResult::Missing) return false;
    lookup.source = source;
    lookup.result = read.result;
    lookup.record = read.record;
    return true;
  };
  if (wanted == EqWanted::Running && take(LastEditEqPath(dataDir, id), EqSource::LastEditFile))
    return lookup;
  if (location && take(PresetEqPath(dataDir, id, *location), EqSource::PresetFile)) return lookup;
  lookup.source = EqSource::Defaults;
  lookup.result = EqFileResult::Ok;
  lookup.record = DefaultEqRecord();
  return lookup;
}

SeedOutcome SeedLastEditFromTemplate(const std::filesystem::path& dataDir,
                                     const std::filesystem::path& templateDir,
                                     std::string_view id) {
  SeedOutcome outcome;
  if (!IsPlainIdentifier(id)) return outcome;
  const auto target = LastEditEqPath(dataDir, id);
  const auto source = LastEditEqPath(templateDir, kEqTemplateId);
  if (ReadOrSetAside(target, outcome.problems).result != EqFileResult::Missing) return outcome;
  const EqReadOutcome templ = ReadOrSetAside(source, outcome.problems);
  if (templ.result != EqFileResult::Ok) return outcome;
  // The template's own bytes, not a re-encoding: the copy is the file the operator prepared.
  std::string bytes;
  if (!files::ReadFilePrefix(source, kEqRecordSize, bytes) || bytes.size() != kEqRecordSize) {
    outcome.problems.push_back("cannot read " + source.string());
    return outcome;
  }
  std::string error;
  switch (files::WriteWholeFile(
      target, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), error,
      files::Existing::Keep)) {
    case files::WriteResult::Written:
      outcome.copied = true;
      break;
    case files::WriteResult::AlreadyExists:
      break;
    case files::WriteResult::Failed:
      outcome.problems.push_back(error);
      break;
  }
  return outcome;
}

}  // namespace qubix::network
