// No false success: a plausible wrong answer (an "N" where "O" acknowledges, a digit one off, a
// reply that does not end in "O") during an operation of the editor makes that operation fail,
// and no equaliser file is written for values the processor did not acknowledge.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>

#include "editor/FilterImport.h"
#include "editor/UserPresets.h"
#include "network/EqFile.h"
#include "support/CaseNames.h"
#include "support/EditorRig.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

constexpr const char* kId = "H000000010001";

// Spoils the answer to the n-th frame (counting from 1) that `match` accepts.
struct Spoil {
  char letter;
  int parameter;  // for "I": the parameter asked for; otherwise -1
  int nth;
  std::function<void(std::string&)> change;
};

void LastByte(std::string& answer, char c) { answer.back() = c; }

const auto kAckAsN = [](std::string& a) { LastByte(a, 'N'); };
// The first value digit one up (a "0" becomes "1"): a number the processor cannot hold there.
const auto kFirstDigitUp = [](std::string& a) { a[0] = static_cast<char>(a[0] + 1); };

struct Case {
  const char* name;
  bool openFirst;  // the spoiled answer comes after the editor was opened cleanly
  Spoil spoil;
  // The editor, its user preset operations and band 4's strip.
  std::function<protocol::Outcome(editor::EditorState&, editor::UserPresets&, editor::BandModel&)>
      act;
};

protocol::Outcome Apply(editor::EditorState& s, editor::UserPresets& p, editor::BandModel&) {
  editor::UserPresetRecord rec = p.BuildRecord();
  rec.gainDb[3] = 9.0F;
  rec.gainDb[4] = -6.0F;
  rec.inputGainA = -4;
  return p.ApplyRecord(rec).also(s.CloseEditor());
}
protocol::Outcome Import(editor::EditorState& s, editor::UserPresets&, editor::BandModel&) {
  filters::FilterImport in;
  for (std::size_t b = 0; b < in.bands.size(); ++b)
    in.bands[b] = {static_cast<float>(network::kEqDefaults.freqHz[b]), 0.0F,
                   network::kEqDefaults.q[b]};
  in.bands[2].gainDb = 4.0F;
  const editor::ImportOutcome out = editor::ApplyImportedFilters(s, in, false);
  protocol::Outcome o =
      out.sent ? protocol::Outcome::Done() : protocol::Outcome::Failed(out.reason);
  return o.also(s.CloseEditor());
}
protocol::Outcome Open(editor::EditorState& s, editor::UserPresets&, editor::BandModel&) {
  return s.OpenEditorForSlot(0);
}
protocol::Outcome Recall(editor::EditorState&, editor::UserPresets& p, editor::BandModel&) {
  return p.RecallFromLocation(1).outcome;
}
protocol::Outcome Store(editor::EditorState&, editor::UserPresets& p, editor::BandModel&) {
  return p.StoreToLocation(3);
}
protocol::Outcome Close(editor::EditorState& s, editor::UserPresets&, editor::BandModel& band4) {
  band4.SetGPotPos(9.0F);
  return s.CloseEditor();
}

const Case kCases[] = {
    {"ApplyFirstBandAckAsN", true, {'Q', -1, 1, kAckAsN}, Apply},
    {"ApplyMirrorAckAsN", true, {'Q', -1, 2, kAckAsN}, Apply},
    {"ApplyGainFrameAckAsN", true, {'G', -1, 1, kAckAsN}, Apply},
    {"ApplyMuteFrameAckAsN", true, {'g', -1, 2, kAckAsN}, Apply},
    {"ImportBandAckAsN", true, {'Q', -1, 3, kAckAsN}, Import},
    {"OpenAmpLevelReplyEndsInN", false, {'I', 23, 1, kAckAsN}, Open},
    {"OpenUserPresetDigitOff", false, {'I', 17, 1, kFirstDigitUp}, Open},
    {"OpenDelayDigitOff", false, {'I', 15, 1, kFirstDigitUp}, Open},
    {"OpenBeginAccessAckAsN", false, {'T', -1, 1, kAckAsN}, Open},
    {"RecallAckAsN", true, {'u', -1, 1, kAckAsN}, Recall},
    {"RecallUserPresetTwiceSpoiled", true, {'I', 17, 1, kFirstDigitUp}, Recall},
    {"StoreRecordAckAsN", true, {'U', -1, 4, kAckAsN}, Store},
    {"CloseBandAckAsN", true, {'Q', -1, 1, kAckAsN}, Close},
    {"CloseEndAccessAckAsN", true, {'T', -1, 1, kAckAsN}, Close},
};

class EditorOutcome : public EditorRig, public ::testing::WithParamInterface<Case> {};

std::map<std::string, std::string> FilesIn(const std::filesystem::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    out[e.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return out;
}

TEST_P(EditorOutcome, APlausibleWrongAnswerFailsTheOperationAndWritesNoFileForIt) {
  const Case& c = GetParam();
  editor::UserPresets presets(state);
  if (c.openFirst) {
    ASSERT_TRUE(state.OpenEditorForSlot(0).ok);
  }
  const auto before = FilesIn(dir);
  int seen = 0;
  sim::SimProcessor& machine = rig.processor(kId);
  machine.faults.tamper = [&](char letter, const std::vector<std::uint8_t>& payload,
                              std::string& answer) {
    if (letter != c.spoil.letter) return;
    if (c.spoil.parameter >= 0 && (payload.empty() || payload[0] != c.spoil.parameter)) return;
    // A spoiled read is asked for again once by some operations: that one is spoiled too.
    if (++seen == c.spoil.nth || (c.spoil.parameter >= 0 && seen == c.spoil.nth + 1))
      c.spoil.change(answer);
  };
  const protocol::Outcome outcome = c.act(state, presets, strip(3));
  machine.faults.tamper = nullptr;
  EXPECT_GE(seen, c.spoil.nth) << "the spoiled frame never went out";
  EXPECT_FALSE(outcome.ok) << "reported as done";
  EXPECT_FALSE(outcome.reason.empty());
  // A file written by the failed work may hold only what the machine acknowledged: the bands it
  // took are those it runs; a location's file never changes, and no reply names a file.
  for (const auto& [name, bytes] : FilesIn(dir)) {
    if (name == network::LastEditEqPath(dir, kId).filename().string()) continue;
    const auto was = before.find(name);
    EXPECT_TRUE(was != before.end() && was->second == bytes) << name << " written by failed work";
  }
}

INSTANTIATE_TEST_SUITE_P(Spoiled, EditorOutcome, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A band whose write was not acknowledged may still have reached the machine: the last-edit file
// keeps the last state known for certain, and the close names the band.
TEST_F(EditorRig, TheLastEditFileKeepsItsLastCertainStateWhileABandIsInDoubt) {
  ASSERT_TRUE(state.OpenEditorForSlot(0).ok);
  strip(3).SetGPotPos(6.0F);
  ASSERT_TRUE(state.CloseEditor().ok);
  ASSERT_TRUE(state.OpenEditorForSlot(0).ok);
  strip(3).SetGPotPos(9.0F);
  rig.processor(kId).faults.tamper = [](char letter, const std::vector<std::uint8_t>&,
                                        std::string& answer) {
    if (letter == 'Q') LastByte(answer, 'N');
  };
  strip(3).SetGPotPos(12.0F);
  rig.processor(kId).faults.tamper = nullptr;
  const protocol::Outcome closed = state.CloseEditor();
  EXPECT_FALSE(closed.ok);
  EXPECT_NE(closed.reason.find("band 4"), std::string::npos) << closed.reason;
  EXPECT_EQ(rig.frontend.statusColour, link::kRed);
  EXPECT_NE(rig.frontend.statusDetail.find("band 4"), std::string::npos);
  const auto file = network::ReadEqFile(network::LastEditEqPath(dir, kId));
  ASSERT_EQ(file.result, network::EqFileResult::Ok);
  EXPECT_EQ(file.record.gainDb[3], 6.0F);
}

}  // namespace
}  // namespace qubix::test
