// The frames that take a machine for the editor and give it back: leaving the machine held
// (end of access, release), the "e", "R" preamble, the selection, the start of access and the
// read of what the editor shows (the slot's parameters, the four channel mutes, the amplifier
// level). EditorState keeps the bookkeeping around them (whose bands are stored when, what the
// window shows); this class only talks to the bus.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "editor/EditorHost.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "protocol/Outcome.h"

namespace qubix::editor {

class MachineSelection {
 public:
  explicit MachineSelection(protocol::Commands& commands) : commands_(commands) {}

  // The adapter answers its device query: without it no machine can be reached.
  bool AdapterAnswers();
  // Leaves the machine held (if any): access ends, beforeRelease runs (the editor stores its
  // bands there), the machine is released. False when it stays selected.
  bool ReleaseHeld(const std::function<void()>& beforeRelease = {});
  // The preamble and the selection exchange; what went wrong from here on is in faults().
  bool Select(const std::string& selectFrame);
  // After Select: access starts and what the editor shows is read into values (left as they
  // were where a read failed). False when anything since Select failed.
  bool ReadShown(EditorSlotValues& values);
  // Done, or the first fault since Select began.
  protocol::Outcome faults() const;

 private:
  protocol::Commands& commands_;
  std::optional<protocol::FaultWatch> watch_;
};

}  // namespace qubix::editor
