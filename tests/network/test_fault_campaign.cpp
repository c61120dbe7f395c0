// Fault campaigns on the simulated bus. Every operation that talks to the processors is run once
// cleanly, to count its exchanges and the reply bytes it reads and to keep what it leaves
// behind; then it is run again for each fault at each of those points: the adapter pulled out
// and the machine falling silent as a write begins, one reply byte lost or with its bits
// flipped, and the plausible wrong bytes of a noisy line: an "N" where an "O" acknowledges or
// ends a reply, one hexadecimal digit one off, a reply's terminator turned into a digit; and a
// line out of step: an answer sent twice, an answer that arrives after its read time-out (into
// the next exchange), a stray "O" on the quiet line after an answer, at every answer.
// After each run:
//   - an operation that reports success must have done all its work: the machines hold what the
//     clean run left, the PC shows what they hold and every file is what the clean run wrote;
//   - a file may change only as part of work that did reach its machine;
//   - once the adapter is back, a refresh succeeds and every slot shows what its processor holds,
//     with no machine left selected, receiving or in access.
// The virtual clock makes every time-out free, so the whole campaign runs in seconds; each
// operation is a test case of its own. A summary of every finding by operation, fault and byte
// ends each case's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "editor/FilterImport.h"
#include "editor/HeadlessEditor.h"
#include "editor/UserPresetFile.h"
#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "network/NetworkTexts.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "support/NetworkRig.h"
#include "support/PresetRig.h"
#include "support/RecordingFrontend.h"

namespace qubix::test {
namespace {

using Files = std::map<std::string, std::string>;

const std::vector<std::string> kIds{"H000000010001", "H000000010002", "H000000010005"};
constexpr int kStoreLocation = 5;
constexpr int kRecallLocation = 3;
constexpr int kNewHardwarePreset = 4;

// A valid Extra preset file covering every byte value, named so that its picture would be found.
network::HfpImage UploadImage() {
  network::HfpImage image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::string name = "CAMPAIGN PRESET   ";
  std::copy(name.begin(), name.end(), image.begin() + network::kHfpPayloadOffset);
  network::SealHfpImage(image);
  return image;
}

// One byte the PC reads, replaced: the n-th byte read since forget() arrives as `into`.
struct ReadStrike {
  std::uint64_t at = 0;
  std::uint8_t into = 0;
};

// The program as the window assembles it, on the demo processors, listed and refreshed.
struct CampaignRig {
  CampaignRig()
      : bus(sim::makeDemoBus()),
        sim(new sim::SimAdapter(bus, sim::ClockMode::Virtual)),
        reads(new TamperingAdapter(sim)),
        station(std::unique_ptr<link::Adapter>(reads), frontend, dir.path()),
        ticks([this] { return sim->nowMs(); }),
        presets(station.link, station.bus, station.commands, frontend, station.network, ticks),
        editor(station) {
    WriteFile(dir.path() / "maclist.dat", ListImage(kIds, static_cast<int>(kIds.size())));
    presets.setEditor(&leave);
    // The transcript would grow by thousands of entries in an upload; only its reply bytes are
    // needed, and the upload lets events run before every byte.
    frontend.onProcessEvents = [this] { trimTranscript(); };
    sim->keepCallLog = false;
    reads->onRead = [this](std::uint8_t* b, std::uint32_t& got, std::uint32_t, const std::string&) {
      for (std::uint32_t i = 0; i < got; ++i, ++readCount) {
        if (keepReads) readStream.push_back(static_cast<char>(b[i]));
        if (strike && strike->at == readCount) b[i] = strike->into;
      }
    };
    station.link.Connect();
    station.network.RefreshMachines();
  }

  sim::SimProcessor& processor(int k) { return *bus->find(kIds[static_cast<std::size_t>(k)]); }
  network::SlotState& slot(int k) { return station.network.slotAt(k); }
  void trimTranscript() {
    for (const auto& e : bus->transcript)
      if (!e.fromPc) replyBytes += e.bytes.size();
    bus->clearTranscript();
  }
  void forget() {
    bus->clearTranscript();
    replyBytes = 0;
    readCount = 0;
    frontend.forgetHistory();
    frontend.statusTexts.clear();
  }
  Files files() const {
    Files out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
      if (e.is_regular_file())
        out[std::filesystem::relative(e.path(), dir.path()).string()] = ReadFile(e.path());
    return out;
  }
  // Anything the operator was shown that says an operation did not succeed: a box, a status
  // text other than the one every good write sets, or a status line left red.
  bool failureShown() const {
    const bool otherText =
        std::any_of(frontend.statusTexts.begin(), frontend.statusTexts.end(),
                    [](const std::string& t) { return t != link::texts::kStatusOk; });
    return !frontend.boxes.empty() || otherText || frontend.statusColour == link::kRed;
  }

  ScratchDir dir;
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* sim;     // owned by `reads`
  TamperingAdapter* reads;  // owned by the station's link
  RecordingFrontend frontend;
  network::Station station;
  network::TickCounter ticks;
  network::HardwarePresets presets;
  editor::HeadlessEditor editor;
  // The editor as the preset operations meet it here: it only leaves its machine for a slot's.
  struct LeaveOnly final : network::EditorAccess {
    explicit LeaveOnly(editor::EditorState& state) : state(state) {}
    void stopEditorActivity() override {}
    bool leaveMachineOtherThan(int slot) override { return state.LeaveMachineOtherThan(slot); }
    void resumeAfterRelease() override {}
    editor::EditorState& state;
  } leave{editor.state};
  std::uint64_t replyBytes = 0;  // reply bytes trimmed from the transcript since forget()
  std::uint64_t readCount = 0;   // bytes the PC read since forget()
  bool keepReads = false;        // keep them in readStream (the clean run)
  std::string readStream;
  std::optional<ReadStrike> strike;
  // What the PC showed at the moment an operation that closes the editor had finished its work.
  std::string viewBeforeClose;
};

// ---------------------------------------------------------------- what the PC shows

// Where slot k disagrees with its processor; empty when it shows what the processor holds.
std::string SlotMismatch(CampaignRig& rig, int k) {
  const auto& s = rig.slot(k);
  const auto& p = rig.processor(k);
  const auto& r = s.record;
  std::ostringstream out;
  const auto check = [&](const char* what, long shown, long held) {
    if (shown != held) out << " " << what << " " << shown << "/" << held;
  };
  if (s.identifier != kIds[static_cast<std::size_t>(k)])
    out << " identifier '" << s.identifier << "'";
  check("hwpreset", r.hardwarePreset, p.hardwarePreset);
  check("userpreset", r.userPreset, p.userPreset);
  check("gainA", r.gainA, p.live.gainA);
  check("gainB", r.gainB, p.live.gainB);
  check("attn12", static_cast<long>(r.outAttn12), p.live.atten12);
  check("attn34", static_cast<long>(r.outAttn34), p.live.atten34);
  check("delay12", r.delay12, p.live.delay12);
  check("delay34", r.delay34, p.live.delay34);
  const std::string name = p.extraPresent ? p.extraName : std::string(network::texts::kIdlePreset);
  if (s.extraPresetName != name) out << " extra '" << s.extraPresetName << "'/'" << name << "'";
  return out.str().empty() ? "" : "slot " + std::to_string(k) + ":" + out.str();
}

std::string SlotsMismatch(CampaignRig& rig) {
  std::string out;
  for (int k = 0; k < static_cast<int>(kIds.size()); ++k) out += SlotMismatch(rig, k);
  return out;
}

// Where the editor, open on slot k, disagrees with its processor.
std::string EditorMismatch(CampaignRig& rig, int k) {
  auto& e = rig.editor.state;
  const auto& p = rig.processor(k);
  std::ostringstream out;
  if (e.selectedMachineId() != kIds[static_cast<std::size_t>(k)])
    out << " editing '" << e.selectedMachineId() << "'";
  if (!rig.station.bus.MachineSelected) out << " not selected";
  const auto sel = rig.bus->selected();
  if (sel.size() != 1 || sel[0] != &p) out << " bus selection differs";
  if (e.GainCode(0) != p.live.gainA) out << " gainA " << e.GainCode(0) << "/" << int(p.live.gainA);
  if (e.GainCode(1) != p.live.gainB) out << " gainB " << e.GainCode(1) << "/" << int(p.live.gainB);
  if (e.knobPosition()[0] + 191 != p.live.atten12) out << " attn12";
  if (e.knobPosition()[1] + 191 != p.live.atten34) out << " attn34";
  if (e.delay()[0] != p.live.delay12) out << " delay12";
  if (e.delay()[1] != p.live.delay34) out << " delay34";
  if (e.ampLevelCode() != p.live.ampLevel) out << " amp";
  return out.str().empty() ? "" : "editor:" + out.str();
}

// ---------------------------------------------------------------- the operations

struct Operation {
  std::string name;
  // Brings a freshly built rig to where the operation starts (slot = the machine it addresses).
  std::function<void(CampaignRig&, int slot)> prepare;
  // Runs it; true when it reports success.
  std::function<bool(CampaignRig&, int slot)> run;
  // What the operation changes on processor k, as text: equal to the clean run's when the work
  // for that machine was done.
  std::function<std::string(CampaignRig&, int k)> machineWork;
  // Where the PC's view disagrees with the processors right after the operation.
  std::function<std::string(CampaignRig&, int slot)> viewMismatch;
};

std::string Bytes(const auto& container) { return std::string(container.begin(), container.end()); }

std::string Coefficients(const sim::SimProcessor& p) {
  std::string out;
  for (const auto& [address, record] : p.coefficients)
    out += std::to_string(address) + ":" + Bytes(record);
  return out;
}

std::string Live(const sim::SimProcessor& p) {
  std::ostringstream out;
  out << int(p.live.gainA) << " " << int(p.live.gainB) << " " << int(p.live.atten12) << " "
      << int(p.live.atten34) << " " << p.live.delay12 << " " << p.live.delay34 << " "
      << int(p.live.ampLevel) << " u" << p.userPreset;
  return out.str();
}

std::string LiveAndBands(CampaignRig& rig, int k) {
  return Live(rig.processor(k)) + " " + Coefficients(rig.processor(k));
}

// The command-line tool's editor commands open the editor on the machine (a failed opening
// ends the command there), do their work and close the editor, which writes the last-edit file;
// each reports the outcomes of all three.
bool OpenAsTheToolDoes(CampaignRig& rig, int slot) {
  return rig.editor.state.OpenEditorForSlot(slot).ok;
}

// A user preset file with a value of its own in every field the editor sends.
editor::UserPresetRecord PresetToApply() {
  editor::UserPresetRecord r;
  r.inputGainA = -9;
  r.inputGainB = 5;
  r.knob12 = 12;
  r.knob34 = 40;
  r.delay12 = 25;
  r.delay34 = 3;
  r.freqHz = {50, 100, 200, 400, 800, 1600, 3150, 6300, 10000, 16000};
  r.gainDb = {3.0F, -2.0F, 1.5F, -6.0F, 0.0F, 4.0F, -1.0F, 2.5F, -3.0F, 1.0F};
  r.q = {1.4F, 2.0F, 0.7F, 3.0F, 1.0F, 5.0F, 1.2F, 0.9F, 2.5F, 1.4F};
  r.ampLevelCode = 200;
  return r;
}

constexpr const char* kFiltersToImport =
    "Preamp: -4 dB\n"
    "Filter 1: ON PK Fc 60 Hz Gain 4 dB Q 0.9\n"
    "Filter 2: ON PK Fc 120 Hz Gain -3 dB Q 2.2\n"
    "Filter 3: ON PK Fc 250 Hz Gain 2.5 dB Q 1.1\n"
    "Filter 4: ON PK Fc 500 Hz Gain -1.5 dB Q 4\n"
    "Filter 5: ON PK Fc 900 Hz Gain 3 dB Q 0.8\n"
    "Filter 6: ON PK Fc 1800 Hz Gain -5 dB Q 3.3\n"
    "Filter 7: ON PK Fc 3300 Hz Gain 1 dB Q 1.7\n"
    "Filter 8: ON PK Fc 6000 Hz Gain -2 dB Q 2.8\n"
    "Filter 9: ON PK Fc 9000 Hz Gain 2 dB Q 5\n"
    "Filter 10: ON PK Fc 12000 Hz Gain -3 dB Q 1.3\n";

std::vector<Operation> Operations() {
  const auto noPrepare = [](CampaignRig&, int) {};
  const auto noView = [](CampaignRig&, int) { return std::string(); };
  const auto openEditor = [](CampaignRig& rig, int slot) {
    rig.editor.state.OpenEditorForSlot(slot);
  };
  return {
      {"Refresh",
       // The processors changed since the last refresh, so a read that fails leaves a slot
       // showing something they no longer hold.
       [](CampaignRig& rig, int) {
         for (int k = 0; k < static_cast<int>(kIds.size()); ++k) {
           auto& p = rig.processor(k);
           p.live.gainB = static_cast<std::uint8_t>(170 + k);
           p.live.delay34 = 5 + k;
           p.userPreset = 4 + k;
           p.hardwarePreset = (p.hardwarePreset + 1) % 7;
         }
       },
       [](CampaignRig& rig, int) {
         return rig.station.network.RefreshMachines() == network::RefreshOutcome::Done;
       },
       [](CampaignRig&, int) { return std::string(); },
       [](CampaignRig& rig, int) { return SlotsMismatch(rig); }},

      {"Upload",
       [](CampaignRig& rig, int) {
         const auto image = UploadImage();
         WriteFile(rig.dir.path() / "Campaign.hfp", Bytes(image));
       },
       [](CampaignRig& rig, int slot) {
         return rig.presets.UploadExtraPresetFile(slot,
                                                  (rig.dir.path() / "Campaign.hfp").string()) ==
                network::UploadOutcome::Done;
       },
       [](CampaignRig& rig, int k) {
         const auto& p = rig.processor(k);
         return std::to_string(p.extraPresent) + p.extraName + Bytes(p.extraImage) +
                (p.uploading() ? " receiving" : "");
       },
       [](CampaignRig&, int) { return std::string(); }},

      {"HardwarePreset", noPrepare,
       [](CampaignRig& rig, int slot) {
         return rig.presets.ApplyHardwarePreset(slot, kNewHardwarePreset) ==
                network::PresetChangeOutcome::Done;
       },
       [](CampaignRig& rig, int k) { return std::to_string(rig.processor(k).hardwarePreset); },
       [](CampaignRig& rig, int slot) { return SlotMismatch(rig, slot); }},

      {"UserPresetStore",
       [](CampaignRig& rig, int slot) {
         rig.editor.state.OpenEditorForSlot(slot);
         rig.editor.state.SetGainText(0, "-4.5");
         rig.editor.bands[2]->SetGPotPos(6.0F);
         // The edit is on file already: the close that a failed store makes writes nothing new.
         const std::string& id = kIds[static_cast<std::size_t>(slot)];
         network::WriteEqFile(network::LastEditEqPath(rig.dir.path(), id),
                              rig.editor.state.AcknowledgedEqRecord());
       },
       [](CampaignRig& rig, int) { return rig.editor.presets.StoreToLocation(kStoreLocation).ok; },
       [](CampaignRig& rig, int k) {
         std::string out;
         for (const auto& r : rig.processor(k).locations[kStoreLocation].records) out += Bytes(r);
         return out;
       },
       [](CampaignRig&, int) { return std::string(); }},

      {"UserPresetRecall",
       [](CampaignRig& rig, int slot) {
         auto& loc = rig.processor(slot).locations[kRecallLocation];
         loc.records[10] = sim::SettingsRecord({150, 190, 240, 230, 40, 7, 201});
         rig.editor.state.OpenEditorForSlot(slot);
       },
       [](CampaignRig& rig, int) {
         return rig.editor.presets.RecallFromLocation(kRecallLocation).ok();
       },
       [](CampaignRig& rig, int k) { return Live(rig.processor(k)); },
       [](CampaignRig& rig, int slot) {
         const auto& s = rig.slot(slot);
         std::string out = EditorMismatch(rig, slot);
         if (s.record.userPreset != rig.processor(slot).userPreset) out += " slot userpreset";
         return out;
       }},

      {"CopyToAll",
       [openEditor](CampaignRig& rig, int slot) {
         openEditor(rig, slot);
         rig.editor.bands[3]->SetGPotPos(6.0F);
         rig.editor.bands[7]->SetGPotPos(-3.0F);
       },
       [](CampaignRig& rig, int) { return rig.editor.state.CopyBandsToAllMachines().ok; },
       [](CampaignRig& rig, int k) { return Coefficients(rig.processor(k)); },
       [](CampaignRig& rig, int slot) { return EditorMismatch(rig, slot); }},

      {"EditorOpening",
       // The processor changed since the refresh, user preset included: what the editor shows,
       // and the equaliser files its close writes, must come from what the processor says now.
       [](CampaignRig& rig, int slot) {
         auto& p = rig.processor(slot);
         p.live.gainA = 170;
         p.live.atten12 = 200;
         p.live.delay34 = 9;
         p.live.ampLevel = 230;
         p.userPreset = 6;
       },
       [](CampaignRig& rig, int slot) {
         if (!OpenAsTheToolDoes(rig, slot)) return false;
         rig.viewBeforeClose = EditorMismatch(rig, slot);
         return rig.editor.state.CloseEditor().ok;
       },
       LiveAndBands, [](CampaignRig& rig, int) { return rig.viewBeforeClose; }},

      {"Apply",
       [](CampaignRig& rig, int) {
         EXPECT_EQ(editor::WriteUserPresetFile((rig.dir.path() / "campaign.vup").string(),
                                               PresetToApply()),
                   "");
       },
       [](CampaignRig& rig, int slot) {
         if (!OpenAsTheToolDoes(rig, slot)) return false;
         protocol::Outcome applied =
             rig.editor.presets.LoadFromFile((rig.dir.path() / "campaign.vup").string());
         return applied.also(rig.editor.state.CloseEditor()).ok;
       },
       LiveAndBands, noView},

      {"EqImport",
       [](CampaignRig& rig, int) { WriteFile(rig.dir.path() / "campaign.txt", kFiltersToImport); },
       [](CampaignRig& rig, int slot) {
         const filters::FilterReadResult read =
             editor::ReadFilterFile(rig.dir.path() / "campaign.txt");
         if (!read.ok() || !OpenAsTheToolDoes(rig, slot)) return false;
         const bool sent = editor::ApplyImportedFilters(rig.editor.state, *read.filters,
                                                        /*usePreamp=*/true)
                               .sent;
         return rig.editor.state.CloseEditor().ok && sent;
       },
       LiveAndBands, noView},
  };
}

// ---------------------------------------------------------------- faults and cases

enum class Fault {
  Unplug,
  Silence,
  DropByte,
  CorruptByte,
  AckAsN,
  HexDigitOff,
  Terminator,
  Duplicate,
  Late,
  Stray
};
constexpr std::array<Fault, 10> kFaults{
    Fault::Unplug,      Fault::Silence,    Fault::DropByte,  Fault::CorruptByte, Fault::AckAsN,
    Fault::HexDigitOff, Fault::Terminator, Fault::Duplicate, Fault::Late,        Fault::Stray};
const char* FaultName(Fault f) {
  switch (f) {
    case Fault::Unplug:
      return "unplug";
    case Fault::Silence:
      return "silence";
    case Fault::DropByte:
      return "dropped byte";
    case Fault::CorruptByte:
      return "corrupted byte";
    case Fault::AckAsN:
      return "N for O";
    case Fault::HexDigitOff:
      return "hex digit one off";
    case Fault::Terminator:
      return "terminator changed";
    case Fault::Duplicate:
      return "reply sent twice";
    case Fault::Late:
      return "reply after its time-out";
    case Fault::Stray:
      return "stray byte";
  }
  return "?";
}

// Where a fault strikes: the n-th write, the n-th byte the machines send, the n-th answer they
// send (a reply sent twice, late, or followed by a stray byte) or (the plausible wrong bytes,
// which must know the byte they replace) the n-th byte the PC reads.
enum class Point { Write, Sent, Read, Answer };
Point PointOf(Fault f) {
  switch (f) {
    case Fault::Unplug:
    case Fault::Silence:
      return Point::Write;
    case Fault::DropByte:
    case Fault::CorruptByte:
      return Point::Sent;
    case Fault::Duplicate:
    case Fault::Late:
    case Fault::Stray:
      return Point::Answer;
    default:
      return Point::Read;
  }
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr std::size_t kTextDigits = 127;

// The byte a plausible fault puts in place of byte `at` of what the clean run read, or nothing
// when the fault does not apply there. An "O" acknowledges or ends a reply: any "O" may arrive as
// "N". A hex digit is changed by one, up at even places and down at odd ones (or the other way
// at the ends of the range), staying a digit of the same case. A terminator is an "O" after a
// hex digit (the end of a query or text reply); it arrives as the digit zero.
std::optional<std::uint8_t> PlausibleByte(Fault f, const std::string& read, std::size_t at) {
  const char c = read[at];
  switch (f) {
    case Fault::AckAsN:
      if (c == 'O') return std::uint8_t{'N'};
      return std::nullopt;
    case Fault::HexDigitOff: {
      if (!IsHexDigit(c)) return std::nullopt;
      // The text reply (a preset's name as 127 digits and its "O") carries no checksum: a digit
      // off there is beyond any check the protocol offers, so it is not struck. Every other
      // reply's digits are covered by a checksum or compared with what was sent.
      std::size_t from = at, to = at;
      while (from > 0 && IsHexDigit(read[from - 1])) --from;
      while (to < read.size() && IsHexDigit(read[to])) ++to;
      if (to - from >= kTextDigits) return std::nullopt;
      static constexpr std::string_view kLower = "0123456789abcdef", kUpper = "0123456789ABCDEF";
      const std::string_view digits = (c >= 'A' && c <= 'F') ? kUpper : kLower;
      const auto v = static_cast<int>(digits.find(c));
      int w = at % 2 == 0 ? v + 1 : v - 1;
      if (w < 0 || w > 15) w = 2 * v - w;
      return static_cast<std::uint8_t>(digits[static_cast<std::size_t>(w)]);
    }
    case Fault::Terminator:
      if (c == 'O' && at > 0 && IsHexDigit(read[at - 1])) return std::uint8_t{'0'};
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// What one run leaves behind.
struct Aftermath {
  bool success = false;
  std::vector<std::string> work;   // per machine
  std::vector<std::string> bands;  // per machine: its coefficient memory
  std::string view;
  Files files;
  std::uint64_t writes = 0;
  std::uint64_t replyBytes = 0;
  std::uint64_t answers = 0;  // answers the machines sent
  std::string read;           // every byte the PC read (the clean run)
};

struct Case {
  const Operation* op;
  Fault fault;
  int slot;
  std::uint64_t at;  // the write, the sent reply byte or the read byte (PointOf)
  std::string where() const {
    static constexpr std::array<const char*, 4> kPoint{"write ", "reply byte ", "read byte ",
                                                       "answer "};
    return kPoint[static_cast<std::size_t>(PointOf(fault))] + std::to_string(at);
  }
  std::string name() const {
    std::ostringstream out;
    out << op->name << " / " << FaultName(fault) << " / slot " << slot << " / " << where();
    return out.str();
  }
};

// Arms the fault so that it strikes at its point of the operation.
void Arm(CampaignRig& rig, const Case& c, const Aftermath& clean) {
  switch (c.fault) {
    case Fault::Unplug:
    case Fault::Silence: {
      auto writes = std::make_shared<std::uint64_t>(0);
      rig.sim->beforeWrite = [&rig, c, writes](std::uint32_t count) {
        if ((*writes)++ != c.at) return;
        if (c.fault == Fault::Unplug) {
          // Half the frame gets out before the cable goes.
          rig.sim->faults().unplugAfterBytes = count / 2;
        } else {
          rig.processor(c.slot).faults.silent = true;
        }
      };
      break;
    }
    case Fault::DropByte:
      rig.bus->lineFaults.dropAfterBytes = c.at;
      break;
    case Fault::CorruptByte:
      rig.bus->lineFaults.corruptAfterBytes = c.at;
      break;
    case Fault::Duplicate:
      rig.bus->lineFaults.duplicateAnswer = c.at;
      break;
    case Fault::Late:
      rig.bus->lineFaults.lateAnswer = c.at;
      break;
    case Fault::Stray:
      rig.bus->lineFaults.strayAfterAnswer = c.at;
      break;
    default:
      rig.strike = ReadStrike{c.at, *PlausibleByte(c.fault, clean.read, c.at)};
      break;
  }
}

Aftermath Observe(CampaignRig& rig, const Operation& op, int slot, bool success) {
  Aftermath run;
  run.success = success;
  for (int k = 0; k < static_cast<int>(kIds.size()); ++k) {
    run.work.push_back(op.machineWork(rig, k));
    run.bands.push_back(Coefficients(rig.processor(k)));
  }
  run.view = op.viewMismatch(rig, slot);
  run.files = rig.files();
  return run;
}

// The operator's way back: the adapter plugged in again, the editor closed, a refresh.
// Empty when everything is as it should be, else what is not.
std::string Recover(CampaignRig& rig) {
  rig.sim->beforeWrite = nullptr;
  rig.sim->faults() = {};
  rig.bus->lineFaults = {};
  rig.strike.reset();
  for (const auto& p : rig.bus->processors()) p->faults.silent = false;
  rig.forget();
  if (rig.editor.state.editorVisible() || rig.station.bus.MachineSelected)
    rig.editor.state.CloseEditor();
  if (!rig.station.link.state().Connected) rig.station.Connect();
  if (rig.station.network.RefreshMachines() != network::RefreshOutcome::Done)
    return "refresh after reconnecting did not succeed";
  std::string out = SlotsMismatch(rig);
  if (rig.station.bus.MachineSelected) out += " program believes a machine is selected";
  for (const auto& p : rig.bus->processors()) {
    if (p->uploading()) out += " " + protocol::IdentifierText(p->identifier) + " still receiving";
  }
  if (!rig.bus->selected().empty()) out += " a processor is still selected";
  return out;
}

// Longer than the longest read time-out, the preset switch's.
constexpr double kLateSettleMs = 5000.0;

enum class Finding { FalseSuccess, FileChanged, NoRecovery };
constexpr std::array<const char*, 3> kFindingNames{"false success", "file changed by failed work",
                                                   "no recovery"};

// Faults known and not mended yet, by operation and finding: still printed case by case and
// counted, but they do not fail the test. An entry that finds nothing any more is reported so
// that it can be removed.
struct OpenFault {
  std::string op;
  Finding finding;
  const char* what;
};
const std::vector<OpenFault> kOpenFaults{};

// Per fault kind: runs, runs whose operation reported a failure, false successes.
struct FaultCounts {
  int runs = 0, failed = 0, falseSuccesses = 0;
};

struct Tally {
  int cases = 0, recoveries = 0;
  std::map<Fault, FaultCounts> byFault;
  std::array<int, 3> found{};   // by finding
  std::array<int, 3> mended{};  // by finding, outside the open faults
  std::map<std::pair<std::string, Finding>, int> open;
  // Where each finding struck, by finding, fault and slot: the points in order.
  std::map<std::tuple<Finding, Fault, int>, std::vector<std::string>> where;
  std::vector<std::string> lines;

  void note(const Case& c, Finding f, const std::string& detail) {
    const auto i = static_cast<std::size_t>(f);
    ++found[i];
    const bool isOpen =
        std::any_of(kOpenFaults.begin(), kOpenFaults.end(),
                    [&](const OpenFault& o) { return o.op == c.op->name && o.finding == f; });
    if (isOpen) {
      ++open[{c.op->name, f}];
    } else {
      ++mended[i];
    }
    where[{f, c.fault, c.slot}].push_back(c.where());
    lines.push_back(std::string(isOpen ? "(open) " : "") + kFindingNames[i] + ": " + c.name() +
                    ":" + detail);
  }

  // One line per finding, fault and slot with its count and the first points; then the first
  // cases in full (12, or QUBIX_CAMPAIGN_CASES).
  void print(const std::string& op) const {
    constexpr std::size_t kPointsShown = 8;
    std::size_t casesShown = 12;
    if (const char* n = std::getenv("QUBIX_CAMPAIGN_CASES"))
      casesShown = static_cast<std::size_t>(std::max(0, std::atoi(n)));
    for (const auto& [key, points] : where) {
      const auto& [finding, fault, slot] = key;
      std::cout << op << ": " << kFindingNames[static_cast<std::size_t>(finding)] << " / "
                << FaultName(fault) << " / slot " << slot << ": " << points.size() << " at";
      for (std::size_t k = 0; k < points.size() && k < kPointsShown; ++k)
        std::cout << (k ? ", " : " ") << points[k];
      std::cout << (points.size() > kPointsShown ? ", ..." : "") << "\n";
    }
    for (std::size_t k = 0; k < lines.size() && k < casesShown; ++k)
      std::cout << "  " << lines[k] << "\n";
    if (lines.size() > casesShown)
      std::cout << "  ... " << lines.size() - casesShown << " more cases\n";
  }
};

void RunCase(const Case& c, const Aftermath& clean, const Files& before, Tally& tally) {
  CampaignRig rig;
  c.op->prepare(rig, c.slot);
  rig.forget();
  Arm(rig, c, clean);
  const bool success = c.op->run(rig, c.slot);
  rig.sim->beforeWrite = nullptr;
  rig.strike.reset();
  const Aftermath run = Observe(rig, *c.op, c.slot, success);
  ++tally.cases;
  FaultCounts& counts = tally.byFault[c.fault];
  ++counts.runs;
  if (!success) ++counts.failed;

  // Success claims every piece of work, every file and a view that matches the machines.
  std::string missed;
  for (std::size_t k = 0; k < run.work.size(); ++k)
    if (run.work[k] != clean.work[k])
      missed += " machine " + std::to_string(k) + " not as after a clean run;";
  if (!run.view.empty()) missed += " " + run.view + ";";
  for (const auto& [name, content] : clean.files) {
    auto it = run.files.find(name);
    if (it == run.files.end() || it->second != content) missed += " file " + name + " not written;";
  }
  for (const auto& [name, content] : run.files)
    if (!clean.files.contains(name)) missed += " file " + name + " written;";
  if (success && !missed.empty()) {
    tally.note(c, Finding::FalseSuccess, missed);
    ++counts.falseSuccesses;
  }

  // A file changes only with the work on its machine done. A machine's last-edit file holds
  // the bands it runs: it may change when those are as after a clean run, whatever else of the
  // work failed.
  std::string spoiled;
  for (const auto& [name, content] : run.files) {
    auto was = before.find(name);
    if (was != before.end() && was->second == content) continue;
    auto cleanIt = clean.files.find(name);
    bool allowed = cleanIt != clean.files.end() && cleanIt->second == content;
    for (std::size_t k = 0; k < kIds.size(); ++k) {
      if (name.find(kIds[k]) == std::string::npos) continue;
      const bool lastEdit = name == std::string(kIds[k]) + ".dat";
      if (lastEdit ? run.bands[k] != clean.bands[k] : run.work[k] != clean.work[k]) allowed = false;
    }
    if (!allowed) spoiled += " " + name;
  }
  for (const auto& [name, content] : before)
    if (!run.files.contains(name)) spoiled += " " + name + " (gone)";
  if (!spoiled.empty()) {
    tally.note(c, Finding::FileChanged, spoiled);
  }

  // A reply seconds after its time-out (the preset switch's) answers whatever runs then, and
  // that fails as it should; the operator's refresh comes once it has arrived.
  if (c.fault == Fault::Late) rig.sim->clock().advance(kLateSettleMs);
  const std::string recovery = Recover(rig);
  if (recovery.empty()) {
    ++tally.recoveries;
  } else {
    tally.note(c, Finding::NoRecovery, " " + recovery);
  }
}

// The operation without a fault; `before` gets the files as it starts.
Aftermath CleanRun(const Operation& op, int slot, Files& before) {
  CampaignRig rig;
  op.prepare(rig, slot);
  before = rig.files();
  rig.forget();
  rig.keepReads = true;
  std::uint64_t writes = 0;
  rig.sim->beforeWrite = [&writes](std::uint32_t) { ++writes; };
  const std::uint64_t answersBefore = rig.bus->answersSent();
  const bool success = op.run(rig, slot);
  rig.sim->beforeWrite = nullptr;
  Aftermath run = Observe(rig, op, slot, success);
  run.writes = writes;
  run.answers = rig.bus->answersSent() - answersBefore;
  rig.trimTranscript();
  run.replyBytes = rig.replyBytes;
  run.read = std::move(rig.readStream);
  EXPECT_TRUE(success) << op.name << " slot " << slot << " fails without a fault; status '"
                       << rig.frontend.statusText << "' colour "
                       << int(rig.frontend.statusColour == link::kRed) << " boxes "
                       << rig.frontend.boxes.size() << " texts " << rig.frontend.statusTexts.size();
  EXPECT_EQ(run.view, "") << op.name << " slot " << slot;
  return run;
}

// Where one fault strikes an operation: every point within kEnds of either end, and every
// stride-th point in between. The middle is the upload's payload, one exchange repeated: one byte
// written, its echo read and compared (and later the read-back of the same bytes). A fault
// anywhere there shifts or spoils the replies that follow, and the same comparison must notice it
// wherever it strikes; an odd stride strikes bytes at even and at odd places (both digits of a
// hex pair, both halves of a word) and every kind of byte the payload holds. The ends are where
// the exchanges differ from one another (the preamble, the select frame, the header and its
// acknowledgement, the last echoes, the read-back's end, the commit, the release): struck at
// every point. QUBIX_CAMPAIGN_STRIDE=1 strikes everywhere.
constexpr std::size_t kEnds = 96;
constexpr std::uint64_t kDefaultStride = 31;

std::vector<std::uint64_t> StrikePoints(const Aftermath& clean, Fault fault, std::uint64_t stride) {
  std::vector<std::uint64_t> all;
  switch (PointOf(fault)) {
    case Point::Write:
      for (std::uint64_t at = 0; at < clean.writes; ++at) all.push_back(at);
      break;
    case Point::Sent:
      for (std::uint64_t at = 0; at < clean.replyBytes; ++at) all.push_back(at);
      break;
    case Point::Read:
      for (std::size_t at = 0; at < clean.read.size(); ++at)
        if (PlausibleByte(fault, clean.read, at)) all.push_back(at);
      break;
    case Point::Answer:
      for (std::uint64_t at = 0; at < clean.answers; ++at) all.push_back(at);
      break;
  }
  std::vector<std::uint64_t> out;
  for (std::size_t k = 0; k < all.size(); ++k)
    if (k < kEnds || k + kEnds >= all.size() || (k - kEnds) % stride == 0) out.push_back(all[k]);
  return out;
}

class FaultCampaign : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultCampaign, NoFalseSuccessNoSpoiledFileAndRecoveryAfterEveryFault) {
  std::uint64_t stride = kDefaultStride;
  // Tens of thousands of scratch folders come and go: in memory where the system has it.
  if (std::filesystem::is_directory("/dev/shm")) ::setenv("TMPDIR", "/dev/shm", 1);
  if (const char* s = std::getenv("QUBIX_CAMPAIGN_STRIDE")) stride = std::max(1, std::atoi(s));
  const std::vector<Operation> ops = Operations();
  const auto op =
      std::find_if(ops.begin(), ops.end(), [](const Operation& o) { return o.name == GetParam(); });
  ASSERT_NE(op, ops.end());
  Tally tally;
  std::map<Fault, int> perFault;
  for (const int slot : {0, static_cast<int>(kIds.size()) - 1}) {
    Files before;
    const Aftermath clean = CleanRun(*op, slot, before);
    for (const Fault fault : kFaults) {
      for (const std::uint64_t at : StrikePoints(clean, fault, stride)) {
        RunCase(Case{&*op, fault, slot, at}, clean, before, tally);
        ++perFault[fault];
      }
    }
  }
  tally.print(op->name);
  std::cout << op->name << ": cases";
  for (const auto& [fault, n] : perFault) std::cout << " " << FaultName(fault) << " " << n << ";";
  std::cout << " stride " << stride << "\n";
  // One line per fault kind, in a fixed form that a summary over all operations can add up.
  for (const auto& [fault, n] : tally.byFault)
    std::cout << "by fault: " << op->name << " | " << FaultName(fault) << " | runs " << n.runs
              << " | failed " << n.failed << " | false successes " << n.falseSuccesses << "\n";
  for (const auto& o : kOpenFaults) {
    if (o.op != op->name) continue;
    const int n = tally.open.contains({o.op, o.finding}) ? tally.open.at({o.op, o.finding}) : 0;
    std::cout << "open: " << o.op << ", " << kFindingNames[static_cast<std::size_t>(o.finding)]
              << " (" << o.what << "): "
              << (n > 0 ? std::to_string(n) + " cases"
                        : std::string("none found, remove the entry"))
              << "\n";
  }
  const auto& f = tally.found;
  std::cout << op->name << ": cases " << tally.cases << ", false successes " << f[0]
            << ", files changed by failed work " << f[1] << ", recoveries " << tally.recoveries
            << "/" << tally.cases << std::endl;
  EXPECT_EQ(tally.mended[static_cast<std::size_t>(Finding::FalseSuccess)], 0);
  EXPECT_EQ(tally.mended[static_cast<std::size_t>(Finding::FileChanged)], 0);
  EXPECT_EQ(tally.mended[static_cast<std::size_t>(Finding::NoRecovery)], 0);
}

INSTANTIATE_TEST_SUITE_P(ByOperation, FaultCampaign,
                         ::testing::Values("Refresh", "Upload", "HardwarePreset", "UserPresetStore",
                                           "UserPresetRecall", "CopyToAll", "EditorOpening",
                                           "Apply", "EqImport"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace qubix::test
