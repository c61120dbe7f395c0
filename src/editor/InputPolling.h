// The editor's two polls: the input indicators every 655 ms (Timer1) and, while the level
// window shows, the six level meters (Timer2). The two never run together. Every operation
// that uses the bus for something else stops them first and starts the indicator poll again
// when it ends.
#pragma once

#include <array>
#include <optional>

#include "editor/EditorView.h"
#include "editor/LevelMeter.h"
#include "protocol/Commands.h"

namespace qubix::editor {

inline constexpr int kTimer1IntervalMs = 655;

class InputPolling {
 public:
  InputPolling(protocol::Commands& commands, const EditorViewRef& view);
  ~InputPolling();
  InputPolling(const InputPolling&) = delete;
  InputPolling& operator=(const InputPolling&) = delete;

  // The timers the window runs; RunIndicatorPoll(true) is refused while the level refresh runs.
  void RunIndicatorPoll(bool running);
  void RunLevelRefresh(bool running);
  void HideLevelWindow();
  // What every operation that uses the bus otherwise does first: both polls stop and the level
  // window hides.
  void StopAll();

  void PollInputIndicators();  // the input indicator timer
  void PollLevelMeters();      // the level window's timer
  void ShowLevels();           // "  Show Levels"
  // The input indicators from a status reply's fourth character.
  void ApplyStatusReply();

  bool indicatorPollRunning() const { return indicatorPollRunning_; }
  bool levelRefreshRunning() const { return levelRefreshRunning_; }
  bool levelWindowVisible() const { return levelWindowVisible_; }
  int levelViewTicks() const { return levelViewTicks_; }
  const std::array<bool, 2>& inputIndicator() const { return inputIndicator_; }  // A, B
  const std::array<MeterSections, kMeterCount>& meters() const { return meters_; }
  // The same readings in dB, as the meters' scale reads them (MeterDb); empty for a reading
  // that failed (the meter then shows its floor).
  const std::array<std::optional<double>, kMeterCount>& levelsDb() const { return levelsDb_; }

 private:
  protocol::Commands& commands_;
  const EditorViewRef& view_;
  bool installedBeforeQuery_ = false;
  bool indicatorPollRunning_ = false;
  bool levelRefreshRunning_ = false;
  bool levelWindowVisible_ = false;
  int levelViewTicks_ = 0;
  std::array<bool, 2> inputIndicator_{};
  std::array<MeterSections, kMeterCount> meters_{};
  std::array<std::optional<double>, kMeterCount> levelsDb_{};
};

}  // namespace qubix::editor
