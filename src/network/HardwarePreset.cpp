#include "network/HardwarePreset.h"

#include <cmath>

#include "protocol/Hex.h"

namespace qubix::network {

namespace {
constexpr double kTickMs = 100.0;
}  // namespace

std::string HardwarePresetFrame(int preset) { return protocol::ByteCommand('r', preset); }

void TickCounter::start() {
  if (running_) return;
  running_ = true;
  if (nowMs_) countedFromMs_ = nowMs_() - count_ * kTickMs;
  if (view_) view_->runTickTimer(true);
}

void TickCounter::stop() {
  if (!running_) return;
  count_ = ticks();
  running_ = false;
  if (view_) view_->runTickTimer(false);
}

void TickCounter::reset() {
  count_ = 0;
  if (nowMs_) countedFromMs_ = nowMs_();
}

void TickCounter::Tick() {
  if (running_) ++count_;
}

int TickCounter::ticks() const {
  if (!running_ || !nowMs_) return count_;
  return static_cast<int>(std::floor((nowMs_() - countedFromMs_) / kTickMs));
}

HardwarePresets::HardwarePresets(link::Link& link, protocol::Bus& bus, protocol::Commands& commands,
                                 link::Frontend& frontend, NetworkManager& network,
                                 TickCounter& ticks)
    : link_(link),
      bus_(bus),
      commands_(commands),
      frontend_(frontend),
      network_(network),
      ticks_(ticks) {}

HardwarePresets::Selection HardwarePresets::selectSlotMachine(int slot) {
  // The editor's machine may be another one than the slot's: it must never get the slot's
  // change or upload.
  if (bus_.MachineSelected && editor_ && !editor_->leaveMachineOtherThan(slot))
    return {false, false};
  if (bus_.MachineSelected) return {true, false};
  // No "e", "R" preamble here: nothing is selected, so nothing needs releasing.
  if (!bus_.SelectExchange(network_.slotAt(slot).selectFrame)) return {false, false};
  commands_.BeginAccess();
  return {true, true};
}

void HardwarePresets::settleAfterFaults() {
  // Without a failed exchange nothing can be on its way, and a drain would cost a whole read
  // time-out before every change and upload.
  if (bus_.faultCount() == faultsWhenQuiet_) return;
  link_.DrainInput();
  faultsWhenQuiet_ = bus_.faultCount();
}

void HardwarePresets::endAccessAndRelease() {
  commands_.EndAccess();
  bus_.ReleaseMachine();
}

SlotDisplay HardwarePresets::displayOf(int slot) const {
  return ComputeSlotDisplay(slot, network_.slotAt(slot), network_.hardwarePresetNames(),
                            network_.userPresetNames(), network_.dataDir());
}

PresetChangeOutcome HardwarePresets::ChangeHardwarePreset(int slot) {
  if (slot < 0 || slot >= kSlotCount) return PresetChangeOutcome::Closed;
  presetSlot = slot;
  const int result = view_->askHardwarePreset(slot);
  if (result < 1 || result > kHardwarePresetCount) return PresetChangeOutcome::Closed;
  return ApplyHardwarePreset(slot, result - 1);
}

PresetChangeOutcome HardwarePresets::ApplyHardwarePreset(int slot, int preset) {
  const PresetChangeOutcome outcome = applyHardwarePreset(slot, preset);
  if (editor_) editor_->resumeAfterRelease();
  // Said last, so that nothing the editor sends on taking its machine back hides it.
  if (outcome == PresetChangeOutcome::ExchangeFailed) {
    frontend_.setStatusColour(link::kRed);
    frontend_.setStatusText(link::texts::kCommError);
    frontend_.setStatusDetail(bus_.faultSince(faultMark_));
  }
  if (outcome == PresetChangeOutcome::NotConfirmed) {
    frontend_.setStatusColour(link::kRed);
    frontend_.setStatusText(texts::kNotConfirmed);
    frontend_.setStatusDetail("hardware preset " + std::to_string(preset) + " was sent to " +
                              network_.slotAt(slot).identifier + " but could not be read back");
  }
  return outcome;
}

PresetChangeOutcome HardwarePresets::applyHardwarePreset(int slot, int preset) {
  if (slot < 0 || slot >= kSlotCount || preset < 0 || preset >= kHardwarePresetCount)
    return PresetChangeOutcome::Closed;
  SlotState& state = network_.slotAt(slot);
  view_->showWaiting(slot);
  frontend_.processEvents();

  // A change that ends early gives the slot its look back and leaves the link as it found it:
  // standard time-out, and a machine it selected itself released again.
  const auto endEarly = [&](PresetChangeOutcome outcome, bool selectedHere) {
    link_.SetReadTimeout(link::kStandardTimeoutMs);
    if (selectedHere) endAccessAndRelease();
    view_->stopWaiting(slot);
    view_->showHardwarePreset(slot, displayOf(slot));
    return outcome;
  };

  settleAfterFaults();
  faultMark_ = bus_.faultCount();
  const Selection selection = selectSlotMachine(slot);
  if (!selection.ok) return endEarly(PresetChangeOutcome::SelectFailed, false);
  if (!bus_.CanSend()) return endEarly(PresetChangeOutcome::NotConnected, selection.selectedHere);

  link_.SetReadTimeout(kPresetAckTimeoutMs);
  const protocol::Bus::Exchange ack = bus_.SendCommand(HardwarePresetFrame(preset));
  if (!ack.sent || !ack.acknowledged)
    return endEarly(PresetChangeOutcome::NotAcknowledged, selection.selectedHere);

  // An adapter gone in the middle ends the change at once: no more waiting on a dead handle,
  // nothing written to it, and the link's failure stays what the operator reads.
  const auto lost = [&] { return !link_.state().Connected; };
  const auto endLost = [&] {
    link_.SetReadTimeout(link::kStandardTimeoutMs);
    bus_.MachineSelected = false;
    view_->stopWaiting(slot);
    view_->showHardwarePreset(slot, displayOf(slot));
    return PresetChangeOutcome::LinkLost;
  };

  // The machine keeps talking while it reconfigures: wait for 4 s of silence, twice.
  link_.SetReadTimeout(kPresetSettleTimeoutMs);
  link_.DrainInput();
  if (lost()) return endLost();
  if (bus_.ReadParameter(protocol::param::kExtraPresent) && bus_.ParameterValue == 1) {
    // A failed or corrupted name read keeps what the slot knew.
    const std::string name = bus_.ReadParameterText(protocol::param::kExtraName);
    if (name.size() == kExtraNameLength) {
      state.extraPresetName = name;
      state.extraPresetPicture = ExtraPresetPicturePath(network_.dataDir(), name).string();
    }
  }
  if (lost()) return endLost();
  link_.DrainInput();
  if (lost()) return endLost();
  const bool confirmed = bus_.ReadParameter(protocol::param::kHardwarePreset);
  if (confirmed) {
    state.record.hardwarePreset = bus_.ParameterValue;
  } else {
    // The processor took the command but did not say what it now runs: the slot shows that
    // it does not know, until the next refresh reads the machine again.
    state.recordUnknown = true;
  }
  view_->showHardwarePreset(slot, displayOf(slot));
  if (lost()) return endLost();
  // Its answer is waited for as any other, not for the read-back's 4 s.
  link_.SetReadTimeout(link::kStandardTimeoutMs);
  commands_.EndAccess();
  bus_.ReleaseMachine();
  view_->stopWaiting(slot);
  if (!confirmed) return PresetChangeOutcome::NotConfirmed;
  if (bus_.faultCount() != faultMark_) return PresetChangeOutcome::ExchangeFailed;
  faultsWhenQuiet_ = bus_.faultCount();
  return PresetChangeOutcome::Done;
}

std::string_view PresetChangeText(PresetChangeOutcome o) {
  switch (o) {
    case PresetChangeOutcome::Done:
      return "done";
    case PresetChangeOutcome::Closed:
      return "nothing sent";
    case PresetChangeOutcome::SelectFailed:
      return "the processor did not answer its select frame";
    case PresetChangeOutcome::NotConnected:
      return "the link is down";
    case PresetChangeOutcome::NotAcknowledged:
      return "the processor did not acknowledge the preset";
    case PresetChangeOutcome::LinkLost:
      return "the adapter went away during the change";
    case PresetChangeOutcome::ExchangeFailed:
      return "the preset was switched, but an exchange on the way failed";
    case PresetChangeOutcome::NotConfirmed:
      return "the preset was sent but could not be confirmed: the processor did not report the "
             "preset it now runs";
  }
  return "failed";
}

}  // namespace qubix::network
