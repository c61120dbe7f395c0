// The editor on the simulated bus without a window: a main-window stand-in holding the machine
// list and the records, ten band models wired to the editor, and a temporary data directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "filters/EqBands.h"
#include "support/TempDir.h"
#include "support/TestEditorHost.h"

namespace qubix::test {

// Ten band models at the strips' starting values, wired to the editor as its window's strips
// are: each change reaches BandChanged.
inline std::vector<std::unique_ptr<editor::BandModel>> AttachBandModels(
    editor::EditorState& state) {
  std::vector<std::unique_ptr<editor::BandModel>> bands;
  std::array<editor::BandStrip*, editor::kBandCount> ptrs{};
  for (int i = 0; i < editor::kBandCount; ++i) {
    const auto& s = filters::kStripStarts[static_cast<std::size_t>(i)];
    bands.push_back(
        std::make_unique<editor::BandModel>(s.freqHz, s.q, filters::BandAddressAt(i), s.qf));
    bands.back()->onChangePar = [&state, i] { state.BandChanged(i); };
    ptrs[static_cast<std::size_t>(i)] = bands.back().get();
  }
  state.attachBands(ptrs);
  return bands;
}

class EditorRig : public ::testing::Test {
 protected:
  EditorRig() : host(rig, dir), state(host), bands(AttachBandModels(state)) {
    for (const char* id : {"H000000010001", "H000000010002", "H000000010005"}) {
      host.ids.push_back(id);
      host.records.emplace_back();
    }
    rig.connect();
  }

  // Opens the editor on a slot and forgets what that put on the wire.
  void open(int slot) {
    state.OpenEditorForSlot(slot);
    rig.clearRecords();
  }
  std::string pc() const { return rig.bus->pcBytes(); }
  editor::BandModel& strip(int i) { return *bands[static_cast<std::size_t>(i)]; }

  TempDir scratch{"qubix-editor"};
  std::filesystem::path dir = scratch.path();
  SimRig rig;
  TestEditorHost host;
  editor::EditorState state;
  std::vector<std::unique_ptr<editor::BandModel>> bands;
};

}  // namespace qubix::test
