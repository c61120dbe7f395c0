// The machine list: ten 13-character identifiers and a count, and its 132-byte file image
// "maclist.dat" (entries at offsets 0, 13, …, 117, the signed 16-bit count at 130, little-endian,
// no header). The file is the authority between refreshes.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "files/DurableFile.h"
#include "files/RegularFile.h"

namespace qubix::network {

inline constexpr std::size_t kIdentifierLength = 13;
inline constexpr int kListEntries = 10;
inline constexpr int kSlotCount = 8;
inline constexpr std::size_t kMachineListFileSize = 132;
inline constexpr std::size_t kCountOffset = 130;
inline constexpr std::string_view kMachineListFile = "maclist.dat";

using MachineId = std::array<char, kIdentifierLength>;

struct MachineList {
  std::array<MachineId, kListEntries> entries{};
  std::int16_t count = 0;

  // Whether count lies in 0 … 10; a file with any other count is damaged.
  bool countValid() const { return count >= 0 && count <= kListEntries; }
  // The entry's 13 bytes as text (zero bytes included, as stored).
  std::string entry(int index) const;
  void setEntry(int index, std::string_view identifier);  // first 13 characters, zero-padded
};

std::array<std::uint8_t, kMachineListFileSize> EncodeMachineList(const MachineList& list);
// Copies at most 132 bytes over the list's image; a shorter input leaves the rest as it was.
void DecodeMachineList(std::span<const std::uint8_t> bytes, MachineList& list);

enum class ReadResult { Ok, Missing, Failed, DamagedCount };
// Failed: error (when given) names the file and the reason.
ReadResult ReadMachineListFile(const std::filesystem::path& path, MachineList& list,
                               std::string* error = nullptr);

// Writes the whole image durably (files::WriteWholeFile), so that a failure at any point leaves
// the previous file as it was; error names the file and the reason.
bool WriteMachineListFile(const std::filesystem::path& path, const MachineList& list,
                          std::string& error);

// Reads at most limit bytes from the start of a file (the readers of this folder).
inline bool ReadWholeFile(const std::filesystem::path& path, std::size_t limit, std::string& bytes,
                          std::string* error = nullptr) {
  return files::ReadFilePrefix(path, limit, bytes, error);
}

}  // namespace qubix::network
