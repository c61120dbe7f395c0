// The read time-outs each long operation sets and the drains it makes, as the adapter saw them.
// A drain ends on its first empty read, so each "read(16)->0" below stands for a wait of the
// time-out in force: dropping a drain or changing a time-out changes the sequence.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "network/HfpFile.h"
#include "support/CaseNames.h"
#include "support/PresetRig.h"

namespace qubix::test {
using namespace qubix::network;
namespace {

using test::PresetRig;
using test::RecordingPresetView;

// The time-out settings and the drain reads, in order.
std::vector<std::string> TimeoutsAndDrains(const sim::SimAdapter& adapter) {
  std::vector<std::string> out;
  for (const auto& t : adapter.trace())
    if (t.call.starts_with("timeouts(") || t.call.starts_with("read(16)")) out.push_back(t.call);
  return out;
}

HfpImage ValidImage() {
  HfpImage image{};
  for (std::size_t i = 0; i < kHfpFileSize; ++i) image[i] = static_cast<std::uint8_t>(i * 5 + 1);
  SealHfpImage(image);
  return image;
}

struct Operation {
  std::string name;
  std::function<bool(PresetRig&, RecordingPresetView&)> run;  // true when it succeeded
  std::vector<std::string> expected;
  double describedMs = 0;  // the waits the operation is described with; 0: not checked
};

bool Upload(PresetRig& rig, RecordingPresetView&) {
  const HfpImage image = ValidImage();
  const std::string path = rig.data.file("Stage.hfp");
  test::WriteBytes(path, {image.begin(), image.end()});
  rig.frontend.openFileAnswers.push_back(path);
  return rig.presets.UploadExtraPreset(0) == UploadOutcome::Done;
}

const std::vector<std::string> kUploadTimeouts = {
    "timeouts(1,200)",  "read(16)->0",         "timeouts(200,200)",  "read(16)->0",
    "read(16)->0",      "timeouts(10000,200)", "timeouts(200,200)",  "timeouts(1,200)",
    "read(16)->0",      "timeouts(200,200)",   "timeouts(5000,200)", "read(16)->0",
    "timeouts(200,200)"};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"refresh",
       [](PresetRig& rig, RecordingPresetView&) { return rig.network.WriteMachineList(); },
       // What an earlier operation left unread is discarded before the first select, without
       // waiting for more.
       {"timeouts(1,200)", "read(16)->0", "timeouts(200,200)", "timeouts(500,200)",
        "timeouts(200,200)", "read(16)->0"}},
      {"scan",
       [](PresetRig& rig, RecordingPresetView&) {
         rig.network.SetMaxSearch(1);
         rig.network.StartOrStopScan();
         return rig.network.list().count == 1;
       },
       {"timeouts(1000,200)", "read(16)->0", "timeouts(200,200)",  // the scan's own drain
        "timeouts(1,200)", "read(16)->0", "timeouts(200,200)", "timeouts(500,200)",
        "timeouts(200,200)", "read(16)->0"}},  // the refresh
      // A processor that needs 11 s to switch: only the 12 s acknowledgement time-out waits
      // long enough. Then 4 s of silence twice; the access frames discard what waits without
      // waiting for more, and nothing else waits.
      {"hardware preset on a slow processor",
       [](PresetRig& rig, RecordingPresetView& view) {
         rig.processor("H000000010002").presetSwitchMs = 11000.0;
         view.answer = 5;
         return rig.presets.ChangeHardwarePreset(1) == PresetChangeOutcome::Done &&
                rig.network.slotStates()[1].record.hardwarePreset == 4;
       },
       {"timeouts(1,200)", "read(16)->0", "timeouts(200,200)", "timeouts(12000,200)",
        "timeouts(4000,200)", "read(16)->0", "read(16)->0", "timeouts(200,200)", "timeouts(1,200)",
        "read(16)->0", "timeouts(200,200)"},
       11000.0 + 2 * 4000.0},
      // The access frame's discard, two drains before the command, the read-back's 10 s, the end
      // of access's discard, then 5 s of silence once the machine has committed.
      {"upload", Upload, kUploadTimeouts},
      // Every echo takes 300 ms, so the whole payload takes far longer than the 5 s guard: the
      // guard must count from each byte, not from the start.
      {"upload with slow echoes",
       [](PresetRig& rig, RecordingPresetView& view) {
         rig.processor("H000000010001").faults.echoDelayMs = 300.0;
         return Upload(rig, view);
       },
       kUploadTimeouts},
  };
  return ops;
}

class Timeouts : public ::testing::TestWithParam<int> {};

TEST_P(Timeouts, SettingsAndDrainsInOrder) {
  const Operation& op = Operations()[static_cast<std::size_t>(GetParam())];
  PresetRig rig;
  RecordingPresetView view;
  rig.presets.setView(&view);
  rig.sim->resetCalls();
  const double start = rig.sim->nowMs();
  EXPECT_TRUE(op.run(rig, view));
  EXPECT_EQ(TimeoutsAndDrains(*rig.sim), op.expected);
  // Exactly the described waits: what is left is the bytes on the wire.
  if (op.describedMs > 0) {
    EXPECT_NEAR(rig.sim->nowMs() - start, op.describedMs, 10.0);
  }
  EXPECT_EQ(rig.sim->readTimeoutMs(), 200u);
}

INSTANTIATE_TEST_SUITE_P(Operations, Timeouts,
                         ::testing::Range(0, static_cast<int>(Operations().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return test::CaseName(
                               Operations()[static_cast<std::size_t>(info.param)].name);
                         });

}  // namespace
}  // namespace qubix::test
