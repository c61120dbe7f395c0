#include "editor/MachineSelection.h"

#include "network/Slots.h"

namespace qubix::editor {

bool MachineSelection::AdapterAnswers() { return commands_.bus().link().QueryDeviceInfo(); }

bool MachineSelection::ReleaseHeld(const std::function<void()>& beforeRelease) {
  protocol::Bus& bus = commands_.bus();
  if (!bus.MachineSelected) return true;
  commands_.EndAccess();
  if (beforeRelease) beforeRelease();
  bus.ReleaseMachine();
  return !bus.MachineSelected;
}

bool MachineSelection::Select(const std::string& selectFrame) {
  protocol::Bus& bus = commands_.bus();
  bus.SendPreamble();
  bus.link().DrainInput();
  watch_.emplace(bus);
  return bus.SelectExchange(selectFrame);
}

bool MachineSelection::ReadShown(EditorSlotValues& values) {
  protocol::Bus& bus = commands_.bus();
  commands_.BeginAccess();
  commands_.liveBand().mirror = true;
  bus.link().DrainInput();
  network::ReadSlotParameters(bus, values);
  for (int c = 0; c < 4; ++c) {
    if (bus.ReadParameter(protocol::param::kFirstChannelOn + c))
      values.muted[static_cast<std::size_t>(c)] = bus.ParameterValue == 0;
  }
  if (bus.ReadParameter(protocol::param::kAmpLevel)) values.ampLevel = bus.ParameterValue;
  return !watch_ || watch_->clean();
}

protocol::Outcome MachineSelection::faults() const {
  return watch_ ? watch_->outcome() : protocol::Outcome::Done();
}

}  // namespace qubix::editor
