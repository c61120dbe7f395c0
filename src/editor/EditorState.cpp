#include "editor/EditorState.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "editor/AmpCalculator.h"
#include "editor/CopyToAll.h"
#include "editor/MachineSelection.h"
#include "network/Slots.h"
#include "protocol/WireCodes.h"

namespace qubix::editor {
namespace {

constexpr float kFreqMinHz = filters::kBandFreqMinHz, kFreqMaxHz = filters::kBandFreqMaxHz;
constexpr float kGainLimitDb = filters::kBandGainMaxDb;
constexpr float kQMin = filters::kBandQMin, kQMax = filters::kBandQMax;

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }

// Values from a file go to the strips within the ranges the strips themselves allow.
float Within(float v, float lo, float hi) { return std::clamp(v, lo, hi); }

}  // namespace

std::string OneDecimal(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", value);
  return buf;
}

double EditValue(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || !std::isfinite(v)) return 0.0;
  (void)end;
  return v;
}

EditorState::EditorState(EditorHost& host)
    : host_(host), polling_(host.commands(), view_), eqFiles_(host, *this) {}

void EditorState::attachBands(const std::array<BandStrip*, kBandCount>& bands) { bands_ = bands; }

void EditorState::stopEditorActivity() { polling_.StopAll(); }

void EditorState::SetFlatMode(bool flat) {
  if (flat != flatMode_ && !editorLoading_) acknowledgedChanged_ = true;  // the file keeps it
  flatMode_ = flat;
  notify(EditorPart::FlatCaption);
}

void EditorState::EditorShown() {
  polling_.RunIndicatorPoll(true);
  editorNotShown_ = false;
  editorVisible_ = true;
  graphVisible_ = true;
  notify(EditorPart::EditorWindow);
}

void EditorState::EditorHidden() {
  // The window went away (closed by the operator or hidden by the program): it shows nothing.
  editorVisible_ = false;
  polling_.RunIndicatorPoll(false);
  polling_.RunLevelRefresh(false);
}

void EditorState::FunctionKeyReleased(int functionKey, bool ctrl, bool alt) {
  if (ctrl || alt) return;
  if (functionKey >= 1 && functionKey <= 4) ToggleMute(functionKey - 1);
}

// ---- input gains

int EditorState::GainCode(int input) const {
  return protocol::codes::GainCode(EditValue(gainText_[static_cast<std::size_t>(input)]));
}

void EditorState::SetGainUpDown(int input, int position) {
  position = std::clamp(position, kGainUpDownMin, kGainUpDownMax);
  gainUpDown_[static_cast<std::size_t>(input)] = position;
  SetGainText(input, OneDecimal(position * 0.5));
}

void EditorState::ArrowClick(int field, int step) {
  // At the end of its range an arrow leaves the value as it is: nothing changed, nothing is
  // sent and the level window is not opened again.
  if (field == 0 || field == 1) {
    const int now = gainUpDown_[static_cast<std::size_t>(field)];
    const int next = std::clamp(now + step, kGainUpDownMin, kGainUpDownMax);
    if (next != now) SetGainUpDown(field, next);
  } else if (field == 2 || field == 3) {
    const int pair = field - 2;
    const int now = delay_[static_cast<std::size_t>(pair)];
    const int next = std::clamp(now + step, 0, kDelayMax);
    if (next != now) SetDelay(pair, next);
  }
}

void EditorState::SetGainText(int input, std::string text) {
  const auto i = static_cast<std::size_t>(input);
  gainText_[i] = std::move(text);
  const int codeB = GainCode(1);
  const int codeA = GainCode(0);
  gainUpDown_[i] = std::clamp(Trunc(EditValue(gainText_[i]) * 2), kGainUpDownMin, kGainUpDownMax);
  notify(EditorPart::Gains);
  if (editorNotShown_ || editorLoading_) return;
  polling_.RunLevelRefresh(false);
  commands().SendInputGains(codeB, codeA);
  polling_.ShowLevels();
}

bool EditorState::SetBothInputGains(int halfDbSteps) {
  {
    const LoadingScope loading(*this);
    SetGainUpDown(0, halfDbSteps);
    SetGainUpDown(1, gainUpDown_[0]);
  }
  if (editorNotShown_) return false;
  polling_.RunLevelRefresh(false);
  const bool sent = commands().SendInputGains(GainCode(1), GainCode(0));
  polling_.ShowLevels();
  return sent;
}

// ---- output attenuation

void EditorState::SetKnobPosition(int knob, int position) {
  const auto i = static_cast<std::size_t>(knob);
  knobPosition_[i] = std::clamp(position, 0, kKnobMax);
  knobValue_[i] =
      protocol::codes::AttenuationDb(protocol::codes::AttenuationCode(knobPosition_[i]));
  notify(EditorPart::Knobs);
  if (editorNotShown_ || editorLoading_) return;
  polling_.RunLevelRefresh(false);
  commands().SendOutputAttenuation(protocol::codes::AttenuationCode(knobPosition_[0]),
                                   protocol::codes::AttenuationCode(knobPosition_[1]));
  polling_.ShowLevels();
}

// ---- delays

void EditorState::SetDelay(int pair, int value) {
  delay_[static_cast<std::size_t>(pair)] = std::clamp(value, 0, kDelayMax);
  notify(EditorPart::Delays);
  polling_.HideLevelWindow();
  polling_.RunLevelRefresh(false);
  if (editorNotShown_ || editorLoading_) return;
  commands().SendDelays(delay_[0], delay_[1]);
}

// ---- mutes

void EditorState::ToggleMute(int channel) {
  if (channel < 0 || channel > 3) return;
  const auto c = static_cast<std::size_t>(channel);
  muteState_[c] = !muteState_[c];
  commands().SendChannelLevel(channel / 2 + 1, channel % 2, muteState_[c] ? 0 : ampLevelCode_);
  notify(EditorPart::Mutes);
}

void EditorState::SetMute(int channel, bool muted) {
  if (channel < 0 || channel > 3) return;
  muteState_[static_cast<std::size_t>(channel)] = !muted;
  ToggleMute(channel);
}

void EditorState::SetUserPresetName(std::string name) {
  userPresetName_ = std::move(name);
  notify(EditorPart::Identity);
}

// ---- equaliser bands

bool EditorState::BandChanged(int bandIndex) {
  if (editorNotShown_ || bandIndex < 0 || bandIndex >= kBandCount) return false;
  polling_.StopAll();
  BandStrip& strip = bandStrip(bandIndex);
  if (strip.FilterBlockQF() < 0.2F) strip.SetFilterBlockQF(0.2F);
  if (strip.FBCalc() == filters::kFilterOk) {
    const auto c = strip.Coefficients();
    coefficients_.SetBand(bandIndex, c);
    commands().liveBand().set(strip.FilterBlockAddr(), c.b0, c.b1, c.b2, c.a1, c.a2);
    liveBandFilled_ = true;
    if (overflow_) {
      overflow_ = false;
      notify(EditorPart::Overflow);
    }
  } else if (!overflow_) {
    overflow_ = true;
    notify(EditorPart::Overflow);
  }
  // After a failure this repeats the last good write; before any good band there is none.
  const bool sent = !editorLoading_ && liveBandFilled_ && commands().SendBandCoefficients();
  if (!editorLoading_) {
    // What the machine runs for this band: the strip's values once it took them; otherwise the
    // band stays as it last acknowledged it, and the strip shows what it does not run.
    const auto b = static_cast<std::size_t>(bandIndex);
    unconfirmed_[b] = !(sent && !overflow_);
    if (!unconfirmed_[b]) {
      acknowledgedChanged_ = true;
      acknowledged_.freqHz[b] = static_cast<std::int32_t>(std::trunc(strip.FPotPos()));
      acknowledged_.gainDb[b] = strip.GPotPos();
      acknowledged_.q[b] = strip.QPotPos();
    }
  }
  redrawGraph();
  polling_.RunIndicatorPoll(true);
  return sent && !overflow_;
}

bool EditorState::LoadBands(const filters::FilterBands& bands) {
  if (flatMode_) SetFlatMode(false);
  {
    const LoadingScope loading(*this, /*graphWaits=*/true);
    for (int i = 0; i < kBandCount; ++i) {
      const filters::FilterBand& b = bands[static_cast<std::size_t>(i)];
      BandStrip& strip = bandStrip(i);
      strip.SetFPotPos(b.freqHz);
      strip.SetGPotPos(b.gainDb);
      strip.SetQPotPos(b.q);
      strip.Repaint();
    }
  }
  bool sent = true;
  for (int i = 0; i < kBandCount; ++i) sent = BandChanged(i) && sent;
  return sent;
}

void EditorState::MoveBand(int index, const filters::FilterBand& to) {
  BandStrip& strip = bandStrip(index);
  const filters::FilterBand held{strip.FPotPos(), strip.GPotPos(), strip.QPotPos()};
  if (held == to) return;
  if (held.freqHz != to.freqHz) strip.SetFPotPos(to.freqHz);
  if (held.gainDb != to.gainDb) strip.SetGPotPos(to.gainDb);
  if (held.q != to.q) strip.SetQPotPos(to.q);
  strip.Repaint();
}

filters::FilterBands EditorState::bandSettings() const {
  filters::FilterBands out{};
  for (int i = 0; i < kBandCount; ++i) {
    const BandStrip& strip = band(i);
    out[static_cast<std::size_t>(i)] = {strip.FPotPos(), strip.GPotPos(), strip.QPotPos()};
  }
  return out;
}

std::optional<filters::BiquadCoefficients> EditorState::ComputeBand(int index) {
  BandStrip& strip = bandStrip(index);
  if (strip.FBCalc() != filters::kFilterOk) return std::nullopt;
  return strip.Coefficients();
}

void EditorState::ToggleFlat() {
  polling_.HideLevelWindow();
  polling_.RunLevelRefresh(false);
  auto& fe = host_.frontend();
  if (!flatMode_) {
    for (std::size_t j = 0; j < kStripCreationOrder.size(); ++j) {
      BandStrip& strip = bandStrip(kStripCreationOrder[j]);
      flatGainStash_[j] = strip.GPotPos();
      strip.SetGPotPos(0.0F);
      strip.Repaint();
      fe.processEvents();
    }
    SetFlatMode(true);
  } else {
    for (std::size_t j = 0; j < kStripCreationOrder.size(); ++j) {
      BandStrip& strip = bandStrip(kStripCreationOrder[j]);
      strip.SetGPotPos(static_cast<float>(flatGainStash_[j]));
      strip.Repaint();
      fe.processEvents();
    }
    SetFlatMode(false);
  }
}

protocol::Outcome EditorState::CopyBandsToAllMachines() {
  auto& fe = host_.frontend();
  // The walk selects other machines: no level refresh may read from them meanwhile.
  polling_.StopAll();
  fe.setBusyCursor(true);
  graphRedrawEnabled_ = false;
  const int current = host_.currentMachine();
  // The machine being edited is taken up again below from its last-edit file: it must hold what
  // the machine runs now. Nothing is written to that machine.
  protocol::Outcome copied = storeRunningBands(selectedId_);
  const CopyResult walk = CopyToAll(host_, eqFiles_).Run(current, coefficients_, BuildEqRecord());
  liveBandFilled_ = liveBandFilled_ || walk.liveBandFilled;
  copied.also(walk.filesWritten);
  host_.selectListItem(current);
  host_.setCurrentMachine(current);
  const protocol::Outcome reopened = SelectMachineForEditing(current);
  editorLoading_ = false;
  commands().bus().link().SetReadTimeout(link::kStandardTimeoutMs);
  graphRedrawEnabled_ = true;
  redrawGraph();
  fe.setBusyCursor(false);
  if (!walk.missed.empty()) {
    const std::string detail = "the equaliser was not copied to " + walk.missed;
    ShowBusFailure(walk.failure, detail);
    return protocol::Outcome::Failed(detail);
  }
  return copied.also(reopened);
}

void EditorState::ShowBusFailure(std::string_view text, std::string_view detail) {
  auto& fe = host_.frontend();
  fe.setStatusColour(link::kRed);
  // Once the adapter is gone, that is what the operator must see first.
  fe.setStatusText(commands().bus().link().state().Connected ? text : link::texts::kConnectionFail);
  fe.setStatusDetail(detail);
}

// ---- amplifier, power-on, close

void EditorState::ApplyAmpTrim(float ampTrimDb) { SetAmpLevel(AmpLevelCodeFromTrim(ampTrimDb)); }

void EditorState::SetAmpLevel(std::int32_t code) {
  ampLevelCode_ = code;
  commands().SendAmpLevel(ampLevelCode_);
}

void EditorState::SaveAsPowerOnSetting() {
  auto& fe = host_.frontend();
  polling_.HideLevelWindow();
  polling_.RunLevelRefresh(false);
  powerOnRunning_ = true;
  notify(EditorPart::PowerOnCaption);
  fe.processEvents();
  commands().SavePowerOnSetting();
  powerOnRunning_ = false;
  notify(EditorPart::PowerOnCaption);
  fe.processEvents();
}

protocol::Outcome EditorState::CloseEditor() {
  protocol::FaultWatch watch(commands().bus());
  // The bands belong to the machine being edited, whatever the operator has since clicked in
  // the main window's list; with no machine held (a lost link) they belong to none.
  protocol::Outcome outcome = BandsOutcome();
  const protocol::Outcome stored = storeRunningBands(selectedId_);
  const std::string id = selectedId_;
  CloseWithoutStoringBands();
  outcome.also(watch.outcome());
  const bool busFailed = !outcome.ok;
  outcome.also(stored);
  // The status line shows what the close came to: the last "Status Ok" of its frames must not
  // hide a band the machine may not run, nor a file that does not record what it runs.
  if (!outcome.ok)
    ShowBusFailure(busFailed ? link::texts::kCommError : network::eqtexts::kFileErrorCaption,
                   id + ": " + outcome.reason);
  return outcome;
}

protocol::Outcome EditorState::storeRunningBands(const std::string& id, bool onlyWhenChanged) {
  if (id.empty()) return protocol::Outcome::Done();
  if (!acknowledgedKnown_) {
    // Its file could not be read when the editor opened: what it held is not known, so nothing
    // can be written beside the bands the machine took since, and the file keeps what it held.
    // Bands the machine took and no file records are a failure of the operation that sent them.
    if (!acknowledgedChanged_) return protocol::Outcome::Done();
    const std::string why = network::LastEditEqPath(host_.dataDir(), id).string() +
                            " could not be read when the editor opened; the bands sent since "
                            "are not recorded in it";
    auto& fe = host_.frontend();
    fe.setStatusColour(link::kRed);
    fe.setStatusText(network::eqtexts::kFileErrorCaption);
    fe.setStatusDetail(why);
    return protocol::Outcome::Failed(why);
  }
  if (onlyWhenChanged && !acknowledgedChanged_) return protocol::Outcome::Done();
  if (!BandsOutcome().ok) return protocol::Outcome::Done();  // the caller reports the bands
  protocol::Outcome written = eqFiles_.SaveMachineEq(id, AcknowledgedEqRecord());
  if (written.ok) acknowledgedChanged_ = false;
  return written;
}

void EditorState::closeForExit() {
  if (!selectedId_.empty() && commands().bus().MachineSelected) CloseEditor();
}

void EditorState::CloseWithoutStoringBands() {
  commands().EndAccess();
  commands().bus().ReleaseMachine();
  if (!commands().bus().MachineSelected) selectedId_.clear();
  closeWindows();
}

void EditorState::closeWindows() {
  host_.selectListItem(-1);
  editorVisible_ = false;
  graphVisible_ = false;
  polling_.StopAll();
  notify(EditorPart::EditorWindow);
}

// ---- opening from a slot

protocol::Outcome EditorState::OpenEditorForSlot(int slot) {
  host_.setCurrentMachine(slot);
  host_.selectListItem(slot);
  protocol::Outcome opened = SelectMachineForEditing(slot);
  FillFromSlot(host_.slotValues(slot));
  return opened;
}

void EditorState::abandonOpening(const std::string& id, const protocol::Outcome& why) {
  auto& cmd = commands();
  cmd.EndAccess();
  cmd.bus().ReleaseMachine();
  selectedId_.clear();
  acknowledgedKnown_ = false;
  if (editorVisible_) closeWindows();
  ShowBusFailure(link::texts::kCommError, id + " could not be opened: " + why.reason);
  host_.frontend().messageBox(texts::kConnectionFail, "", link::Buttons::Ok);
}

protocol::Outcome EditorState::SelectMachineForEditing(int slot) {
  MachineSelection selection(commands());
  const std::string id = host_.machineId(slot);
  // Whatever stops the switch below, an open editor must not stay open on a machine it no
  // longer holds, nor take the next slot's label over one it does not hold.
  const auto failed = [this](std::string why) {
    if (editorVisible_) closeWindows();
    return protocol::Outcome::Failed(std::move(why));
  };
  if (!selection.AdapterAnswers()) {
    host_.frontend().messageBox(texts::kConnectionFail, "", link::Buttons::Ok);
    host_.connectionLost();
    // The link is gone: the machine being edited is left without a word on the bus, its bands
    // kept as on any leaving.
    if (editorVisible_) storeRunningBands(selectedId_);
    selectedId_.clear();
    commands().bus().MachineSelected = false;
    return failed("the adapter does not answer");
  }
  // Only bands that belong to a machine opened here are stored; a selection left by another
  // operation has none.
  if (!selection.ReleaseHeld([this] { storeRunningBands(selectedId_); }))
    return failed("the machine held before could not be released");
  // From here on no machine holds the editor's bands: nothing may store them under the machine
  // just left.
  selectedId_.clear();
  acknowledgedKnown_ = false;
  acknowledgedChanged_ = false;
  if (!selection.Select(host_.selectFrame(slot))) return failed(selection.faults().reason);
  selectedId_ = id;
  EditorSlotValues v = host_.slotValues(slot);
  // The editor shows and sends on from these values: one that could not be read (or an
  // unacknowledged start of access) leaves nothing to edit from.
  if (!selection.ReadShown(v)) {
    protocol::Outcome why = selection.faults();
    abandonOpening(id, why);
    return why;
  }
  host_.storeSlotValues(slot, v);

  editorLoading_ = true;
  // The bands are filled for this machine now: their changes must reach the table and the
  // graph, even on the very first opening, before the window has been shown.
  editorNotShown_ = false;
  eqFiles_.LoadRunningEq(id, v.userPreset);
  EditorShown();
  polling_.RunIndicatorPoll(true);
  return protocol::Outcome::Done();
}

bool EditorState::LeaveMachineOtherThan(int slot) {
  // A selection the editor did not make is not the editor's to end.
  if (!commands().bus().MachineSelected || selectedId_.empty()) return true;
  if (slot >= 0 && slot < host_.machineCount() && host_.machineId(slot) == selectedId_) return true;
  if (!MachineSelection(commands()).ReleaseHeld([this] { storeRunningBands(selectedId_); }))
    return false;
  selectedId_.clear();
  closeWindows();
  return true;
}

void EditorState::ResumeAfterRelease() {
  if (!editorVisible_ || selectedId_.empty() || commands().bus().MachineSelected) return;
  const std::string id = selectedId_;
  int slot = host_.currentMachine();
  if (slot < 0 || slot >= host_.machineCount() || host_.machineId(slot) != id) {
    slot = -1;
    for (int i = 0; i < host_.machineCount(); ++i)
      if (host_.machineId(i) == id) slot = i;
  }
  // Stored first, so that the opening below loads back the bands the machine runs.
  storeRunningBands(id);
  selectedId_.clear();
  if (slot < 0) {
    closeWindows();
    return;
  }
  OpenEditorForSlot(slot);
}

void EditorState::FillFromSlot(const EditorSlotValues& v) {
  // Always under editorLoading_: these are the machine's own values, never to be sent back, also
  // when the selection above failed and the editor was left as it was.
  editorLoading_ = true;
  SetKnobPosition(0, protocol::codes::KnobPosition(v.outAttn12));
  SetKnobPosition(1, protocol::codes::KnobPosition(v.outAttn34));
  SetDelay(0, v.delay12);
  SetDelay(1, v.delay34);
  SetGainText(0, ShortNumber(protocol::codes::GainDb(v.gainA)));
  SetGainText(1, ShortNumber(protocol::codes::GainDb(v.gainB)));
  muteState_ = v.muted;
  notify(EditorPart::Mutes);
  ampLevelCode_ = v.ampLevel;
  const int slot = host_.currentMachine();
  processorId_ = (slot >= 0 && slot < host_.machineCount()) ? host_.machineId(slot) : selectedId_;
  if (v.hardwarePreset >= 0 && v.hardwarePreset <= 6)
    hwPresetName_ =
        network::CaptionText(host_.hardwarePresetName(v.hardwarePreset));  // "&&" is "&"
  else if (v.hardwarePreset == 7)
    hwPresetName_ = v.extraPresetName;
  else
    hwPresetName_.clear();
  userPresetName_ =
      (v.userPreset >= 0 && v.userPreset <= 9) ? host_.userPresetName(v.userPreset) : std::string();
  notify(EditorPart::Identity);
  editorLoading_ = false;
}

// ---- per-machine equaliser files

protocol::Outcome EditorState::StoreBandsForLocation(int location) {
  if (selectedId_.empty()) return protocol::Outcome::Done();
  return eqFiles_.SaveMachineEqForLocation(selectedId_, location, BuildEqRecord());
}

bool EditorState::TakeRecalledLocation(int location) {
  SetUserPresetName(host_.userPresetName(location));
  return eqFiles_.LoadMachineEqForLocation(selectedId_, location);
}

int EditorState::RecordSlotUserPreset(int userPreset) {
  const int slot = host_.currentMachine();
  if (userPreset >= 0 && slot >= 0 && slot < host_.machineCount()) {
    EditorSlotValues values = host_.slotValues(slot);
    values.userPreset = userPreset;
    host_.storeSlotValues(slot, values);
  }
  return slot;
}

network::EqRecord EditorState::BuildEqRecord() const {
  network::EqRecord r;
  r.flatFlag = flatMode_ ? 1 : 0;
  for (int i = 0; i < kBandCount; ++i) {
    const auto b = static_cast<std::size_t>(i);
    const BandStrip& strip = *bands_[b];
    r.freqHz[b] = static_cast<std::int32_t>(std::trunc(strip.FPotPos()));
    r.gainDb[b] = strip.GPotPos();
    r.q[b] = strip.QPotPos();
    r.savedGainDb[b] = static_cast<float>(flatGainStash_[b]);
  }
  return r;
}

void EditorState::ApplyEqRecord(const network::EqRecord& r) {
  graphRedrawEnabled_ = false;
  for (auto* strip : bands_) strip->SetActive(false);
  SetFlatMode(r.flatFlag != 0);
  for (int i = 0; i < kBandCount; ++i)
    bandStrip(i).SetFPotPos(
        Within(static_cast<float>(r.freqHz[static_cast<std::size_t>(i)]), kFreqMinHz, kFreqMaxHz));
  for (auto* strip : bands_) strip->SetActive(true);
  for (int i = 0; i < kBandCount; ++i)
    bandStrip(i).SetGPotPos(
        Within(r.gainDb[static_cast<std::size_t>(i)], -kGainLimitDb, kGainLimitDb));
  for (int i = 0; i < kBandCount; ++i)
    bandStrip(i).SetQPotPos(Within(r.q[static_cast<std::size_t>(i)], kQMin, kQMax));
  for (std::size_t j = 0; j < flatGainStash_.size(); ++j)
    flatGainStash_[j] = Within(r.savedGainDb[j], -kGainLimitDb, kGainLimitDb);
  for (auto* strip : bands_) strip->Repaint();
  host_.frontend().processEvents();
  graphRedrawEnabled_ = true;
  redrawGraph();
  takeLoadedBandsAsRunning();
}

void EditorState::takeLoadedBandsAsRunning() {
  // Bands filled in while loading are what the machine is taken to run (its file says so);
  // filled in otherwise, each band's write has already said whether the machine took it.
  if (!editorLoading_) return;
  acknowledged_ = BuildEqRecord();
  acknowledgedKnown_ = true;
  acknowledgedChanged_ = false;
  unconfirmed_ = {};
}

network::EqRecord EditorState::AcknowledgedEqRecord() const {
  network::EqRecord r = acknowledged_;
  const network::EqRecord shown = BuildEqRecord();
  r.flatFlag = shown.flatFlag;
  r.savedGainDb = shown.savedGainDb;
  return r;
}

protocol::Outcome EditorState::BandsOutcome() const {
  std::string bands;
  for (std::size_t b = 0; b < unconfirmed_.size(); ++b)
    if (unconfirmed_[b]) bands += (bands.empty() ? "" : ", ") + std::to_string(b + 1);
  if (bands.empty()) return protocol::Outcome::Done();
  return protocol::Outcome::Failed("band " + bands + " was not taken by the processor");
}

void EditorState::ResetEqDefaults() {
  // Nothing of the machine shown before may survive: its "Flat" stash would otherwise come back
  // on this machine with the next "EQ".
  SetFlatMode(false);
  flatGainStash_ = {};
  for (int i = 0; i < kBandCount; ++i) {
    const auto b = static_cast<std::size_t>(i);
    bandStrip(i).SetFPotPos(static_cast<float>(network::kEqDefaults.freqHz[b]));
    bandStrip(i).SetGPotPos(0.0F);
    bandStrip(i).SetQPotPos(network::kEqDefaults.q[b]);
  }
  for (auto* strip : bands_) strip->Repaint();
  host_.frontend().processEvents();
  graphRedrawEnabled_ = true;
  redrawGraph();
  takeLoadedBandsAsRunning();
}

}  // namespace qubix::editor
