// The editing session of one machine: the processor editor without its window. It opens a
// machine from its slot, leaves it for another and closes it, and carries out every operation
// of the editor's controls (bands, "Flat", gains, attenuation, delays, mutes, amplifier,
// Copy to All, power-on setting) with the exact sequence each one puts on the bus (the frames of
// taking a machine in MachineSelection, the walk of Copy to All in CopyToAll). The two
// polls live in InputPolling and the per-machine equaliser files in EqFileStore, both owned
// here. The window (TForm1) is a view over this object: its handlers forward here and it
// redraws the parts reported as changed (EditorView). The whole path from a click on a slot to
// a live band write is tested without a display.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "editor/BandStrip.h"
#include "editor/EditorHost.h"
#include "editor/EditorTexts.h"
#include "editor/EditorView.h"
#include "editor/EqFileStore.h"
#include "editor/InputPolling.h"
#include "filters/FilterText.h"
#include "filters/Response.h"
#include "network/EqFile.h"
#include "network/HardwarePreset.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "protocol/NumberText.h"
#include "protocol/Outcome.h"

namespace qubix::editor {

// The attenuation knobs' range: 0 … 64, 64 = 0 dB.
inline constexpr int kKnobMax = 64;
// The input gains' up-downs in half-dB steps (−48 … +12 dB) and the delay fields' range.
inline constexpr int kGainUpDownMin = -96, kGainUpDownMax = 24;
inline constexpr int kDelayMax = 310;
// The order in which the window created its strips, which "Flat" and its stash follow.
inline constexpr std::array<int, kBandCount> kStripCreationOrder{9, 0, 1, 2, 3, 4, 5, 6, 7, 8};

class EditorState final : public network::EditorAccess, public EqBandsHolder {
 public:
  explicit EditorState(EditorHost& host);
  EditorState(const EditorState&) = delete;
  EditorState& operator=(const EditorState&) = delete;

  // The ten strips in band order; their change events must reach BandChanged(index).
  void attachBands(const std::array<BandStrip*, kBandCount>& bands);
  void setView(EditorView* view) { view_.set(view); }

  // The polls' state as the window draws it (indicators, meters, timers); they are run through
  // the operations below.
  const InputPolling& polling() const { return polling_; }
  // The operator's window system and the data directory: what the editor's peers (user
  // presets, filter import) ask and report through. Neither is a part of the session.
  link::Frontend& frontend() { return host_.frontend(); }
  std::filesystem::path dataDir() const { return host_.dataDir(); }

  // ---- what the window shows
  // Nothing is sent before the window was first shown (or a machine was opened).
  bool editorNotShown() const { return editorNotShown_; }
  // The controls are being filled with the machine's own values: nothing is sent back.
  bool editorLoading() const { return editorLoading_; }
  bool graphRedrawEnabled() const { return graphRedrawEnabled_; }
  const std::array<bool, 4>& muteState() const { return muteState_; }
  std::int32_t ampLevelCode() const { return ampLevelCode_; }
  bool flatMode() const { return flatMode_; }
  const std::array<double, kBandCount>& flatGainStash() const { return flatGainStash_; }
  // Rows b0, b1, b2, a1, a2; column = band index. The response graph reads it.
  const filters::BandCoefficientTable& coefficientTable() const { return coefficients_; }
  const std::array<std::string, 2>& gainText() const { return gainText_; }  // Input A, Input B
  const std::array<int, 2>& gainUpDown() const { return gainUpDown_; }      // half-dB steps
  const std::array<int, 2>& knobPosition() const { return knobPosition_; }
  const std::array<double, 2>& knobValue() const { return knobValue_; }
  const std::array<int, 2>& delay() const { return delay_; }  // Ch1/Ch2, Ch3/Ch4
  bool overflow() const { return overflow_; }
  const std::string& processorId() const { return processorId_; }
  const std::string& hwPresetName() const { return hwPresetName_; }
  const std::string& userPresetName() const { return userPresetName_; }
  bool powerOnRunning() const { return powerOnRunning_; }
  bool editorVisible() const { return editorVisible_; }
  bool graphVisible() const { return graphVisible_; }

  // ---- operations of the window's controls
  void ShowLevels() { polling_.ShowLevels(); }                    // "  Show Levels"
  void PollInputIndicators() { polling_.PollInputIndicators(); }  // the indicator timer
  void PollLevelMeters() { polling_.PollLevelMeters(); }          // the level window's timer
  void EditorShown();
  void EditorHidden();
  // F1 … F4 (key 1 … 4); ignored with Ctrl or Alt.
  void FunctionKeyReleased(int functionKey, bool ctrl, bool alt);
  // The up-down of a gain (0 Input A, 1 Input B) moved to position, in half-dB steps.
  void SetGainUpDown(int input, int position);
  // An arrow of a gain (field 0 Input A, 1 Input B) or a delay (2 Ch1/Ch2, 3 Ch3/Ch4) field,
  // one step up (+1) or down (-1).
  void ArrowClick(int field, int step);
  // The program (or an arrow) changed a gain text: both codes go out.
  void SetGainText(int input, std::string text);
  void SetDelay(int pair, int value);
  void SetKnobPosition(int knob, int position);
  void ToggleMute(int channel);  // 0 … 3
  // Sets a channel's mute by toggling it from the other state, so that its level goes out.
  void SetMute(int channel, bool muted);
  // True when the band went out and the processor took it (false also when nothing was sent).
  bool BandChanged(int bandIndex);
  // The strips take the bands' frequencies, gains and Qs quietly (out of "Flat"), then each band
  // goes out once, as one change of the operator's would send it: true when every band was taken.
  bool LoadBands(const filters::FilterBands& bands);
  // Both input gains take the same number of half-dB steps (within the up-downs' range) and go
  // out together: true when the processor took them.
  bool SetBothInputGains(int halfDbSteps);
  // A strip's pots move to the band's values, each one that changes as the operator's would
  // (its change sends the band).
  void MoveBand(int index, const filters::FilterBand& to);
  // The strips' frequencies, gains and Qs.
  filters::FilterBands bandSettings() const;
  // A band's coefficients computed afresh from its strip; none when they cannot be computed.
  std::optional<filters::BiquadCoefficients> ComputeBand(int index);
  void ToggleFlat();  // "Flat" / "EQ"
  // " Copy to All": failed when a machine did not take every band (it is named).
  protocol::Outcome CopyBandsToAllMachines();
  void ApplyAmpTrim(float ampTrimDb);  // " Amp Setting " accepted
  // The amplifier level as its code: kept and sent, as " Amp Setting " does.
  void SetAmpLevel(std::int32_t code);
  void SaveAsPowerOnSetting();  // " Save As PowerOn Setting"
  // " Close" (also the main window's Exit with the editor open): the machine's last-edit file
  // takes the bands it acknowledged, editing ends and the machine is released. Failed when a
  // band the editor shows was not taken, an exchange failed or the file could not be written.
  protocol::Outcome CloseEditor();
  // The close without storing the bands, for when they are not known to be the machine's: the
  // processor is told that editing ends and is released, and the windows are hidden.
  void CloseWithoutStoringBands();

  // ---- opening from a slot
  // Failed when the machine was not selected or a value the editor shows could not be read:
  // the editor is then closed and the machine released.
  protocol::Outcome OpenEditorForSlot(int slot);
  // Failed when the machine was not selected or its values could not be read; an editor that
  // was open is then closed, its former machine left as on opening another slot.
  protocol::Outcome SelectMachineForEditing(int slot);
  // Before another operation addresses slot k's machine: when the editor holds a different
  // machine, its work there ends as on opening another slot (access ended, bands stored, machine
  // released) and the editor closes. False when that machine could not be released.
  bool LeaveMachineOtherThan(int slot);
  // After another operation (a hardware preset change, an Extra preset upload) released the
  // machine the editor is open on: its bands are stored and it is selected again as on opening,
  // so that the next edit reaches it. Does nothing while the machine is still selected.
  void ResumeAfterRelease();
  const std::string& selectedMachineId() const { return selectedId_; }

  // network::EditorAccess: what the hardware preset operations ask of the editor.
  void stopEditorActivity() override;
  bool leaveMachineOtherThan(int slot) override { return LeaveMachineOtherThan(slot); }
  void resumeAfterRelease() override { ResumeAfterRelease(); }
  void closeForExit() override;

  // ---- the bands as an equaliser file holds them (EqBandsHolder)
  network::EqRecord BuildEqRecord() const override;
  // The bands as the machine last acknowledged them (loaded from its file or the defaults on
  // opening, then each band as its write was acknowledged), with the "Flat" state and stash.
  network::EqRecord AcknowledgedEqRecord() const;
  // Done, or which bands the editor shows that the machine did not take.
  protocol::Outcome BandsOutcome() const;
  // The bands whose last write the machine did not acknowledge (what BandsOutcome names).
  const std::array<bool, kBandCount>& unconfirmedBands() const { return unconfirmed_; }
  // The last-edit file of the machine held takes the bands it runs (after a recall).
  protocol::Outcome StoreRunningBands() {
    return storeRunningBands(selectedId_, /*onlyWhenChanged=*/false);
  }
  void ApplyEqRecord(const network::EqRecord& record) override;
  void ResetEqDefaults() override;

  // ---- for the user preset operations and the filter import
  bool machineSelected() const { return host_.commands().bus().MachineSelected; }
  // A watch on the bus's fault journal from now on.
  protocol::FaultWatch watchFaults() const { return protocol::FaultWatch(host_.commands().bus()); }
  // After an operation that stopped the polls (stopEditorActivity) went through.
  void ResumeIndicatorPoll() { polling_.RunIndicatorPoll(true); }
  // The location's file takes the bands the strips show (nothing without a machine held).
  protocol::Outcome StoreBandsForLocation(int location);
  // A recall of location brought the machine to it: the user preset's name, and the bands of
  // its file (or the defaults). False when a file existed but could not be read.
  bool TakeRecalledLocation(int location);
  // The slot of the machine being edited (-1 when none) records its new user preset.
  int RecordSlotUserPreset(int userPreset);
  // While a scope lives, the controls take values without sending them (the machine's own
  // values, or values that go out together afterwards); with graphWaits the graph is not drawn
  // until the scope ends. One bracket, always closed.
  class LoadingScope {
   public:
    explicit LoadingScope(EditorState& state, bool graphWaits = false)
        : state_(state), graphWaits_(graphWaits) {
      state_.editorLoading_ = true;
      if (graphWaits_) state_.graphRedrawEnabled_ = false;
    }
    ~LoadingScope() {
      state_.editorLoading_ = false;
      if (graphWaits_) state_.graphRedrawEnabled_ = true;
    }
    LoadingScope(const LoadingScope&) = delete;
    LoadingScope& operator=(const LoadingScope&) = delete;

   private:
    EditorState& state_;
    bool graphWaits_;
  };
  // The graph waits while the bands are filled together, until a band load lets it draw again.
  void SuspendGraphRedraw() { graphRedrawEnabled_ = false; }
  // The amplifier level code the processor holds; nothing is sent.
  void SetAmpLevelCode(std::int32_t code) { ampLevelCode_ = code; }
  void SetFlatMode(bool flat);
  // The gains "EQ" brings back, as they were at an earlier point of the editing (undo).
  void SetFlatGainStash(const std::array<double, kBandCount>& stash) { flatGainStash_ = stash; }
  int GainCode(int input) const;
  void FillFromSlot(const EditorSlotValues& values);
  // After an operation some of whose exchanges failed: the status line goes red with the text
  // of the failure ("Connection Fail" once the adapter is gone), which later good exchanges had
  // replaced with "Status Ok"; detail names what was not done (the line's tool tip).
  void ShowBusFailure(std::string_view text, std::string_view detail);
  // Label15 after a recall of a user preset location.
  void SetUserPresetName(std::string name);

  const BandStrip& band(int index) const { return *bands_[static_cast<std::size_t>(index)]; }

 private:
  // The user preset store and recall send frames of their own over the editor's commands.
  friend class UserPresets;
  protocol::Commands& commands() { return host_.commands(); }
  BandStrip& bandStrip(int index) { return *bands_[static_cast<std::size_t>(index)]; }
  void closeWindows();
  // Leaving the machine the editor holds: its last-edit file takes what it acknowledged, when a
  // band's write was acknowledged since the file was read or written, and no band the editor
  // shows is in doubt (a write the machine did not acknowledge may still have reached it: the
  // file then keeps the last state known for certain, and the operation says which band).
  protocol::Outcome storeRunningBands(const std::string& id, bool onlyWhenChanged = true);
  // After a failed opening: editing ends, the machine is released and the editor closes.
  void abandonOpening(const std::string& id, const protocol::Outcome& why);
  void takeLoadedBandsAsRunning();
  void notify(EditorPart part) { view_.notify(part); }
  void redrawGraph() { notify(EditorPart::Graph); }

  EditorHost& host_;
  EditorViewRef view_;
  InputPolling polling_;
  EqFileStore eqFiles_;
  std::array<BandStrip*, kBandCount> bands_{};
  bool liveBandFilled_ = false;
  // What the machine runs, as far as it acknowledged it; unknown until a file (or the defaults)
  // was loaded for the machine. unconfirmed_: bands whose last write was not acknowledged.
  network::EqRecord acknowledged_{};
  bool acknowledgedKnown_ = false;
  bool acknowledgedChanged_ = false;
  std::array<bool, kBandCount> unconfirmed_{};
  std::string selectedId_;

  bool editorNotShown_ = true;
  bool editorLoading_ = false;
  bool graphRedrawEnabled_ = true;
  std::array<bool, 4> muteState_{};
  std::int32_t ampLevelCode_ = 255;
  bool flatMode_ = false;
  std::array<double, kBandCount> flatGainStash_{};
  filters::BandCoefficientTable coefficients_{};
  std::array<std::string, 2> gainText_{"0.0", "0.0"};  // Edit3 (Input A), Edit4 (Input B)
  std::array<int, 2> gainUpDown_{0, 0};                // UpDown3, UpDown4
  std::array<int, 2> knobPosition_{64, 64};            // SSKnob1, SSKnob2
  std::array<double, 2> knobValue_{0.0, 0.0};
  std::array<int, 2> delay_{0, 0};  // Edit1, Edit2
  bool overflow_ = false;
  std::string processorId_ = "H000000000000";
  std::string hwPresetName_ = "AAAAA";
  std::string userPresetName_ = "AAAAA";
  bool powerOnRunning_ = false;
  bool editorVisible_ = false;
  bool graphVisible_ = false;
};

// Text of a number as the editor shows gains: one decimal ("-12.5", "0.0").
std::string OneDecimal(double value);
// The shortest general form the edits show when the program fills them ("0", "-3.5", "12").
using protocol::ShortNumber;
// Parses an edit's text as a number; text that is not a number counts as 0.
double EditValue(std::string_view text);

}  // namespace qubix::editor
