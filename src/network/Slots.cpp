#include "network/Slots.h"

#include <algorithm>
#include <system_error>

#include "network/NetworkTexts.h"
#include "protocol/Hex.h"

namespace qubix::network {

HardwarePresetNames DefaultHardwarePresetNames() {
  return {"TQ40+TQS2412 A Flw", "TQ40+TQS2412 A Stk", "TQ40+TQ40 A&&B",     "TQ40 4Ch in A",
          "TQS2412 x2 in A",    "4Ch Mono in A",      "4Ch Stereo in A&&B", "Extra Preset   "};
}

UserPresetNames DefaultUserPresetNames() {
  UserPresetNames names;
  for (int i = 0; i < kUserPresetCount; ++i)
    names[static_cast<std::size_t>(i)] = std::string(texts::kUserConfig) + std::to_string(i);
  return names;
}

std::string CaptionText(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    out.push_back(name[i]);
    if (name[i] == '&' && i + 1 < name.size() && name[i + 1] == '&') ++i;
  }
  return out;
}

std::string HardwarePresetName(const HardwarePresetNames& names, int index) {
  if (index < 0 || index >= kHardwarePresetCount) return std::string(texts::kUnknownPreset);
  return names[static_cast<std::size_t>(index)];
}

std::string UserPresetName(const UserPresetNames& names, int index) {
  if (index < 0 || index >= kUserPresetCount) return std::string(texts::kUnknownPreset);
  return names[static_cast<std::size_t>(index)];
}

std::string SlotSelectFrame(std::string_view identifier) {
  std::string id(identifier.substr(0, kIdentifierLength));
  id.resize(kIdentifierLength, '0');
  auto pair = [&](std::size_t at) {
    return protocol::HexPairToByte(id[at], id[at + 1]).value_or(0);
  };
  // Digits 9–10 and 11–12 of the identifier (after the "H").
  const int check = -(1 + pair(9) + pair(11));
  return std::string(identifier.substr(0, kIdentifierLength)) + protocol::ByteToHex(check);
}

std::filesystem::path ExtraPresetPicturePath(const std::filesystem::path& dataDir,
                                             std::string_view extraPresetName) {
  std::string name(extraPresetName);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  // The name comes from the machine: one that could name a file outside the presets folder (a
  // separator, "..", a control character such as NUL) names no picture, and the slot then shows
  // the fallback picture as for a missing file.
  const bool unsafe =
      name.find("..") != std::string::npos || std::any_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
      });
  if (unsafe) return {};
  return dataDir / texts::kPresetsFolder / (name + ".jpg");
}

int WindowHeightForSlot(int k) {
  static constexpr std::array<int, kSlotCount> kHeights{300, 300, 450, 450, 600, 600, 740, 740};
  if (k < 0) return kHeights.front();
  if (k >= kSlotCount) return kHeights.back();
  return kHeights[static_cast<std::size_t>(k)];
}

SlotDisplay ComputeSlotDisplay(int k, const SlotState& slot, const HardwarePresetNames& hwNames,
                               const UserPresetNames& userNames,
                               const std::filesystem::path& dataDir) {
  SlotDisplay d;
  d.identifier = slot.identifier;
  d.windowHeight = WindowHeightForSlot(k);
  if (slot.recordUnknown) {
    d.hardwarePreset = std::string(texts::kUnknownPreset);
    d.userPreset = std::string(texts::kUnknownPreset);
    return d;
  }
  d.userPreset = UserPresetName(userNames, slot.record.userPreset);
  const int preset = slot.record.hardwarePreset;
  if (preset >= 0 && preset < kExtraPreset) {
    d.hardwarePreset = CaptionText(hwNames[static_cast<std::size_t>(preset)]);
    d.picture = dataDir / ("Controller0" + std::to_string(preset) + ".jpg");
  } else if (preset == kExtraPreset) {
    d.hardwarePreset = slot.extraPresetName;
    std::error_code ec;
    if (!slot.extraPresetPicture.empty() && std::filesystem::exists(slot.extraPresetPicture, ec)) {
      d.picture = slot.extraPresetPicture;
    } else {
      d.picture = dataDir / (slot.extraPresetName == texts::kIdlePreset ? texts::kNoExtraPicture
                                                                        : texts::kExtraPicture);
    }
  } else {
    d.hardwarePreset = std::string(texts::kUnknownPreset);
  }
  return d;
}

}  // namespace qubix::network
