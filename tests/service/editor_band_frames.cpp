// Prints, one per line in hex, the "Q" frames the desktop editor sends when a band's gain
// fader reaches a value: the editor opened on the first machine of the simulated demo bus with
// an empty data directory, as a fresh service holds it. The browser test compares the page's
// frames with these.
//   editor_band_frames BAND GAIN_DB
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/EditorRig.h"

int main(int argc, char** argv) {
  using namespace qubix;
  if (argc != 3) {
    std::fprintf(stderr, "usage: editor_band_frames BAND GAIN_DB\n");
    return 2;
  }
  const int band = std::atoi(argv[1]);
  if (band < 1 || band > editor::kBandCount) return 2;
  const float gain = std::strtof(argv[2], nullptr);

  test::TempDir scratch{"qubix-band-frames"};
  test::SimRig rig;
  test::TestEditorHost host(rig, scratch.path());
  for (const char* id : {"H000000010001", "H000000010002", "H000000010005"}) {
    host.ids.push_back(id);
    host.records.emplace_back();
  }
  editor::EditorState state(host);
  auto bands = test::AttachBandModels(state);
  rig.connect();
  state.OpenEditorForSlot(0);
  rig.clearRecords();
  bands[static_cast<std::size_t>(band - 1)]->SetGPotPos(gain);
  for (const auto& entry : rig.bus->transcript) {
    if (!entry.fromPc || entry.bytes.empty() || entry.bytes.front() != 'Q') continue;
    for (unsigned char c : entry.bytes) std::printf("%02x", c);
    std::printf("\n");
  }
  return 0;
}
