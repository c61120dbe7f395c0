// The editor without its window, for the command-line tool and the benchmarks: the editing state
// over the main window's network manager, with ten band models in place of the strips, and the
// user preset operations on it.
#pragma once

#include <array>
#include <memory>

#include "editor/EditorState.h"
#include "editor/NetworkEditorHost.h"
#include "editor/UserPresets.h"
#include "network/EqFile.h"
#include "network/Station.h"

namespace qubix::editor {

struct HeadlessEditor {
  explicit HeadlessEditor(network::Station& st)
      : host(st.network, st.link, st.commands, st.frontend), state(host), presets(state) {
    std::array<BandStrip*, kBandCount> strips{};
    for (int i = 0; i < kBandCount; ++i) {
      const auto b = static_cast<std::size_t>(i);
      bands[b] = std::make_unique<BandModel>(static_cast<float>(network::kEqDefaults.freqHz[b]),
                                             network::kEqDefaults.q[b], filters::BandAddressAt(i));
      bands[b]->onChangePar = [this, i] { state.BandChanged(i); };
      strips[b] = bands[b].get();
    }
    state.attachBands(strips);
  }
  HeadlessEditor(const HeadlessEditor&) = delete;
  HeadlessEditor& operator=(const HeadlessEditor&) = delete;

  NetworkEditorHost host;
  EditorState state;
  UserPresets presets;
  std::array<std::unique_ptr<BandModel>, kBandCount> bands;
};

}  // namespace qubix::editor
