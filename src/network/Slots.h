// The per-slot state of the eight machine slots, the preset name tables and the slot display
// rule: which texts and which picture a slot shows for what its machine last reported.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "network/MachineList.h"
#include "protocol/Bus.h"

namespace qubix::network {

inline constexpr int kHardwarePresetCount = 8;
inline constexpr int kUserPresetCount = 10;
inline constexpr int kExtraPreset = 7;
// The Extra preset's name: as a processor reports it, and as the upload's first bytes carry it.
inline constexpr std::size_t kExtraNameLength = protocol::kTextLength;

// A machine's state as last read; a value whose read fails keeps its previous content.
struct SlotRecord {
  std::int32_t gainA = 0;
  std::int32_t gainB = 0;
  float outAttn12 = 0.0f;
  float outAttn34 = 0.0f;
  std::int32_t delay12 = 0;
  std::int32_t delay34 = 0;
  std::int32_t userPreset = 0;
  std::int32_t hardwarePreset = 0;
  std::array<std::uint8_t, 4> muted{};
  std::int32_t ampLevel = 0;
};

// The first parameter of a slot's reading that failed, and why.
struct SlotReadFailure {
  int parameter = 0;
  protocol::Bus::ReadFailure why = protocol::Bus::ReadFailure::NoReply;
};

// Reads the eight values a slot shows, in the order the processor is asked for them, into any
// record with those fields (the slot record, the editor's copy); a failed read keeps the field.
// Returns the first read that failed, with the reason it failed then (later reads may fail
// otherwise).
template <class Record>
std::optional<SlotReadFailure> ReadSlotParameters(protocol::Bus& bus, Record& r) {
  std::optional<SlotReadFailure> failed;
  const auto read = [&](int number, auto& field) {
    if (bus.ReadParameter(number))
      field = static_cast<std::remove_reference_t<decltype(field)>>(bus.ParameterValue);
    else if (!failed)
      failed = SlotReadFailure{number, bus.lastReadFailure};
  };
  read(protocol::param::kHardwarePreset, r.hardwarePreset);
  read(protocol::param::kUserPreset, r.userPreset);
  read(protocol::param::kOutAttn12, r.outAttn12);
  read(protocol::param::kOutAttn34, r.outAttn34);
  read(protocol::param::kGainA, r.gainA);
  read(protocol::param::kGainB, r.gainB);
  read(protocol::param::kDelay12, r.delay12);
  read(protocol::param::kDelay34, r.delay34);
  return failed;
}

struct SlotState {
  std::string identifier;
  std::string selectFrame;
  std::string extraPresetName;
  std::string extraPresetPicture;
  SlotRecord record;
  // The machine the record was last read from in full.
  std::string recordIdentifier;
  // What the machine holds is not known (never read, or a change it did not confirm): the slot
  // says so instead of showing the record.
  bool recordUnknown = false;
};

using HardwarePresetNames = std::array<std::string, kHardwarePresetCount>;
using UserPresetNames = std::array<std::string, kUserPresetCount>;

HardwarePresetNames DefaultHardwarePresetNames();
UserPresetNames DefaultUserPresetNames();  // "User Config 0" … "User Config 9"

// A name as a caption shows it: "&&" stands for one ampersand.
std::string CaptionText(std::string_view name);
// The name of index, or "Unknown" outside the table.
std::string HardwarePresetName(const HardwarePresetNames& names, int index);
std::string UserPresetName(const UserPresetNames& names, int index);

// The select frame of an identifier: its 13 characters and a check byte from the last two
// identifier bytes only, (−(1 + b5 + b6)) mod 256. Non-hex characters count 0.
std::string SlotSelectFrame(std::string_view identifier);
// The Extra preset's own picture: presets/ + name without trailing blanks + ".jpg"; empty (no
// picture of its own) for a name that could reach outside that folder.
std::filesystem::path ExtraPresetPicturePath(const std::filesystem::path& dataDir,
                                             std::string_view extraPresetName);

// The main window's height with slot k (0 … 7) as the last slot in use.
int WindowHeightForSlot(int k);

struct SlotDisplay {
  std::string identifier;
  std::string hardwarePreset;  // as the caption shows it
  std::string userPreset;
  // The picture to load; empty: the control keeps the picture it holds.
  std::optional<std::filesystem::path> picture;
  int windowHeight = 300;
};

SlotDisplay ComputeSlotDisplay(int k, const SlotState& slot, const HardwarePresetNames& hwNames,
                               const UserPresetNames& userNames,
                               const std::filesystem::path& dataDir);

}  // namespace qubix::network
