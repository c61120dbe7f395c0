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
    bus.beforeQuery = [this] { SetTimer1(false); };
    installedBeforeQuery_ = true;
  }
}

InputPolling::~InputPolling() {
  if (installedBeforeQuery_) commands_.bus().beforeQuery = nullptr;
}

void InputPolling::SetTimer1(bool running) {
  // The level refresh polls the indicators itself and starts the poll again when it ends: the
  // two never run together, whichever operation asks for the poll meanwhile.
  if (running && timer2Running_) return;
  if (timer1Running_ == running) return;
  timer1Running_ = running;
  view_.notify(EditorPart::Timers);
}

void InputPolling::SetTimer2(bool running) {
  if (timer2Running_ == running) return;
  timer2Running_ = running;
  view_.notify(EditorPart::Timers);
}

void InputPolling::HideLevelWindow() {
  if (!levelWindowVisible_) return;
  levelWindowVisible_ = false;
  view_.notify(EditorPart::LevelWindow);
}

void InputPolling::StopAll() {
  HideLevelWindow();
  SetTimer2(false);
  SetTimer1(false);
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
  SetTimer1(false);
  inputIndicator_ = {false, false};
  view_.notify(EditorPart::Indicators);
  SetTimer2(true);
  levelWindowVisible_ = true;
  view_.notify(EditorPart::LevelWindow);
  link.SetReadTimeout(link::kStandardTimeoutMs);
}

void InputPolling::PollLevelMeters() {
  auto& bus = commands_.bus();
  for (int k = 0; k < kMeterCount; ++k) {
    const std::uint16_t value = bus.ReadParameterChecked(kFirstLevelParameter + k);
    meters_[static_cast<std::size_t>(k)] = MeterFor(value, k < 2);
  }
  view_.notify(EditorPart::LevelMeters);
  if (bus.QueryStatus(texts::kStatusQuery)) ApplyStatusReply();
  if (++levelViewTicks_ >= kLevelViewTickLimit) {
    HideLevelWindow();
    SetTimer2(false);
    SetTimer1(true);
  }
}

}  // namespace qubix::editor
