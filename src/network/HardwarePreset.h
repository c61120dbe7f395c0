// Switching a machine's hardware preset and uploading an Extra preset: the two operations of the
// "Change HardWare PreSet" dialog. Both select the slot's machine themselves unless the editor
// already holds that very machine, and both hand the bus back as they found it, whichever way
// they end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/Frontend.h"
#include "link/Link.h"
#include "network/NetworkManager.h"
#include "network/NetworkTexts.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"

namespace qubix::network {

inline constexpr int kPresetDialogClose = 100;
inline constexpr std::uint32_t kPresetAckTimeoutMs = 12000;
inline constexpr std::uint32_t kPresetSettleTimeoutMs = 4000;

// "r" + ByteToHex(p) + ByteToHex(−p): "r0000" … "r07f9".
std::string HardwarePresetFrame(int preset);

// What the main window and the dialog show of a change or an upload. Every call has a default
// that does nothing, so that the command-line tool and the tests show only what they need.
class PresetView {
 public:
  virtual ~PresetView() = default;
  // The modal dialog for slot k: 1 … 8 for a configuration, kPresetDialogClose for "    Close".
  virtual int askHardwarePreset(int /*slot*/) { return kPresetDialogClose; }
  // The slot's waiting look: label "....wait....", picture hidden, busy clip running.
  virtual void showWaiting(int /*slot*/) {}
  // The slot's hardware preset label and picture after a change (the picture is loaded when
  // display.picture is set), or restored after a change that ended early.
  virtual void showHardwarePreset(int /*slot*/, const SlotDisplay& /*display*/) {}
  virtual void stopWaiting(int /*slot*/) {}
  // The dialog's progress bar (range 0 … 3726).
  virtual void showProgress(bool /*shown*/) {}
  virtual void setProgress(int /*position*/) {}
  // The dialog's Extra preset name label.
  virtual void setExtraLabel(std::string_view /*text*/) {}
};

// The upload's clock: 100 ms ticks counted while it runs. In the program the main window's
// 100 ms timer counts them (its view runs the timer, Tick() is its time-out); the
// command-line tool and the tests, which run no timer, count them from a clock instead (the
// simulator's virtual one there), so that waiting for 50 ticks costs no real time.
class TickCounter {
 public:
  TickCounter() = default;
  // The clock is the link's (the composition root hands it out): the two are core objects.
  explicit TickCounter(std::function<double()> nowMs) : nowMs_(std::move(nowMs)) {}
  // The window whose timer counts the ticks; null for none.
  void setView(NetworkView* view) { view_ = view; }
  void start();
  void stop();
  void reset();
  bool running() const { return running_; }
  int ticks() const;
  // One time-out of the timer.
  void Tick();

 private:
  std::function<double()> nowMs_;
  NetworkView* view_ = nullptr;
  bool running_ = false;
  int count_ = 0;
  double countedFromMs_ = 0.0;
};

// The editor as a change or an upload meets it: it may hold a machine of its own on the bus.
// Whoever assembles the program joins the two (the editor windows, the tests); the command-line
// tool has no editor.
class EditorAccess {
 public:
  virtual ~EditorAccess() = default;
  // Before an upload: the editor's two timers stop and its level window hides.
  virtual void stopEditorActivity() = 0;
  // Asked while a machine is selected, before a change or an upload for slot k: when the editor
  // holds a machine other than the slot's, it ends its work there and releases it, so that the
  // slot's own machine is selected instead. False when that release failed: nothing is sent.
  virtual bool leaveMachineOtherThan(int slot) = 0;
  // A change or an upload has ended, however it ended: both release the machine they worked
  // on, and the editor takes its own machine back if that was the one.
  virtual void resumeAfterRelease() = 0;
  // The program ends with the editor open: the editor leaves its machine as " Close" does.
  virtual void closeForExit() {}
};

enum class PresetChangeOutcome {
  Closed,           // "    Close": nothing sent
  SelectFailed,     // the select frame was not written or not acknowledged
  NotConnected,     // the link was down: nothing sent
  NotAcknowledged,  // the preset command was not written or not acknowledged
  NotConfirmed,     // acknowledged, but the preset it now runs could not be read back
  LinkLost,         // the adapter went away during the change: it ended there
  ExchangeFailed,   // switched and read back, but an exchange on the way failed (see the bus)
  Done,
};

// What a change came to, in the words the tool and the service report it with.
std::string_view PresetChangeText(PresetChangeOutcome outcome);

enum class UploadOutcome {
  Done,
  SelectFailed,
  Cancelled,       // the open dialog was cancelled
  FileError,       // the file could not be read
  CorruptedFile,   // wrong size or checksum
  WriteFailed,     // " Fatal Error on Loading"
  Refused,         // " UpLoading Fail"
  EchoFailed,      // (01)
  ReadBackFailed,  // (02)
  NoFinalAck,      // (03)
  EndRefused,      // the payload was confirmed, the end of access was not: the preset is in doubt
};

class HardwarePresets {
 public:
  HardwarePresets(link::Link& link, protocol::Bus& bus, protocol::Commands& commands,
                  link::Frontend& frontend, NetworkManager& network, TickCounter& ticks);

  void setView(PresetView* view) { view_ = view ? view : &noView_; }
  // Null: no editor to stop, leave or give its machine back.
  void setEditor(EditorAccess* editor) { editor_ = editor; }

  // The click on slot k's hardware preset picture: dialog, then the change.
  PresetChangeOutcome ChangeHardwarePreset(int slot);
  // The change itself once a configuration (0 … 7) is picked.
  PresetChangeOutcome ApplyHardwarePreset(int slot, int preset);

  // " Load New ": asks for the file, then uploads it to slot k's machine.
  UploadOutcome UploadExtraPreset(int slot);
  // The upload of a file already chosen (the command-line tool).
  UploadOutcome UploadExtraPresetFile(int slot, const std::string& path);

  // The slot whose dialog was opened last.
  int presetSlot = 0;

 private:
  struct Selection {
    bool ok = false;
    bool selectedHere = false;
  };
  PresetChangeOutcome applyHardwarePreset(int slot, int preset);
  // The bus's fault count when the change began (after the drain of what an earlier operation
  // left): any fault since makes a switched preset a failed change.
  std::uint64_t faultMark_ = 0;
  // Waits for the line to fall quiet when an exchange has failed since it was last known quiet:
  // a late reply of that exchange may still be on its way and would answer the select.
  void settleAfterFaults();
  // The bus's fault count when the line was last known quiet (after a drain, or at the end of a
  // change or upload that went through).
  std::uint64_t faultsWhenQuiet_ = 0;
  Selection selectSlotMachine(int slot);
  void endAccessAndRelease();
  SlotDisplay displayOf(int slot) const;
  UploadOutcome upload(int slot, const std::optional<std::string>& chosenPath);
  UploadOutcome fail(std::string_view text, UploadOutcome outcome);
  UploadOutcome badFile(std::string_view text, UploadOutcome outcome);
  // Reads one byte, letting events run, until one arrives or 50 ticks pass.
  std::optional<std::uint8_t> awaitByte();
  // "J0745b4" went out and the payload is not complete: the processor may be receiving.
  bool receiving_ = false;

  link::Link& link_;
  protocol::Bus& bus_;
  protocol::Commands& commands_;
  link::Frontend& frontend_;
  NetworkManager& network_;
  TickCounter& ticks_;
  PresetView noView_;
  PresetView* view_ = &noView_;
  EditorAccess* editor_ = nullptr;
};

}  // namespace qubix::network
