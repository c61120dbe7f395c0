// The editor's values that the operator can change, taken at one moment and put back later
// through the same operations the controls use, so that the processor receives the frames it
// would for the operator's own change. The window's undo history keeps these; any other caller
// of the core (a remote client's "back to how it was") can do the same.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "editor/EditorState.h"

namespace qubix::editor {

struct EditorValues {
  struct Band {
    float freqHz = 0, gainDb = 0, q = 0;
    bool operator==(const Band&) const = default;
  };
  std::array<Band, kBandCount> bands{};
  std::array<std::string, 2> gainText;
  std::array<int, 2> knobPosition{};
  std::array<int, 2> delay{};
  std::array<bool, 4> muted{};
  std::int32_t ampLevelCode = protocol::codes::kLevelZeroDb;
  bool flat = false;
  std::array<double, kBandCount> flatGainStash{};
  bool operator==(const EditorValues&) const = default;

  static EditorValues Of(EditorState& state);
};

// How the values go back: each change through its control's operation, or first as a user
// preset load sends them (for a step that recalled or loaded a preset).
enum class RestoreWay { Controls, AsPresetLoad };

// Brings the editor and the processor to `target`. The amplifier level goes first, so that the
// channel levels the mutes send carry it.
void RestoreEditorValues(EditorState& state, const EditorValues& target, RestoreWay way);

}  // namespace qubix::editor
