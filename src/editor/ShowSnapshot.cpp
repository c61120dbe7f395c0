#include "editor/ShowSnapshot.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "link/Link.h"
#include "protocol/NumberText.h"
#include "protocol/WireCodes.h"

namespace qubix::editor {

namespace {

const char* const kInputNames[2] = {"inputGain.a", "inputGain.b"};
const char* const kPairNames[2] = {"ch12", "ch34"};

// Runs one editor operation and notes its field as applied or not; once one failed the rest
// are not sent.
class ChangeRun {
 public:
  explicit ChangeRun(HeadlessEditor& editor) : editor_(editor) {}
  template <class Op>
  void step(const std::string& field, Op op) {
    if (!result.outcome.ok) {
      result.notApplied.push_back(field);
      return;
    }
    const protocol::FaultWatch watch = editor_.state.watchFaults();
    const bool sent = op();
    protocol::Outcome outcome = watch.outcome();
    if (outcome.ok && !sent) outcome = protocol::Outcome::Failed(field + ": not taken");
    if (outcome.ok) {
      result.applied.push_back(field);
    } else {
      result.outcome = protocol::Outcome::Failed(field + ": " + outcome.reason);
      result.notApplied.push_back(field);
    }
  }
  ChangeResult result;

 private:
  HeadlessEditor& editor_;
};

}  // namespace

bool Limit::contains(double v) const {
  if (!std::isfinite(v) || v < min || v > max) return false;
  if (step <= 0) return true;
  const double steps = (v - min) / step;
  return std::fabs(steps - std::round(steps)) < 1e-9;
}

double Tidy(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
  return std::strtod(text, nullptr);
}

int SlotOfMachine(const network::NetworkManager& net, const std::string& id) {
  for (int k = 0; k < network::kSlotCount && k < net.list().count; ++k)
    if (net.slotAt(k).identifier == id) return k;
  return -1;
}

MachineValues ReadMachineValues(HeadlessEditor& editor, network::NetworkManager& net) {
  const EditorState& s = editor.state;
  MachineValues v;
  v.id = s.selectedMachineId();
  const int slot = SlotOfMachine(net, v.id);
  v.slot = slot + 1;
  if (slot >= 0) v.hardwarePreset = net.slotAt(slot).record.hardwarePreset;
  v.userPreset = s.userPresetName();
  for (std::size_t i = 0; i < 2; ++i) {
    v.inputGainDb[i] = s.gainUpDown()[i] * 0.5;
    v.attenuationDb[i] = s.knobValue()[i];
    v.delay[i] = s.delay()[i];
  }
  v.mute = s.muteState();
  v.ampLevelDb = protocol::codes::LevelDb(s.ampLevelCode());
  v.flat = s.flatMode();
  for (int b = 0; b < kBandCount; ++b) {
    const BandStrip& strip = *editor.bands[static_cast<std::size_t>(b)];
    v.bands[static_cast<std::size_t>(b)] = {Tidy(strip.FPotPos()), Tidy(strip.GPotPos()),
                                            Tidy(strip.QPotPos())};
  }
  return v;
}

protocol::Outcome HoldMachine(HeadlessEditor& editor, int slot, bool fresh) {
  EditorState& s = editor.state;
  const std::string id = editor.host.machineId(slot);
  if (!fresh && !id.empty() && s.selectedMachineId() == id && s.machineSelected())
    return protocol::Outcome::Done();
  return s.OpenEditorForSlot(slot);
}

ChangeResult ApplyMachineChange(HeadlessEditor& editor, const MachineChange& c) {
  EditorState& s = editor.state;
  ChangeRun run(editor);
  for (int i = 0; i < 2; ++i) {
    const auto& gain = c.inputGainDb[static_cast<std::size_t>(i)];
    if (gain)
      run.step(kInputNames[i], [&] {
        s.SetGainUpDown(i, static_cast<int>(std::lround(*gain * 2)));
        return true;
      });
  }
  for (int i = 0; i < 2; ++i) {
    const auto& att = c.attenuationDb[static_cast<std::size_t>(i)];
    if (att)
      run.step(std::string("attenuation.") + kPairNames[i], [&] {
        s.SetKnobPosition(i, kKnobMax + static_cast<int>(std::lround(*att * 2)));
        return true;
      });
  }
  for (int i = 0; i < 2; ++i) {
    const auto& delay = c.delay[static_cast<std::size_t>(i)];
    if (delay)
      run.step(std::string("delay.") + kPairNames[i], [&] {
        s.SetDelay(i, *delay);
        return true;
      });
  }
  // Before the mutes: an unmuted channel takes the amplifier level current when it is sent.
  if (c.ampLevelDb)
    run.step("ampLevel", [&] {
      s.SetAmpLevel(protocol::codes::AmpLevelCode(*c.ampLevelDb));
      return true;
    });
  for (int ch = 0; ch < 4; ++ch) {
    const auto& mute = c.mute[static_cast<std::size_t>(ch)];
    if (mute)
      run.step("mute." + std::to_string(ch + 1), [&] {
        s.SetMute(ch, *mute);
        return true;
      });
  }
  if (c.flat && *c.flat != s.flatMode())
    run.step("flat", [&] {
      s.ToggleFlat();
      return s.BandsOutcome().ok;
    });
  for (int b = 0; b < kBandCount; ++b) {
    const BandChange& band = c.bands[static_cast<std::size_t>(b)];
    if (!band.any()) continue;
    run.step("bands." + std::to_string(b + 1), [&] {
      BandStrip& strip = *editor.bands[static_cast<std::size_t>(b)];
      {
        const EditorState::LoadingScope quiet(s);
        if (band.frequency)
          strip.SetFPotPos(static_cast<float>(RecordedFrequency(*band.frequency)));
        if (band.gain) strip.SetGPotPos(static_cast<float>(*band.gain));
        if (band.q) strip.SetQPotPos(static_cast<float>(*band.q));
      }
      return s.BandChanged(b);
    });
  }
  return run.result;
}

MachineChange FullChange(const MachineValues& t) {
  MachineChange c;
  for (std::size_t i = 0; i < 2; ++i) {
    c.inputGainDb[i] = t.inputGainDb[i];
    c.attenuationDb[i] = t.attenuationDb[i];
    c.delay[i] = t.delay[i];
  }
  for (std::size_t ch = 0; ch < 4; ++ch) c.mute[ch] = t.mute[ch];
  c.ampLevelDb = t.ampLevelDb;
  c.flat = t.flat;
  for (std::size_t b = 0; b < c.bands.size(); ++b)
    c.bands[b] = {t.bands[b].frequency, t.bands[b].gain, t.bands[b].q};
  return c;
}

std::vector<std::string> Differences(const MachineValues& want, const MachineValues& got) {
  std::vector<std::string> out;
  const auto differ = [&](const std::string& field, double w, double g) {
    if (std::fabs(w - g) > 1e-6)
      out.push_back(field + ": " + protocol::ShortNumber(w) + " wanted, " +
                    protocol::ShortNumber(g) + " read");
  };
  // The user preset's name is what the machine last recalled, not a value a restore sets.
  differ("hardwarePreset", want.hardwarePreset, got.hardwarePreset);
  for (std::size_t i = 0; i < 2; ++i) {
    differ(kInputNames[i], want.inputGainDb[i], got.inputGainDb[i]);
    differ(std::string("attenuation.") + kPairNames[i], want.attenuationDb[i],
           got.attenuationDb[i]);
    differ(std::string("delay.") + kPairNames[i], want.delay[i], got.delay[i]);
  }
  for (std::size_t ch = 0; ch < 4; ++ch)
    differ("mute." + std::to_string(ch + 1), want.mute[ch], got.mute[ch]);
  differ("ampLevel", want.ampLevelDb, got.ampLevelDb);
  differ("flat", want.flat, got.flat);
  for (std::size_t b = 0; b < want.bands.size(); ++b) {
    const std::string name = "bands." + std::to_string(b + 1);
    differ(name + ".frequency", want.bands[b].frequency, got.bands[b].frequency);
    differ(name + ".gain", want.bands[b].gain, got.bands[b].gain);
    differ(name + ".q", want.bands[b].q, got.bands[b].q);
  }
  return out;
}

SnapshotTake TakeShowSnapshot(HeadlessEditor& editor, network::NetworkManager& net) {
  SnapshotTake take;
  for (int k = 0; k < network::kSlotCount && k < net.list().count; ++k) {
    if (net.slotAt(k).identifier.empty()) continue;
    const protocol::Outcome held = HoldMachine(editor, k, /*fresh=*/false);
    if (!held.ok) {
      take.outcome.also(protocol::Outcome::Failed(net.slotAt(k).identifier + ": " + held.reason));
      continue;
    }
    take.machines.push_back(ReadMachineValues(editor, net));
  }
  return take;
}

RestoreReport RestoreShowSnapshot(HeadlessEditor& editor, network::HardwarePresets& presets,
                                  network::NetworkManager& net, const ShowSnapshot& show,
                                  const std::function<void(int, int)>& progress) {
  RestoreReport report;
  const int total = static_cast<int>(show.size()) * 2;
  int done = 0;
  const auto step = [&] {
    ++done;
    if (progress) progress(done, total);
  };
  const auto failed = [&](const std::string& id, const std::string& why) {
    report.outcome.also(protocol::Outcome::Failed(id + ": " + why));
  };
  // A machine that fails leaves the others to be restored; only a lost adapter ends the walk.
  const link::LinkState& line = editor.host.commands().bus().link().state();
  for (const MachineValues& want : show) {
    const int slot = SlotOfMachine(net, want.id);
    if (slot < 0) {
      failed(want.id, "not on the bus");
      report.notApplied.push_back(want.id);
      step();
      continue;
    }
    if (!line.Connected) {
      report.notApplied.push_back(want.id);
      step();
      continue;
    }
    if (net.slotAt(slot).record.hardwarePreset != want.hardwarePreset) {
      // The machine held before is left first: what its leaving meets (it may have fallen
      // silent) is that machine's, not a fault of this one's change.
      editor.state.LeaveMachineOtherThan(slot);
      const auto changed = presets.ApplyHardwarePreset(slot, want.hardwarePreset);
      if (changed != network::PresetChangeOutcome::Done) {
        failed(want.id, "the hardware preset change failed: " +
                            std::string(network::PresetChangeText(changed)));
        report.notApplied.push_back(want.id + ": hardwarePreset");
        step();
        continue;
      }
      report.applied.push_back(want.id + ": hardwarePreset");
    }
    const protocol::Outcome held = HoldMachine(editor, slot, /*fresh=*/false);
    if (!held.ok) {
      failed(want.id, held.reason);
      report.notApplied.push_back(want.id);
      step();
      continue;
    }
    const ChangeResult result = ApplyMachineChange(editor, FullChange(want));
    for (const auto& f : result.applied) report.applied.push_back(want.id + ": " + f);
    for (const auto& f : result.notApplied) report.notApplied.push_back(want.id + ": " + f);
    if (!result.outcome.ok) failed(want.id, result.outcome.reason);
    step();
  }
  for (const MachineValues& want : show) {
    const int slot = SlotOfMachine(net, want.id);
    if (slot >= 0) {
      const protocol::Outcome held = HoldMachine(editor, slot, /*fresh=*/true);
      if (!held.ok) {
        failed(want.id, "not read back: " + held.reason);
      } else {
        for (const auto& d : Differences(want, ReadMachineValues(editor, net)))
          report.differences.push_back(want.id + ": " + d);
      }
    }
    step();
  }
  return report;
}

}  // namespace qubix::editor
