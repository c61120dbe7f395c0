#include "editor/UserPresets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "filters/Biquad.h"
#include "network/EqFile.h"
#include "network/NetworkTexts.h"
#include "protocol/WireCodes.h"

namespace qubix::editor {

namespace {
constexpr int kUserPresetNames = 10;

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }
}  // namespace

UserPresets::UserPresets(EditorState& editor) : editor_(editor), frontendView_(editor.frontend()) {}

std::string_view LocationTitle(LocationDialog which) {
  return which == LocationDialog::Store ? texts::kSelectLocation : texts::kSelectUserPreset;
}

std::optional<int> UserPresets::FrontendView::askLocation(LocationDialog which,
                                                          const std::string&) {
  return frontend_.askLocation(LocationTitle(which));
}

void UserPresets::caption(PresetButton button, bool running) {
  view_->showRunning(button, running);
}

// What every bus operation of this class does first: keep the level poll and the indicator
// poll off the bus while it runs.
void UserPresets::beginBusOperation(PresetButton button) {
  caption(button, true);
  auto& fe = editor_.frontend();
  fe.setBusyCursor(true);
  fe.processEvents();
  editor_.stopEditorActivity();
}

// ------------------------------------------------------------------ store

void UserPresets::SaveToDspMemory() {
  beginBusOperation(PresetButton::SaveToDsp);
  const std::optional<int> location =
      view_->askLocation(LocationDialog::Store, editor_.processorId());
  bool stored = true;
  if (location) stored = StoreToLocation(*location).ok;
  if (stored) editor_.ResumeIndicatorPoll();
  caption(PresetButton::SaveToDsp, false);
  editor_.frontend().setBusyCursor(false);
}

protocol::Outcome UserPresets::StoreToLocation(int location) {
  protocol::Commands& commands = editor_.commands();
  protocol::FaultWatch watch(commands.bus());
  for (int n = 0; n < kBandCount; ++n) {
    const std::optional<filters::BiquadCoefficients> band = editor_.ComputeBand(n);
    // A band whose coefficients cannot be computed is left as the location held it.
    if (!band) continue;
    const filters::BiquadCoefficients& c = *band;
    const std::array<float, 5> words{static_cast<float>(c.b2), static_cast<float>(c.b0),
                                     static_cast<float>(c.b1), static_cast<float>(c.a2),
                                     static_cast<float>(c.a1)};
    if (!commands.StoreBandToLocation(location, n, words)) {
      protocol::Outcome failed = watch.outcome();
      SaveEEpromFail();
      return failed;
    }
  }
  protocol::SettingsRecord settings;
  settings.gainACode = editor_.GainCode(0);
  settings.gainBCode = editor_.GainCode(1);
  settings.attenuation12Code = protocol::codes::AttenuationCode(editor_.knobPosition()[0]);
  settings.attenuation34Code = protocol::codes::AttenuationCode(editor_.knobPosition()[1]);
  settings.delay12 = editor_.delay()[0];
  settings.delay34 = editor_.delay()[1];
  settings.ampLevelCode = editor_.ampLevelCode();
  if (!commands.StoreSettingsToLocation(location, settings)) {
    protocol::Outcome failed = watch.outcome();
    SaveEEpromFail();
    return failed;
  }
  // The location holds what the strips show now; what the machine runs has not changed.
  return editor_.StoreBandsForLocation(location);
}

void UserPresets::SaveEEpromFail() {
  link::Frontend& fe = editor_.frontend();
  fe.setStatusText(texts::kEEPromError);
  editor_.CloseEditor();
  fe.messageBox(texts::kEEPromError, texts::kEEPromError, link::Buttons::Ok);
  fe.setStatusColour(link::kRed);
  fe.setStatusText(texts::kNothingSelected);
}

// ------------------------------------------------------------------ recall

void UserPresets::LoadFromDspMemory() {
  beginBusOperation(PresetButton::LoadFromDsp);
  const std::optional<int> location =
      view_->askLocation(LocationDialog::Recall, editor_.processorId());
  const bool recalled = !location || RecallFromLocation(*location).ok();
  // After a failed read-back the editor is closed: its poll stays stopped.
  if (recalled) editor_.ResumeIndicatorPoll();
  caption(PresetButton::LoadFromDsp, false);
  editor_.frontend().setBusyCursor(false);
}

RecallResult UserPresets::RecallFromLocation(int location) {
  protocol::Commands& commands = editor_.commands();
  protocol::Bus& bus = commands.bus();
  link::Link& link = bus.link();
  link::Frontend& fe = editor_.frontend();
  protocol::FaultWatch watch(bus);
  link.SetReadTimeout(kRecallTimeoutMs);
  commands.RecallLocation(location);
  // The controls follow what the processor now holds, without sending it back.
  std::optional<EditorState::LoadingScope> loading(std::in_place, editor_);
  RecallResult result;
  int userPreset = -1;
  bool bandsLoaded = false;
  for (const int parameter : kRecallParameters) {
    // A reply lost or spoiled on the line is asked for once more; a machine that does not
    // answer twice is not asked for the rest.
    const std::uint64_t beforeRead = bus.faultCount();
    bool read = result.unread.empty() && bus.ReadParameter(parameter);
    if (!read && result.unread.empty()) {
      link.DrainInput();
      read = bus.ReadParameter(parameter);
      if (read) bus.withdrawFaultsSince(beforeRead);
    }
    if (!read) {
      result.unread.push_back(parameter);
      continue;
    }
    const int v = bus.ParameterValue;
    switch (parameter) {
      case protocol::param::kUserPreset:
        if (v >= 0 && v < kUserPresetNames) {
          userPreset = v;
          bandsLoaded = editor_.TakeRecalledLocation(v);
        }
        break;
      case protocol::param::kDelay12:
        editor_.SetDelay(0, v);
        break;
      case protocol::param::kDelay34:
        editor_.SetDelay(1, v);
        break;
      case protocol::param::kGainA:
        editor_.SetGainText(0, ShortNumber(protocol::codes::GainDb(v)));
        break;
      case protocol::param::kGainB:
        editor_.SetGainText(1, ShortNumber(protocol::codes::GainDb(v)));
        break;
      case protocol::param::kOutAttn12:
        editor_.SetKnobPosition(0, protocol::codes::KnobPosition(v));
        break;
      case protocol::param::kOutAttn34:
        editor_.SetKnobPosition(1, protocol::codes::KnobPosition(v));
        break;
      case protocol::param::kAmpLevel:
        editor_.SetAmpLevelCode(v);
        break;
      default:
        break;
    }
    fe.processEvents();
  }
  link.SetReadTimeout(link::kStandardTimeoutMs);
  const int slot = editor_.RecordSlotUserPreset(userPreset);
  const bool presetUnread = std::find(result.unread.begin(), result.unread.end(),
                                      protocol::param::kUserPreset) != result.unread.end();
  view_->showSlotUserPreset(
      slot, presetUnread ? std::string(network::texts::kUnknownPreset) : editor_.userPresetName());
  loading.reset();
  result.outcome = watch.outcome();
  // A machine that loads another location than the one asked for runs something else.
  if (result.outcome.ok && userPreset >= 0 && userPreset != location)
    result.outcome =
        protocol::Outcome::Failed("the processor reports user preset " +
                                  std::to_string(userPreset) + ", not " + std::to_string(location));
  if (!result.ok()) {
    failedRecall(result);
    return result;
  }
  if (userPreset >= 0 && !bandsLoaded) {
    // It runs the bands of a location whose file could not be read: the strips do not show
    // them and its last-edit file cannot be brought to them. The editor closes without storing.
    const std::string id = editor_.selectedMachineId();
    result.outcome = protocol::Outcome::Failed(
        network::PresetEqPath(editor_.dataDir(), id, userPreset).string() +
        " could not be read: the bands the processor runs are not known");
    editor_.CloseWithoutStoringBands();
    editor_.ShowBusFailure(network::eqtexts::kFileErrorCaption, id + ": " + result.outcome.reason);
    return result;
  }
  // It runs what the location holds now: its last-edit file says so from here on.
  if (bandsLoaded) result.outcome = editor_.StoreRunningBands();
  return result;
}

void UserPresets::failedRecall(const RecallResult& result) {
  // Left open, the editor would show values the processor may no longer hold, and the next
  // change of a gain, delay or knob would send the unread one of its pair back over the recalled
  // setting. It closes as after a failed store, without storing its bands (they need not be the
  // location's); opening the slot again reads the machine afresh.
  const std::string id = editor_.selectedMachineId();
  editor_.CloseWithoutStoringBands();
  std::string unread;
  for (const int parameter : result.unread)
    unread += (unread.empty() ? "" : ", ") + std::to_string(parameter);
  editor_.ShowBusFailure(link::texts::kCommError, unread.empty()
                                                      ? id + ": " + result.outcome.reason
                                                      : "parameters " + unread + " of " + id +
                                                            " could not be read after the recall");
  editor_.frontend().messageBox(texts::kConnectionFail, "", link::Buttons::Ok);
}

// ------------------------------------------------------------------ files

UserPresetRecord UserPresets::BuildRecord() const {
  UserPresetRecord r;
  const network::EqRecord bands = editor_.BuildEqRecord();
  r.flatMode = bands.flatFlag;
  for (std::size_t c = 0; c < 4; ++c) r.muted[c] = editor_.muteState()[c] ? 1 : 0;
  r.freqHz = bands.freqHz;
  r.gainDb = bands.gainDb;
  r.q = bands.q;
  r.flatGainStash = bands.savedGainDb;
  r.inputGainA = Trunc(EditValue(editor_.gainText()[0]) * 2);
  r.inputGainB = Trunc(EditValue(editor_.gainText()[1]) * 2);
  r.delay12 = editor_.delay()[0];
  r.delay34 = editor_.delay()[1];
  r.knob12 = editor_.knobPosition()[0];
  r.knob34 = editor_.knobPosition()[1];
  r.ampLevelCode = editor_.ampLevelCode();
  return r;
}

std::string UserPresets::SaveToFile(const std::string& path) {
  std::filesystem::path target(path);
  if (!target.has_extension()) target.replace_extension(texts::kVupExtension);
  const UserPresetRecord record = BuildRecord();
  std::string error = WriteUserPresetFile(target.string(), record);
  if (!error.empty()) {
    link::Frontend& fe = editor_.frontend();
    fe.setStatusDetail(error);
    fe.messageBox(network::texts::kFileWriteError, network::texts::kFileErrorCaption,
                  link::Buttons::OkCancel);
    return error;
  }
  last_ = record;
  return {};
}

void UserPresets::SaveToComputerFile() {
  caption(PresetButton::SaveToFile, true);
  // The dialog opens in the presets folder with "preset.vup" proposed.
  const std::optional<std::string> path = editor_.frontend().askSaveFile(
      texts::kSaveToFile, texts::kVupFilter,
      (editor_.dataDir() / network::texts::kPresetsFolder / texts::kVupProposedName).string());
  if (path) SaveToFile(*path);
  caption(PresetButton::SaveToFile, false);
}

protocol::Outcome UserPresets::ApplyRecord(const UserPresetRecord& r) {
  const protocol::FaultWatch watch = editor_.watchFaults();
  editor_.SuspendGraphRedraw();
  editor_.SetFlatMode(r.flatMode != 0);
  // Each toggle flips the channel to the file's state and sends its level with the level code
  // in force before the load.
  for (int c = 0; c < 4; ++c) {
    editor_.SetMute(c, r.muted[static_cast<std::size_t>(c)] != 0);
  }
  editor_.SetGainText(0, ShortNumber(r.inputGainA * 0.5));
  editor_.SetGainText(1, ShortNumber(r.inputGainB * 0.5));
  editor_.SetDelay(0, r.delay12);
  editor_.SetDelay(1, r.delay34);
  editor_.SetKnobPosition(0, r.knob12);
  editor_.SetKnobPosition(1, r.knob34);
  editor_.SetAmpLevelCode(r.ampLevelCode);
  // The bands go through the same path as a per-machine equaliser file: frequencies with the
  // strips inactive, then gains and Qs, each of which writes the band.
  network::EqRecord bands;
  bands.flatFlag = r.flatMode;
  bands.freqHz = r.freqHz;
  bands.gainDb = r.gainDb;
  bands.q = r.q;
  bands.savedGainDb = r.flatGainStash;
  editor_.ApplyEqRecord(bands);
  return watch.outcome().also(editor_.BandsOutcome());
}

protocol::Outcome UserPresets::LoadFromFile(const std::string& path) {
  UserPresetReadResult result = ReadUserPresetFile(path);
  if (result.error == PresetFileError::Missing) return protocol::Outcome::Failed(result.detail);
  if (!result.ok()) {
    link::Frontend& fe = editor_.frontend();
    fe.setStatusDetail(result.detail);
    fe.messageBox(network::texts::kFileReadError, network::texts::kFileErrorCaption,
                  link::Buttons::OkCancel);
    return protocol::Outcome::Failed(result.detail);
  }
  last_ = result.record;
  return ApplyRecord(result.record);
}

void UserPresets::LoadFromComputerFile() {
  caption(PresetButton::LoadFromFile, true);
  const std::optional<std::string> path =
      editor_.frontend().askOpenFile(texts::kLoadFromFile, texts::kVupFilter,
                                     (editor_.dataDir() / network::texts::kPresetsFolder).string());
  if (path) LoadFromFile(*path);
  caption(PresetButton::LoadFromFile, false);
}

}  // namespace qubix::editor
