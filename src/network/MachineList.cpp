#include "network/MachineList.h"

#include <algorithm>
#include <system_error>

namespace qubix::network {

std::string MachineList::entry(int index) const {
  if (index < 0 || index >= kListEntries) return {};
  const auto& e = entries[static_cast<std::size_t>(index)];
  return std::string(e.data(), e.size());
}

void MachineList::setEntry(int index, std::string_view identifier) {
  if (index < 0 || index >= kListEntries) return;
  auto& e = entries[static_cast<std::size_t>(index)];
  e.fill('\0');
  std::copy_n(identifier.begin(), std::min(identifier.size(), e.size()), e.begin());
}

std::array<std::uint8_t, kMachineListFileSize> EncodeMachineList(const MachineList& list) {
  std::array<std::uint8_t, kMachineListFileSize> image{};
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    std::copy(list.entries[i].begin(), list.entries[i].end(),
              image.begin() + static_cast<std::ptrdiff_t>(i * kIdentifierLength));
  }
  const auto count = static_cast<std::uint16_t>(list.count);
  image[kCountOffset] = static_cast<std::uint8_t>(count & 0xff);
  image[kCountOffset + 1] = static_cast<std::uint8_t>(count >> 8);
  return image;
}

void DecodeMachineList(std::span<const std::uint8_t> bytes, MachineList& list) {
  auto image = EncodeMachineList(list);
  std::copy_n(bytes.begin(), std::min(bytes.size(), image.size()), image.begin());
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(i * kIdentifierLength),
                kIdentifierLength, list.entries[i].begin());
  }
  list.count = static_cast<std::int16_t>(
      static_cast<std::uint16_t>(image[kCountOffset] | (image[kCountOffset + 1] << 8)));
}

ReadResult ReadMachineListFile(const std::filesystem::path& path, MachineList& list,
                               std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return ReadResult::Missing;
  std::string bytes;
  if (!ReadWholeFile(path, kMachineListFileSize, bytes, error)) return ReadResult::Failed;
  MachineList read = list;
  DecodeMachineList(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                    read);
  if (!read.countValid()) return ReadResult::DamagedCount;
  list = read;
  return ReadResult::Ok;
}

bool WriteMachineListFile(const std::filesystem::path& path, const MachineList& list,
                          std::string& error) {
  const auto image = EncodeMachineList(list);
  return files::ReplaceFile(path, image, error);
}

}  // namespace qubix::network
