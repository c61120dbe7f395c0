#include "editor/EditorState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <charconv>

#include "editor/AmpCalculator.h"
#include "network/Slots.h"

namespace qubix::editor {
namespace {

constexpr int kGainUpDownMin = -96, kGainUpDownMax = 24;
constexpr int kKnobMax = 64;
constexpr int kDelayMax = 310;
constexpr float kFreqMinHz = filters::kBandFreqMinHz, kFreqMaxHz = filters::kBandFreqMaxHz;
constexpr float kGainLimitDb = filters::kBandGainMaxDb;
constexpr float kQMin = filters::kBandQMin, kQMax = filters::kBandQMax;

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }

// Values from a file go to the strips within the ranges the strips themselves allow.
float Within(float v, float lo, float hi) { return std::clamp(v, lo, hi); }

}  // namespace

std::string ShortNumber(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", value == 0.0 ? 0.0 : value);  // never "-0"
  return buf;
}

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

// ---------------------------------------------------------------- BandModel

BandModel::BandModel(float freqHz, float q, std::int32_t address, float filterBlockQF)
    : f_(freqHz), q_(q), qf_(filterBlockQF), address_(address) {
  FBCalc();
}

void BandModel::SetFPotPos(float hz) {
  f_ = hz;
  changed();
}
void BandModel::SetGPotPos(float db) {
  g_ = db;
  changed();
}
void BandModel::SetQPotPos(float q) {
  q_ = q;
  changed();
}
int BandModel::FBCalc() { return band_.FBCalc(f_, g_, q_, 48000); }

void BandModel::changed() {
  FBCalc();
  if (onChangePar) onChangePar();
}

// ---------------------------------------------------------------- EditorState

EditorState::EditorState(EditorHost& host) : host_(host) {
  // A status query on the bus from anywhere stops the indicator poll: the bus and the editor
  // are two core objects joined here, and the editor takes its hook away when it goes.
  auto& bus = host_.commands().bus();
  if (!bus.beforeQuery) {
    bus.beforeQuery = [this] { SetTimer1(false); };
    installedBeforeQuery_ = true;
  }
}

EditorState::~EditorState() {
  if (installedBeforeQuery_) host_.commands().bus().beforeQuery = nullptr;
}

void EditorState::stopEditorActivity() {
  SetTimer1(false);
  SetTimer2(false);
  HideLevelWindow();
}

void EditorState::attachBands(const std::array<BandStrip*, kBandCount>& bands) { bands_ = bands; }

void EditorState::notify(EditorPart part) {
  if (view_) view_->changed(part);
}

void EditorState::redrawGraph() { notify(EditorPart::Graph); }

void EditorState::SetTimer1(bool running) {
  // The level refresh polls the indicators itself and starts the poll again when it ends: the
  // two never run together, whichever operation asks for the poll meanwhile.
  if (running && timer2Running) return;
  if (timer1Running == running) return;
  timer1Running = running;
  notify(EditorPart::Timers);
}

void EditorState::SetTimer2(bool running) {
  if (timer2Running == running) return;
  timer2Running = running;
  notify(EditorPart::Timers);
}

void EditorState::HideLevelWindow() {
  if (!levelWindowVisible) return;
  levelWindowVisible = false;
  notify(EditorPart::LevelWindow);
}

void EditorState::SetFlatMode(bool flat) {
  FlatMode = flat;
  notify(EditorPart::FlatCaption);
}

void EditorState::EditorShown() {
  SetTimer1(true);
  EditorNotShown = false;
  editorVisible = true;
  graphVisible = true;
  notify(EditorPart::EditorWindow);
}

void EditorState::EditorHidden() {
  SetTimer1(false);
  SetTimer2(false);
}

void EditorState::FunctionKeyReleased(int functionKey, bool ctrl, bool alt) {
  if (ctrl || alt) return;
  if (functionKey >= 1 && functionKey <= 4) ToggleMute(functionKey - 1);
}

// ---- input gains

int EditorState::GainCode(int input) const {
  return Trunc(EditValue(gainText[static_cast<std::size_t>(input)]) * 2 + 180);
}

void EditorState::SetGainUpDown(int input, int position) {
  position = std::clamp(position, kGainUpDownMin, kGainUpDownMax);
  gainUpDown[static_cast<std::size_t>(input)] = position;
  SetGainText(input, OneDecimal(position * 0.5));
}

void EditorState::ArrowClick(int field, int step) {
  // At the end of its range an arrow leaves the value as it is: nothing changed, nothing is
  // sent and the level window is not opened again.
  if (field == 0 || field == 1) {
    const int now = gainUpDown[static_cast<std::size_t>(field)];
    const int next = std::clamp(now + step, kGainUpDownMin, kGainUpDownMax);
    if (next != now) SetGainUpDown(field, next);
  } else if (field == 2 || field == 3) {
    const int pair = field - 2;
    const int now = delay[static_cast<std::size_t>(pair)];
    const int next = std::clamp(now + step, 0, kDelayMax);
    if (next != now) SetDelay(pair, next);
  }
}

void EditorState::SetGainText(int input, std::string text) {
  const auto i = static_cast<std::size_t>(input);
  gainText[i] = std::move(text);
  const int codeB = GainCode(1);
  const int codeA = GainCode(0);
  gainUpDown[i] = std::clamp(Trunc(EditValue(gainText[i]) * 2), kGainUpDownMin, kGainUpDownMax);
  notify(EditorPart::Gains);
  if (EditorNotShown || EditorLoading) return;
  SetTimer2(false);
  commands().SendInputGains(codeB, codeA);
  ShowLevels();
}

// ---- output attenuation

void EditorState::SetKnobPosition(int knob, int position) {
  const auto i = static_cast<std::size_t>(knob);
  knobPosition[i] = std::clamp(position, 0, kKnobMax);
  knobValue[i] = (knobPosition[i] + 191 - 255) * 0.5;
  notify(EditorPart::Knobs);
  if (EditorNotShown || EditorLoading) return;
  SetTimer2(false);
  commands().SendOutputAttenuation(knobPosition[0] + 191, knobPosition[1] + 191);
  ShowLevels();
}

// ---- delays

void EditorState::SetDelay(int pair, int value) {
  delay[static_cast<std::size_t>(pair)] = std::clamp(value, 0, kDelayMax);
  notify(EditorPart::Delays);
  HideLevelWindow();
  SetTimer2(false);
  if (EditorNotShown || EditorLoading) return;
  commands().SendDelays(delay[0], delay[1]);
}

// ---- mutes

void EditorState::ToggleMute(int channel) {
  if (channel < 0 || channel > 3) return;
  const auto c = static_cast<std::size_t>(channel);
  MuteState[c] = !MuteState[c];
  commands().SendChannelLevel(channel / 2 + 1, channel % 2, MuteState[c] ? 0 : AmpLevelCode);
  notify(EditorPart::Mutes);
}

// ---- equaliser bands

bool EditorState::BandChanged(int bandIndex) {
  if (EditorNotShown || bandIndex < 0 || bandIndex >= kBandCount) return false;
  HideLevelWindow();
  SetTimer2(false);
  SetTimer1(false);
  BandStrip& strip = band(bandIndex);
  if (strip.FilterBlockQF() < 0.2F) strip.SetFilterBlockQF(0.2F);
  if (strip.FBCalc() == filters::kFilterOk) {
    const auto c = strip.Coefficients();
    BandCoefficientTable.SetBand(bandIndex, c);
    commands().liveBand().set(strip.FilterBlockAddr(), c.b0, c.b1, c.b2, c.a1, c.a2);
    liveBandFilled_ = true;
    if (overflow) {
      overflow = false;
      notify(EditorPart::Overflow);
    }
  } else if (!overflow) {
    overflow = true;
    notify(EditorPart::Overflow);
  }
  // After a failure this repeats the last good write; before any good band there is none.
  const bool sent = !EditorLoading && liveBandFilled_ && commands().SendBandCoefficients();
  redrawGraph();
  SetTimer1(true);
  return sent && !overflow;
}

void EditorState::ToggleFlat() {
  HideLevelWindow();
  SetTimer2(false);
  auto& fe = host_.frontend();
  if (!FlatMode) {
    for (std::size_t j = 0; j < kStripCreationOrder.size(); ++j) {
      BandStrip& strip = band(kStripCreationOrder[j]);
      FlatGainStash[j] = strip.GPotPos();
      strip.SetGPotPos(0.0F);
      strip.Repaint();
      fe.processEvents();
    }
    SetFlatMode(true);
  } else {
    for (std::size_t j = 0; j < kStripCreationOrder.size(); ++j) {
      BandStrip& strip = band(kStripCreationOrder[j]);
      strip.SetGPotPos(static_cast<float>(FlatGainStash[j]));
      strip.Repaint();
      fe.processEvents();
    }
    SetFlatMode(false);
  }
}

void EditorState::CopyBandsToAllMachines() {
  auto& fe = host_.frontend();
  auto& cmd = commands();
  auto& bus = cmd.bus();
  auto& link = bus.link();
  // The walk selects other machines: no level refresh may read from them meanwhile.
  HideLevelWindow();
  SetTimer2(false);
  SetTimer1(false);
  fe.setBusyCursor(true);
  GraphRedrawEnabled = false;
  const int current = host_.currentMachine();
  bus.ReleaseMachine();
  link.SetReadTimeout(kCopyToAllTimeoutMs);
  link.DrainInput();
  const int count = host_.machineCount();
  // The machines that did not take every band, and what the status line said when the first of
  // them failed: the later good exchanges overwrite it with "Status Ok".
  std::string missed;
  std::string_view failure;
  for (int i = 0; i < count; ++i) {
    const std::string id = host_.machineId(i);
    if (i == current) {
      host_.setCurrentMachine(i);
      SaveMachineEqForCurrentPreset(id);
      continue;
    }
    host_.selectListItem(i);
    const bool selected = bus.SelectMachine(host_.selectFrame(i));
    bool written = selected;
    const std::int32_t first = band(0).FilterBlockAddr();
    // After an unacknowledged band the machine is not written further: its equaliser is
    // reported as not copied either way, and a late reply could answer the next band.
    for (int k = 0; written && k < kBandCount; ++k) {
      const auto c = BandCoefficientTable.Band(k);
      cmd.liveBand().set(first + 5 * k, c.b0, c.b1, c.b2, c.a1, c.a2);
      liveBandFilled_ = true;
      written = cmd.SendBandCoefficients();
    }
    if (written) {
      host_.setCurrentMachine(i);
      SaveMachineEqForCurrentPreset(id);
    } else {
      // Its file is left as it was: it must not claim bands the machine did not take.
      if (failure.empty())
        failure = selected ? link::texts::kCommError : protocol::kNetConnectionFail;
      missed += (missed.empty() ? "" : ", ") + id;
    }
    link.SetReadTimeout(kCopyToAllTimeoutMs);
    bus.ReleaseMachine();
  }
  host_.selectListItem(current);
  host_.setCurrentMachine(current);
  SelectMachineForEditing(current);
  EditorLoading = false;
  link.SetReadTimeout(link::kStandardTimeoutMs);
  GraphRedrawEnabled = true;
  redrawGraph();
  if (!missed.empty()) ShowBusFailure(failure, "the equaliser was not copied to " + missed);
  fe.setBusyCursor(false);
}

void EditorState::ShowBusFailure(std::string_view text, std::string_view detail) {
  auto& fe = host_.frontend();
  fe.setStatusColour(link::kRed);
  // Once the adapter is gone, that is what the operator must see first.
  fe.setStatusText(commands().bus().link().state().Connected ? text : link::texts::kConnectionFail);
  fe.setStatusDetail(detail);
}

// ---- status poll and levels

void EditorState::ApplyStatusReply() {
  const char c = static_cast<char>(commands().bus().StatusReply[3]);
  if (c < '0' || c > '3') return;
  const int bits = c - '0';
  inputIndicator = {(bits & 2) != 0, (bits & 1) != 0};
  notify(EditorPart::Indicators);
}

void EditorState::PollInputIndicators() {
  if (commands().bus().QueryStatus(texts::kStatusQuery)) ApplyStatusReply();
}

void EditorState::ShowLevels() {
  auto& link = commands().bus().link();
  link.SetReadTimeout(20);
  LevelViewTicks = 0;
  link.DrainInput();
  SetTimer1(false);
  inputIndicator = {false, false};
  notify(EditorPart::Indicators);
  SetTimer2(true);
  levelWindowVisible = true;
  notify(EditorPart::LevelWindow);
  link.SetReadTimeout(link::kStandardTimeoutMs);
}

void EditorState::PollLevelMeters() {
  auto& bus = commands().bus();
  for (int k = 0; k < kMeterCount; ++k) {
    const std::uint16_t value = bus.ReadParameterChecked(kFirstLevelParameter + k);
    meters[static_cast<std::size_t>(k)] = MeterFor(value, k < 2);
  }
  notify(EditorPart::LevelMeters);
  if (bus.QueryStatus(texts::kStatusQuery)) ApplyStatusReply();
  if (++LevelViewTicks >= kLevelViewTickLimit) {
    HideLevelWindow();
    SetTimer2(false);
    SetTimer1(true);
  }
}

// ---- amplifier, power-on, close

void EditorState::ApplyAmpTrim(float ampTrimDb) { SetAmpLevel(AmpLevelCodeFromTrim(ampTrimDb)); }

void EditorState::SetAmpLevel(std::int32_t code) {
  AmpLevelCode = code;
  commands().SendAmpLevel(AmpLevelCode);
}

void EditorState::SaveAsPowerOnSetting() {
  auto& fe = host_.frontend();
  HideLevelWindow();
  SetTimer2(false);
  powerOnRunning = true;
  notify(EditorPart::PowerOnCaption);
  fe.processEvents();
  commands().SavePowerOnSetting();
  powerOnRunning = false;
  notify(EditorPart::PowerOnCaption);
  fe.processEvents();
}

void EditorState::CloseEditor() {
  // The bands belong to the machine being edited, whatever the operator has since clicked in
  // the main window's list: storing them under another identifier would overwrite that
  // machine's file.
  const int sel = host_.listSelection();
  std::string id = selectedId_;
  if (id.empty() && sel >= 0 && sel < host_.machineCount()) id = host_.machineId(sel);
  // Opening reads the file of the user preset the machine runs before the last-edit file, so the
  // bands go to both: reopened, the editor shows what was last sent to the machine.
  if (!id.empty() && SaveMachineEq(id)) SaveMachineEqForCurrentPreset(id);
  CloseWithoutStoringBands();
}

void EditorState::CloseWithoutStoringBands() {
  commands().EndAccess();
  commands().bus().ReleaseMachine();
  if (!commands().bus().MachineSelected) selectedId_.clear();
  closeWindows();
}

void EditorState::closeWindows() {
  host_.selectListItem(-1);
  editorVisible = false;
  graphVisible = false;
  HideLevelWindow();
  SetTimer2(false);
  SetTimer1(false);
  notify(EditorPart::EditorWindow);
}

// ---- opening from a slot

void EditorState::OpenEditorForSlot(int slot) {
  host_.setCurrentMachine(slot);
  host_.selectListItem(slot);
  SelectMachineForEditing(slot);
  FillFromSlot(host_.slotValues(slot));
}

bool EditorState::SelectMachineForEditing(int slot) {
  auto& cmd = commands();
  auto& bus = cmd.bus();
  auto& link = bus.link();
  const std::string id = host_.machineId(slot);
  // Whatever stops the switch below, an open editor must not stay open on a machine it no
  // longer holds, nor take the next slot's label over one it does not hold.
  const auto failed = [this] {
    if (editorVisible) closeWindows();
    return false;
  };
  if (!link.QueryDeviceInfo()) {
    host_.frontend().messageBox(texts::kConnectionFail, "", link::Buttons::Ok);
    host_.connectionLost();
    // The link is gone: the machine being edited is left without a word on the bus, its bands
    // kept as on any leaving.
    if (editorVisible && !selectedId_.empty()) SaveMachineEqForCurrentPreset(selectedId_);
    selectedId_.clear();
    return failed();
  }
  if (bus.MachineSelected) {
    cmd.EndAccess();
    // Only bands that belong to a machine opened here are stored; a selection left by another
    // operation has none.
    if (!selectedId_.empty()) SaveMachineEqForCurrentPreset(selectedId_);
    bus.ReleaseMachine();
    if (bus.MachineSelected) return failed();
  }
  // From here on no machine holds the editor's bands: nothing may store them under the machine
  // just left.
  selectedId_.clear();
  bus.SendByteCommand('e');
  bus.SendByteCommand('R');
  link.DrainInput();
  if (!bus.SelectExchange(host_.selectFrame(slot))) return failed();

  cmd.BeginAccess();
  selectedId_ = id;
  cmd.liveBand().mirror = true;
  link.DrainInput();
  EditorSlotValues v = host_.slotValues(slot);
  network::ReadSlotParameters(bus, v);
  for (int c = 0; c < 4; ++c) {
    if (bus.ReadParameter(protocol::param::kFirstChannelOn + c))
      v.muted[static_cast<std::size_t>(c)] = bus.ParameterValue == 0;
  }
  if (bus.ReadParameter(protocol::param::kAmpLevel)) v.ampLevel = bus.ParameterValue;
  host_.storeSlotValues(slot, v);

  EditorLoading = true;
  // The bands are filled for this machine now: their changes must reach the table and the
  // graph, even on the very first opening, before the window has been shown.
  EditorNotShown = false;
  LoadMachineEqForLocation(id, v.userPreset);
  EditorShown();
  SetTimer1(true);
  return true;
}

bool EditorState::LeaveMachineOtherThan(int slot) {
  auto& bus = commands().bus();
  // A selection the editor did not make is not the editor's to end.
  if (!bus.MachineSelected || selectedId_.empty()) return true;
  if (slot >= 0 && slot < host_.machineCount() && host_.machineId(slot) == selectedId_) return true;
  commands().EndAccess();
  SaveMachineEqForCurrentPreset(selectedId_);
  bus.ReleaseMachine();
  if (bus.MachineSelected) return false;
  selectedId_.clear();
  closeWindows();
  return true;
}

void EditorState::ResumeAfterRelease() {
  if (!editorVisible || selectedId_.empty() || commands().bus().MachineSelected) return;
  const std::string id = selectedId_;
  int slot = host_.currentMachine();
  if (slot < 0 || slot >= host_.machineCount() || host_.machineId(slot) != id) {
    slot = -1;
    for (int i = 0; i < host_.machineCount(); ++i)
      if (host_.machineId(i) == id) slot = i;
  }
  // Stored first, so that the opening below loads back the bands the operator left.
  SaveMachineEqForCurrentPreset(id);
  selectedId_.clear();
  if (slot < 0) {
    closeWindows();
    return;
  }
  OpenEditorForSlot(slot);
}

void EditorState::FillFromSlot(const EditorSlotValues& v) {
  // Always under EditorLoading: these are the machine's own values, never to be sent back, also
  // when the selection above failed and the editor was left as it was.
  EditorLoading = true;
  SetKnobPosition(0, v.outAttn12 - 191);
  SetKnobPosition(1, v.outAttn34 - 191);
  SetDelay(0, v.delay12);
  SetDelay(1, v.delay34);
  SetGainText(0, ShortNumber((v.gainA - 180) * 0.5));
  SetGainText(1, ShortNumber((v.gainB - 180) * 0.5));
  MuteState = v.muted;
  notify(EditorPart::Mutes);
  AmpLevelCode = v.ampLevel;
  const int slot = host_.currentMachine();
  processorId = (slot >= 0 && slot < host_.machineCount()) ? host_.machineId(slot) : selectedId_;
  if (v.hardwarePreset >= 0 && v.hardwarePreset <= 6)
    hwPresetName = network::CaptionText(host_.hardwarePresetName(v.hardwarePreset));  // "&&" is "&"
  else if (v.hardwarePreset == 7)
    hwPresetName = v.extraPresetName;
  else
    hwPresetName.clear();
  userPresetName = (v.userPreset >= 0 && v.userPreset <= 9) ? host_.userPresetName(v.userPreset) : std::string();
  notify(EditorPart::Identity);
  EditorLoading = false;
}

// ---- per-machine equaliser files

network::EqRecord EditorState::BuildEqRecord() const {
  network::EqRecord r;
  r.flatFlag = FlatMode ? 1 : 0;
  for (int i = 0; i < kBandCount; ++i) {
    const auto b = static_cast<std::size_t>(i);
    const BandStrip& strip = *bands_[b];
    r.freqHz[b] = static_cast<std::int32_t>(std::trunc(strip.FPotPos()));
    r.gainDb[b] = strip.GPotPos();
    r.q[b] = strip.QPotPos();
    r.savedGainDb[b] = static_cast<float>(FlatGainStash[b]);
  }
  return r;
}

void EditorState::ApplyEqRecord(const network::EqRecord& r) {
  GraphRedrawEnabled = false;
  for (auto* strip : bands_) strip->SetActive(false);
  SetFlatMode(r.flatFlag != 0);
  for (int i = 0; i < kBandCount; ++i)
    band(i).SetFPotPos(Within(static_cast<float>(r.freqHz[static_cast<std::size_t>(i)]), kFreqMinHz, kFreqMaxHz));
  for (auto* strip : bands_) strip->SetActive(true);
  for (int i = 0; i < kBandCount; ++i)
    band(i).SetGPotPos(Within(r.gainDb[static_cast<std::size_t>(i)], -kGainLimitDb, kGainLimitDb));
  for (int i = 0; i < kBandCount; ++i) band(i).SetQPotPos(Within(r.q[static_cast<std::size_t>(i)], kQMin, kQMax));
  for (std::size_t j = 0; j < FlatGainStash.size(); ++j)
    FlatGainStash[j] = Within(r.savedGainDb[j], -kGainLimitDb, kGainLimitDb);
  for (auto* strip : bands_) strip->Repaint();
  host_.frontend().processEvents();
  GraphRedrawEnabled = true;
  redrawGraph();
}

void EditorState::ResetEqDefaults() {
  // Nothing of the machine shown before may survive: its "Flat" stash would otherwise come back
  // on this machine with the next "EQ".
  SetFlatMode(false);
  FlatGainStash = {};
  for (int i = 0; i < kBandCount; ++i) {
    const auto b = static_cast<std::size_t>(i);
    band(i).SetFPotPos(static_cast<float>(network::kEqDefaults.freqHz[b]));
    band(i).SetGPotPos(0.0F);
    band(i).SetQPotPos(network::kEqDefaults.q[b]);
  }
  for (auto* strip : bands_) strip->Repaint();
  host_.frontend().processEvents();
  GraphRedrawEnabled = true;
  redrawGraph();
}

void EditorState::fileError(std::string_view text) {
  host_.frontend().messageBox(text, network::eqtexts::kFileErrorCaption, link::Buttons::OkCancel);
}

bool EditorState::writeEq(const std::filesystem::path& path) {
  std::string error;
  if (network::WriteEqFile(path, BuildEqRecord(), error)) return true;
  host_.frontend().setStatusDetail(error);  // the box keeps its fixed text; the tool tip says why
  fileError(network::eqtexts::kWriteError);
  return false;
}

bool EditorState::SaveMachineEq(std::string_view id) {
  if (!network::IsPlainIdentifier(id)) {
    fileError(network::eqtexts::kWriteError);
    return false;
  }
  return writeEq(network::LastEditEqPath(host_.dataDir(), id));
}

bool EditorState::SaveMachineEqForLocation(std::string_view id, int location) {
  if (!network::IsPlainIdentifier(id)) {
    fileError(network::eqtexts::kWriteError);
    return false;
  }
  return writeEq(network::PresetEqPath(host_.dataDir(), id, location));
}

bool EditorState::SaveMachineEqForCurrentPreset(std::string_view id) {
  for (int i = 0; i < host_.machineCount(); ++i) {
    if (host_.machineId(i) == id) return SaveMachineEqForLocation(id, host_.slotValues(i).userPreset);
  }
  // A machine no longer in the list keeps its bands in its last-edit file rather than nowhere.
  return SaveMachineEq(id);
}

void EditorState::applyLookup(const network::EqLookup& lookup) {
  if (!lookup.problems.empty()) {
    // A damaged file was moved aside (or could not be): the status line says so.
    std::string detail;
    for (const auto& line : lookup.problems) detail += (detail.empty() ? "" : "\n") + line;
    link::Frontend& fe = host_.frontend();
    fe.setStatusColour(link::kRed);
    fe.setStatusText(network::eqtexts::kFileErrorCaption);
    fe.setStatusDetail(detail);
  }
  if (lookup.result == network::EqFileResult::Error) {
    fileError(network::eqtexts::kReadError);  // the strips keep what they show
  } else if (lookup.source == network::EqSource::Defaults) {
    ResetEqDefaults();
  } else {
    ApplyEqRecord(lookup.record);
  }
}

void EditorState::LoadMachineEq(std::string_view id) {
  applyLookup(network::LookupMachineEq(host_.dataDir(), id, std::nullopt));
}

void EditorState::LoadMachineEqForLocation(std::string_view id, int location) {
  applyLookup(network::LookupMachineEq(host_.dataDir(), id, location));
}

}  // namespace qubix::editor
