// The processor editor without its window: the editing state of the machine being edited and
// every operation of the editor's controls, with the exact sequence each one puts on the bus.
// The window (TForm1) is a view over this object: its handlers forward here and it redraws the
// parts this object reports as changed. Opening the editor from a slot lives here as well, so
// that the whole path from a click on a slot to a live band write is tested without a display.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "editor/EditorHost.h"
#include "editor/EditorTexts.h"
#include "editor/LevelMeter.h"
#include "filters/Biquad.h"
#include "filters/EqBands.h"
#include "filters/ParametricBand.h"
#include "filters/Response.h"
#include "network/EqFile.h"
#include "network/HardwarePreset.h"
#include "protocol/Commands.h"

namespace qubix::editor {

inline constexpr int kBandCount = filters::kBandCount;
inline constexpr int kTimer1IntervalMs = 655;
inline constexpr std::uint32_t kCopyToAllTimeoutMs = 500;
// The order in which the window created its strips, which "Flat" and its stash follow.
inline constexpr std::array<int, kBandCount> kStripCreationOrder{9, 0, 1, 2, 3, 4, 5, 6, 7, 8};


// What the editor needs of one band strip (a TParFilter on screen, a BandModel in tests). The
// pot setters compute the coefficients and raise the strip's change event.
class BandStrip {
 public:
  virtual ~BandStrip() = default;
  virtual float FPotPos() const = 0;
  virtual float GPotPos() const = 0;
  virtual float QPotPos() const = 0;
  virtual void SetFPotPos(float hz) = 0;
  virtual void SetGPotPos(float db) = 0;
  virtual void SetQPotPos(float q) = 0;
  virtual float FilterBlockQF() const = 0;
  virtual void SetFilterBlockQF(float qf) = 0;
  virtual std::int32_t FilterBlockAddr() const = 0;
  virtual int FBCalc() = 0;
  virtual filters::BiquadCoefficients Coefficients() const = 0;
  virtual void SetActive(bool active) = 0;
  virtual void Repaint() {}
};

// A strip without a display: its values, the parametric computation and the change event.
class BandModel final : public BandStrip {
 public:
  BandModel(float freqHz, float q, std::int32_t address, float filterBlockQF = 0.5F);
  float FPotPos() const override { return f_; }
  float GPotPos() const override { return g_; }
  float QPotPos() const override { return q_; }
  void SetFPotPos(float hz) override;
  void SetGPotPos(float db) override;
  void SetQPotPos(float q) override;
  float FilterBlockQF() const override { return qf_; }
  void SetFilterBlockQF(float qf) override { qf_ = qf; }
  std::int32_t FilterBlockAddr() const override { return address_; }
  int FBCalc() override;
  filters::BiquadCoefficients Coefficients() const override { return band_.Coefficients(); }
  void SetActive(bool active) override { active_ = active; }
  bool active() const { return active_; }

  // The strip's change event. Whoever assembles the editor joins it to BandChanged(index), as
  // the window joins its strips' events: band and editor are two core objects.
  std::function<void()> onChangePar;

 private:
  void changed();
  filters::ParametricBand band_;
  float f_, g_ = 0.0F, q_, qf_;
  std::int32_t address_;
  bool active_ = true;
};

// The parts of the window a change touches; the view redraws them from the state.
enum class EditorPart {
  Gains, Knobs, Delays, Mutes, Identity, FlatCaption, Overflow, Indicators,
  Graph, EditorWindow, LevelWindow, LevelMeters, Timers, PowerOnCaption,
};

class EditorView {
 public:
  virtual ~EditorView() = default;
  virtual void changed(EditorPart part) = 0;
};

class EditorState final : public network::EditorAccess {
 public:
  explicit EditorState(EditorHost& host);
  ~EditorState() override;
  EditorState(const EditorState&) = delete;
  EditorState& operator=(const EditorState&) = delete;

  // The ten strips in band order; their change events must reach BandChanged(index).
  void attachBands(const std::array<BandStrip*, kBandCount>& bands);
  void setView(EditorView* view) { view_ = view; }

  // ---- state shared with the main window and the graph
  bool EditorNotShown = true;
  bool EditorLoading = false;
  bool GraphRedrawEnabled = true;
  std::array<bool, 4> MuteState{};
  std::int32_t AmpLevelCode = 255;
  bool FlatMode = false;
  std::array<double, kBandCount> FlatGainStash{};
  // Rows b0, b1, b2, a1, a2; column = band index. The response graph reads it.
  filters::BandCoefficientTable BandCoefficientTable{};
  const int bandCount = kBandCount;

  // ---- what the controls show
  std::array<std::string, 2> gainText{"0.0", "0.0"};  // Edit3 (Input A), Edit4 (Input B)
  std::array<int, 2> gainUpDown{0, 0};                // UpDown3, UpDown4: half-dB steps
  std::array<int, 2> knobPosition{64, 64};            // SSKnob1, SSKnob2
  std::array<double, 2> knobValue{0.0, 0.0};
  std::array<int, 2> delay{0, 0};                     // Edit1, Edit2
  std::array<bool, 2> inputIndicator{};               // Input A, Input B
  bool overflow = false;
  std::string processorId = "H000000000000";
  std::string hwPresetName = "AAAAA";
  std::string userPresetName = "AAAAA";
  bool powerOnRunning = false;

  // ---- windows and timers
  bool editorVisible = false;
  bool graphVisible = false;
  bool levelWindowVisible = false;
  bool timer1Running = false;
  bool timer2Running = false;
  int LevelViewTicks = 0;
  std::array<MeterSections, kMeterCount> meters{};

  // ---- operations of the window's controls
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
  // True when the band went out and the processor took it (false also when nothing was sent).
  bool BandChanged(int bandIndex);
  void ToggleFlat();                   // "Flat" / "EQ"
  void CopyBandsToAllMachines();       // " Copy to All"
  void PollInputIndicators();          // the input indicator timer
  void PollLevelMeters();              // the level window's timer
  void ShowLevels();                   // "  Show Levels"
  void ApplyAmpTrim(float ampTrimDb);  // " Amp Setting " accepted
  // The amplifier level as its code: kept and sent, as " Amp Setting " does.
  void SetAmpLevel(std::int32_t code);
  void SaveAsPowerOnSetting();         // " Save As PowerOn Setting"
  void CloseEditor();                  // " Close"
  // The close without storing the bands, for when they are not known to be the machine's: the
  // processor is told that editing ends and is released, and the windows are hidden.
  void CloseWithoutStoringBands();

  // ---- opening from a slot
  void OpenEditorForSlot(int slot);
  // False when the machine was not selected; an editor that was open is then closed, its former
  // machine left as on opening another slot.
  bool SelectMachineForEditing(int slot);
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

  // ---- per-machine equaliser files
  network::EqRecord BuildEqRecord() const;
  void ApplyEqRecord(const network::EqRecord& record);
  void ResetEqDefaults();
  // The writers report whether the file was written (a failure has shown the "File Error" box).
  bool SaveMachineEq(std::string_view id);
  bool SaveMachineEqForLocation(std::string_view id, int location);
  bool SaveMachineEqForCurrentPreset(std::string_view id);
  void LoadMachineEq(std::string_view id);
  void LoadMachineEqForLocation(std::string_view id, int location);

  // ---- helpers the user preset code shares
  void HideLevelWindow();
  void SetTimer1(bool running);
  void SetTimer2(bool running);
  void SetFlatMode(bool flat);
  int GainCode(int input) const;
  void FillFromSlot(const EditorSlotValues& values);
  // After an operation some of whose exchanges failed: the status line goes red with the text
  // of the failure ("Connection Fail" once the adapter is gone), which later good exchanges had
  // replaced with "Status Ok"; detail names what was not done (the line's tool tip).
  void ShowBusFailure(std::string_view text, std::string_view detail);
  // The input indicators from a status reply's fourth character.
  void ApplyStatusReply();
  // Label15 after a recall of a user preset location.
  void SetUserPresetName(std::string name) {
    userPresetName = std::move(name);
    notify(EditorPart::Identity);
  }

  EditorHost& host() { return host_; }
  protocol::Commands& commands() { return host_.commands(); }
  BandStrip& band(int index) { return *bands_[static_cast<std::size_t>(index)]; }

 private:
  void closeWindows();
  void notify(EditorPart part);
  void redrawGraph();
  void fileError(std::string_view text);
  bool writeEq(const std::filesystem::path& path);
  void applyLookup(const network::EqLookup& lookup);

  EditorHost& host_;
  EditorView* view_ = nullptr;
  std::array<BandStrip*, kBandCount> bands_{};
  bool liveBandFilled_ = false;
  bool installedBeforeQuery_ = false;
  std::string selectedId_;
};

// Text of a number as the editor shows gains: one decimal ("-12.5", "0.0").
std::string OneDecimal(double value);
// The shortest general form the edits show when the program fills them ("0", "-3.5", "12").
std::string ShortNumber(double value);
// Parses an edit's text as a number; text that is not a number counts as 0.
double EditValue(std::string_view text);

}  // namespace qubix::editor
