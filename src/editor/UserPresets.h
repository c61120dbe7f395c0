// User presets: storing the editor's settings into one of the processor's eight locations,
// recalling one, and saving and loading preset files. Works on the editor's state; the window
// only forwards its four buttons here and shows the location dialogs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/EditorState.h"
#include "editor/UserPresetFile.h"
#include "protocol/Bus.h"

namespace qubix::editor {

inline constexpr std::uint32_t kRecallTimeoutMs = 2000;

enum class PresetButton { SaveToDsp, LoadFromDsp, SaveToFile, LoadFromFile };
enum class LocationDialog { Store, Recall };

// The processor's parameters read back after a recall, in reading order.
inline constexpr std::array<int, 8> kRecallParameters{
    protocol::param::kUserPreset, protocol::param::kDelay12, protocol::param::kDelay34,
    protocol::param::kGainA,      protocol::param::kGainB,   protocol::param::kOutAttn12,
    protocol::param::kOutAttn34,  protocol::param::kAmpLevel};

// What a recall read back: the parameters whose values could not be read (in reading order;
// the editor is closed then, as its controls would claim values the processor may not hold).
struct RecallResult {
  std::vector<int> unread;
  // Failed also when the recall was not acknowledged, a value was out of step or the
  // machine's file could not be written.
  protocol::Outcome outcome;
  bool ok() const { return unread.empty() && outcome.ok; }
};

// The title of the frontend's location question: "Select Location" or "Select User PreSet".
std::string_view LocationTitle(LocationDialog which);

// What the windows show of the user preset operations. Every call but the location question has
// a default that does nothing; without a view of its own the question goes to the frontend.
class UserPresetView {
 public:
  virtual ~UserPresetView() = default;
  // The location dialogs (TForm2 to store, TForm4 to recall); nothing picked is a cancel.
  virtual std::optional<int> askLocation(LocationDialog which, const std::string& processorId) = 0;
  // Each button's caption turns lime while its operation runs and yellow when it ends.
  virtual void showRunning(PresetButton /*button*/, bool /*running*/) {}
  // After a recall: the slot of the machine being edited shows its new user preset name.
  virtual void showSlotUserPreset(int /*slot*/, const std::string& /*name*/) {}
};

class UserPresets {
 public:
  explicit UserPresets(EditorState& editor);
  UserPresets(const UserPresets&) = delete;
  UserPresets& operator=(const UserPresets&) = delete;

  // Null goes back to the frontend's location question and no captions.
  void setView(UserPresetView* view) { view_ = view ? view : &frontendView_; }

  // The four buttons.
  void SaveToDspMemory();       // "    Save To DSP Memory"
  void LoadFromDspMemory();     // "   Load From DSP Memory"
  void SaveToComputerFile();    // "   Save To Computer HDD"
  void LoadFromComputerFile();  // "  Load From Computer HDD"
  // A failed store: the editor closes and the operator is told.
  void SaveEEpromFail();

  // The operations behind the buttons, without dialogs (the command-line tool uses them).
  // Store: done when every record was acknowledged and the location's file written (after a
  // failed record SaveEEpromFail has run).
  protocol::Outcome StoreToLocation(int location);
  // Recall: what could not be read back (after a failure the editor is closed and the operator
  // told).
  RecallResult RecallFromLocation(int location);
  // The record of the editor's current settings, as a preset file holds it.
  UserPresetRecord BuildRecord() const;
  // Empty on success, else the reason (after the "File Error" box).
  std::string SaveToFile(const std::string& path);
  // Applies a record to the editor and the processor in the order a file load sends it: failed
  // when a frame was not acknowledged.
  protocol::Outcome ApplyRecord(const UserPresetRecord& record);
  // Reads and applies a file; a file that cannot be used is refused with the "File Error"
  // box before anything is sent (the reason is then the file's).
  protocol::Outcome LoadFromFile(const std::string& path);

  // The record of the last preset file loaded or saved during this run.
  const UserPresetRecord& lastRecord() const { return last_; }

 private:
  void caption(PresetButton button, bool running);
  void beginBusOperation(PresetButton button);
  void failedRecall(const RecallResult& result);

  // The view of a program without location dialogs: the frontend asks.
  class FrontendView final : public UserPresetView {
   public:
    explicit FrontendView(link::Frontend& frontend) : frontend_(frontend) {}
    std::optional<int> askLocation(LocationDialog which, const std::string&) override;

   private:
    link::Frontend& frontend_;
  };

  EditorState& editor_;
  FrontendView frontendView_;
  UserPresetView* view_ = &frontendView_;
  UserPresetRecord last_{};
};

}  // namespace qubix::editor
