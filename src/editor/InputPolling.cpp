#include "editor/InputPolling.h"

#include <cstdint>

#include "editor/EditorTexts.h"
#include "link/Link.h"

namespace qubix::editor {

namespace {
constexpr std::uint32_t kLevelDrainTimeoutMs = 20;
}  // namespace

InputPolling::InputPolling(protocol::Commands& commands, const EditorViewRef& view)
    : commands_(commands), view_(view) {
  // A status query on the bus from anywhere stops the indicator poll. The bus and the editor
  // are two core objects joined here; the hook goes with the editor.
  auto& bus = commands_.bus();
  if (!bus.beforeQuery) {
    bus.beforeQuery = [this] { RunIndicatorPoll(false); };
    installedBeforeQuery_ = true;
  }
}

InputPolling::~InputPolling() {
  if (installedBeforeQuery_) commands_.bus().beforeQuery = nullptr;
}

void InputPolling::RunIndicatorPoll(bool running) {
  // The level refresh polls the indicators itself and starts the poll again when it ends: the
  // two never run together, whichever operation asks for the poll meanwhile.
  if (running && levelRefreshRunning_) return;
  if (indicatorPollRunning_ == running) return;
  indicatorPollRunning_ = running;
  view_.notify(EditorPart::Timers);
}

void InputPolling::RunLevelRefresh(bool running) {
  if (levelRefreshRunning_ == running) return;
  levelRefreshRunning_ = running;
  view_.notify(EditorPart::Timers);
}

void InputPolling::HideLevelWindow() {
  if (!levelWindowVisible_) return;
  levelWindowVisible_ = false;
  view_.notify(EditorPart::LevelWindow);
}

void InputPolling::StopAll() {
  HideLevelWindow();
  RunLevelRefresh(false);
  RunIndicatorPoll(false);
}

void InputPolling::ApplyStatusReply() {
  const char c = static_cast<char>(commands_.bus().StatusReply[3]);
  if (c < '0' || c > '3') return;
  const int bits = c - '0';
  inputIndicator_ = {(bits & 2) != 0, (bits & 1) != 0};
  view_.notify(EditorPart::Indicators);
}

void InputPolling::PollInputIndicators() {
  if (commands_.bus().QueryStatus(texts::kStatusQuery)) ApplyStatusReply();
}

void InputPolling::ShowLevels() {
  auto& link = commands_.bus().link();
  link.SetReadTimeout(kLevelDrainTimeoutMs);
  levelViewTicks_ = 0;
  link.DrainInput();
  RunIndicatorPoll(false);
  inputIndicator_ = {false, false};
  view_.notify(EditorPart::Indicators);
  RunLevelRefresh(true);
  levelWindowVisible_ = true;
  view_.notify(EditorPart::LevelWindow);
  link.SetReadTimeout(link::kStandardTimeoutMs);
}

void InputPolling::PollLevelMeters() {
  auto& bus = commands_.bus();
  for (int k = 0; k < kMeterCount; ++k) {
    const bool read = bus.ReadParameter(kFirstLevelParameter + k);
    const std::uint16_t value = read ? bus.ParameterValue : 0;
    meters_[static_cast<std::size_t>(k)] = MeterFor(value, k < 2);
    levelsDb_[static_cast<std::size_t>(k)] =
        read ? std::optional<double>(MeterDb(value, k < 2)) : std::nullopt;
  }
  view_.notify(EditorPart::LevelMeters);
  if (bus.QueryStatus(texts::kStatusQuery)) ApplyStatusReply();
  if (++levelViewTicks_ >= kLevelViewTickLimit) {
    HideLevelWindow();
    RunLevelRefresh(false);
    RunIndicatorPoll(true);
  }
}

}  // namespace qubix::editor
