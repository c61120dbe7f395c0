#include "editor/EditorSnapshot.h"

#include <cmath>

#include "editor/UserPresets.h"
#include "protocol/WireCodes.h"

namespace qubix::editor {

EditorValues EditorValues::Of(EditorState& state) {
  EditorValues v;
  const filters::FilterBands bands = state.bandSettings();
  for (std::size_t i = 0; i < bands.size(); ++i)
    v.bands[i] = {bands[i].freqHz, bands[i].gainDb, bands[i].q};
  v.gainText = state.gainText();
  v.knobPosition = state.knobPosition();
  v.delay = state.delay();
  v.muted = state.muteState();
  v.ampLevelCode = state.ampLevelCode();
  v.flat = state.flatMode();
  v.flatGainStash = state.flatGainStash();
  return v;
}

namespace {

// The values as a preset file holds them, for going back the way a preset load goes.
UserPresetRecord AsPreset(const EditorValues& v) {
  UserPresetRecord r;
  r.inputGainA = static_cast<std::int32_t>(std::trunc(EditValue(v.gainText[0]) * 2));
  r.inputGainB = static_cast<std::int32_t>(std::trunc(EditValue(v.gainText[1]) * 2));
  r.knob12 = v.knobPosition[0];
  r.knob34 = v.knobPosition[1];
  for (std::size_t c = 0; c < 4; ++c) r.muted[c] = v.muted[c] ? 1 : 0;
  r.delay12 = v.delay[0];
  r.delay34 = v.delay[1];
  r.flatMode = v.flat ? 1 : 0;
  for (std::size_t b = 0; b < v.bands.size(); ++b) {
    r.freqHz[b] = static_cast<std::int32_t>(std::trunc(v.bands[b].freqHz));
    r.gainDb[b] = v.bands[b].gainDb;
    r.q[b] = v.bands[b].q;
    r.flatGainStash[b] = static_cast<float>(v.flatGainStash[b]);
  }
  r.ampLevelCode = v.ampLevelCode;
  return r;
}

int GainCodeOf(const std::string& text) { return protocol::codes::GainCode(EditValue(text)); }

}  // namespace

void RestoreEditorValues(EditorState& state, const EditorValues& target, RestoreWay way) {
  // The level first: a preset step only records it, and the mute toggles below send each
  // channel's level with the code in force.
  if (state.ampLevelCode() != target.ampLevelCode) state.SetAmpLevel(target.ampLevelCode);
  if (way == RestoreWay::AsPresetLoad) {
    UserPresets presets(state);
    presets.ApplyRecord(AsPreset(target));
  }
  // Whatever a preset load could not carry (a fraction of a hertz), and every single change,
  // goes through the control's own operation: the operator's frames, in the window's order.
  if (state.flatMode() != target.flat) state.ToggleFlat();
  for (int c = 0; c < 4; ++c)
    if (state.muteState()[static_cast<std::size_t>(c)] != target.muted[static_cast<std::size_t>(c)])
      state.ToggleMute(c);
  for (int i = 0; i < 2; ++i) {
    const auto k = static_cast<std::size_t>(i);
    // Compared as the code sent: a preset load writes "1" where the arrows wrote "1.0".
    if (state.GainCode(i) != GainCodeOf(target.gainText[k]))
      state.SetGainText(i, target.gainText[k]);
  }
  for (int p = 0; p < 2; ++p) {
    const auto k = static_cast<std::size_t>(p);
    if (state.delay()[k] != target.delay[k]) state.SetDelay(p, target.delay[k]);
  }
  for (int n = 0; n < 2; ++n) {
    const auto k = static_cast<std::size_t>(n);
    if (state.knobPosition()[k] != target.knobPosition[k])
      state.SetKnobPosition(n, target.knobPosition[k]);
  }
  for (int b = 0; b < kBandCount; ++b) {
    const EditorValues::Band& want = target.bands[static_cast<std::size_t>(b)];
    state.MoveBand(b, {want.freqHz, want.gainDb, want.q});
  }
  state.SetFlatGainStash(target.flatGainStash);
}

}  // namespace qubix::editor
