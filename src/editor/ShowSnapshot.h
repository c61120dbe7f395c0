// A machine's settings as the editor shows them, in the operator's units, and a show file of
// every machine on a bus: taken by opening each machine as the editor opens it, restored by
// driving the editor's own operations (so that every change puts the editor's frames on the
// wire), then read back and compared. Changes of a few values (the service's PATCH) go the
// same way.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "editor/HeadlessEditor.h"
#include "network/HardwarePreset.h"
#include "protocol/Outcome.h"

namespace qubix::editor {

struct BandValues {
  double frequency = 1000.0;
  double gain = 0.0;
  double q = 1.0;
  friend bool operator==(const BandValues&, const BandValues&) = default;
};

struct MachineValues {
  std::string id;
  int slot = 0;  // 1 … 8
  int hardwarePreset = 0;
  std::string userPreset;
  std::array<double, 2> inputGainDb{};    // A, B
  std::array<double, 2> attenuationDb{};  // Ch1/Ch2, Ch3/Ch4
  std::array<int, 2> delay{};             // Ch1/Ch2, Ch3/Ch4
  std::array<bool, 4> mute{};
  double ampLevelDb = 0.0;
  bool flat = false;
  std::array<BandValues, kBandCount> bands{};
};

// What a change sets; every field left empty stays as it is.
struct BandChange {
  std::optional<double> frequency, gain, q;
  bool any() const { return frequency || gain || q; }
};
struct MachineChange {
  std::array<std::optional<double>, 2> inputGainDb;
  std::array<std::optional<double>, 2> attenuationDb;
  std::array<std::optional<int>, 2> delay;
  std::array<std::optional<bool>, 4> mute;
  std::optional<double> ampLevelDb;
  std::optional<bool> flat;
  std::array<BandChange, kBandCount> bands;
};

// The ranges the editor's controls take; step 0: any value in the range.
struct Limit {
  double min, max, step;
  bool contains(double v) const;
};
inline constexpr Limit kInputGainLimit{kGainUpDownMin * 0.5, kGainUpDownMax * 0.5, 0.5};
inline constexpr Limit kAttenuationLimit{-kKnobMax * 0.5, 0.0, 0.5};
inline constexpr Limit kDelayLimit{0, kDelayMax, 1};
inline constexpr Limit kAmpLevelLimit{-127.5, 0.0, 0.5};
inline constexpr Limit kBandFreqLimit{filters::kBandFreqMinHz, filters::kBandFreqMaxHz, 0};
inline constexpr Limit kBandGainLimit{-filters::kBandGainMaxDb, filters::kBandGainMaxDb, 0};
// The strip's Q limits are floats (0.2F is 0.200000003): the limit is the decimal they are
// written as, so that the value an operator types for the end of the range is within it.
inline constexpr Limit kBandQLimit{0.2, 50.0, 0};
static_assert(static_cast<float>(kBandQLimit.min) == filters::kBandQMin &&
              static_cast<float>(kBandQLimit.max) == filters::kBandQMax);

// A band's frequency as the editor records it when the processor acknowledged the band (whole
// Hz, truncated towards zero). A change takes it so before anything is sent, so that the
// processor runs what the last-edit file keeps.
inline double RecordedFrequency(double hz) { return std::trunc(hz); }

// What the editor shows of the machine it holds (the slot's hardware preset from its record).
MachineValues ReadMachineValues(HeadlessEditor& editor, network::NetworkManager& net);

// The machine in slot (0 … 7) held by the editor: opened as a click on its slot opens it,
// unless the editor holds it already and fresh is false.
protocol::Outcome HoldMachine(HeadlessEditor& editor, int slot, bool fresh);

struct ChangeResult {
  protocol::Outcome outcome;
  // Field names as the service reports them ("inputGain.a", "mute.3", "bands.4"), in the order
  // they went out; after the first failure nothing more is sent.
  std::vector<std::string> applied, notApplied;
};
// Sends the change through the editor's operations in a fixed order: input gains A, B,
// attenuations, delays, amplifier level, mutes, "Flat", then each changed band once (its three
// values taken quietly, then one band write as one move of a strip sends it). Values must be
// within the limits above (the caller refuses others).
ChangeResult ApplyMachineChange(HeadlessEditor& editor, const MachineChange& change);

// Everything of target as a change (the flat state only when it differs).
MachineChange FullChange(const MachineValues& target);
// One line per value that differs ("bands.3.gain: 6 wanted, 0 read").
std::vector<std::string> Differences(const MachineValues& want, const MachineValues& got);

using ShowSnapshot = std::vector<MachineValues>;

struct SnapshotTake {
  ShowSnapshot machines;
  protocol::Outcome outcome;
};
// Every listed machine, opened one after the other.
SnapshotTake TakeShowSnapshot(HeadlessEditor& editor, network::NetworkManager& net);

struct RestoreReport {
  protocol::Outcome outcome;
  std::vector<std::string> applied, notApplied;  // "0001: inputGain.a", ...
  std::vector<std::string> differences;          // after reading every machine back
};
// For each machine of the snapshot found on the bus: its hardware preset when it differs, then
// its values; afterwards every machine is opened again and compared. A machine that is not on
// the bus or fails is reported (the outcome names the first) and the others are restored all
// the same, unless the adapter was lost. progress(done, total).
RestoreReport RestoreShowSnapshot(HeadlessEditor& editor, network::HardwarePresets& presets,
                                  network::NetworkManager& net, const ShowSnapshot& show,
                                  const std::function<void(int, int)>& progress = {});

// The slot (0 … 7) of a machine with this identifier, or −1.
int SlotOfMachine(const network::NetworkManager& net, const std::string& id);

// A float of a strip as a short decimal (1.4f reads 1.4, not 1.39999997).
double Tidy(float value);

}  // namespace qubix::editor
