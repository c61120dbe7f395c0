// Preset commands: vup show (a user preset file decoded), hfp check (an Extra preset file's
// size and checksum), hwpreset (switch a processor's hardware preset), upload (send an Extra
// preset file), recall (make a processor load a user preset location and read it back) and
// apply (send a user preset file as the editor's file load does). The bus commands select and
// release the processor as the program does and exit non-zero on any failure.
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "cli/Progress.h"
#include "cli/StationSession.h"
#include "editor/FilterImport.h"
#include "editor/HeadlessEditor.h"
#include "editor/UserPresetFile.h"
#include "editor/UserPresets.h"
#include "network/EqFile.h"
#include "network/HardwarePreset.h"
#include "network/HfpFile.h"
#include "protocol/Hex.h"

namespace qubix::cli {
namespace {

// Numbers in the shortest general form, as the editor's fields show them.
using editor::ShortNumber;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A knob position as attenuation in dB (64 = 0 dB, half-dB steps). The file may hold any
// number, so the arithmetic is done where no value can overflow.
double KnobDb(std::int32_t position) { return (static_cast<double>(position) - 64.0) * 0.5; }

std::string OnePositional(const Invocation& inv, const QString& verb, const char* what) {
  if (inv.positional.size() != 2 || inv.positional[0] != verb)
    throw UsageError("expected: " + verb.toStdString() + " " + what);
  return inv.positional[1].toStdString();
}

// ---- vup show -------------------------------------------------------------------------------

void PrintPreset(Invocation& inv, const editor::UserPresetRecord& r) {
  if (inv.json) {
    QJsonArray muted;
    for (auto m : r.muted) muted.append(m != 0);
    QJsonArray bands;
    for (std::size_t b = 0; b < editor::kPresetBands; ++b) {
      bands.append(QJsonObject{{"band", static_cast<int>(b + 1)},
                               {"freqHz", r.freqHz[b]},
                               {"gainDb", JsonNumber(static_cast<double>(r.gainDb[b]))},
                               {"q", JsonNumber(static_cast<double>(r.q[b]))}});
    }
    // The stash in the order the flat toggle keeps it: band 10 first, then bands 1 … 9.
    QJsonArray stash;
    for (float g : r.flatGainStash) stash.append(JsonNumber(static_cast<double>(g)));
    const QJsonObject o{{"inputGainADb", JsonNumber(r.inputGainA * 0.5)},
                        {"inputGainBDb", JsonNumber(r.inputGainB * 0.5)},
                        {"knob12", r.knob12},
                        {"knob34", r.knob34},
                        {"attenuation12Db", JsonNumber(KnobDb(r.knob12))},
                        {"attenuation34Db", JsonNumber(KnobDb(r.knob34))},
                        {"muted", muted},
                        {"delay12", r.delay12},
                        {"delay34", r.delay34},
                        {"flatMode", r.flatMode != 0},
                        {"ampLevelCode", r.ampLevelCode},
                        {"bands", bands},
                        {"flatGainStashDb", stash}};
    inv.print(JsonLine(QJsonDocument(o)));
    return;
  }
  inv.print("input gain dB     A " + ShortNumber(r.inputGainA * 0.5) + "  B " +
            ShortNumber(r.inputGainB * 0.5) + "\n");
  inv.print("attenuation dB    Ch1/Ch2 " + ShortNumber(KnobDb(r.knob12)) + "  Ch3/Ch4 " +
            ShortNumber(KnobDb(r.knob34)) + "\n");
  std::string mutes;
  for (std::size_t c = 0; c < 4; ++c)
    if (r.muted[c]) mutes += " Ch" + std::to_string(c + 1);
  inv.print("muted            " + (mutes.empty() ? std::string(" none") : mutes) + "\n");
  inv.print("delays            Ch1/Ch2 " + std::to_string(r.delay12) + "  Ch3/Ch4 " +
            std::to_string(r.delay34) + "\n");
  inv.print(std::string("flat mode         ") + (r.flatMode ? "on" : "off") + "\n");
  inv.print("amp level code    " + std::to_string(r.ampLevelCode) + "\n");
  inv.print(std::string("band  freq Hz  gain dB  Q       stash dB\n"));
  for (std::size_t b = 0; b < editor::kPresetBands; ++b) {
    // The stash lists band 10 first.
    const float stash = r.flatGainStash[(b + 1) % editor::kPresetBands];
    char line[96];
    std::snprintf(line, sizeof line, "%4zu  %7d  %7g  %-6g  %g\n", b + 1, r.freqHz[b],
                  static_cast<double>(r.gainDb[b]), static_cast<double>(r.q[b]),
                  static_cast<double>(stash));
    inv.print(std::string(line));
  }
}

int RunVup(Invocation& inv) {
  const std::string path = OnePositional(inv, QStringLiteral("show"), "show FILE");
  const editor::UserPresetReadResult result = editor::ReadUserPresetFile(path);
  switch (result.error) {
    case editor::PresetFileError::None:
      PrintPreset(inv, result.record);
      return kExitOk;
    case editor::PresetFileError::OutOfRange:
      PrintPreset(inv, result.record);
      inv.printError(Q("refused: " + result.detail));
      return kExitFailure;
    default:
      inv.printError(Q(result.detail));
      return kExitFailure;
  }
}

// ---- hfp check ------------------------------------------------------------------------------

int RunHfp(Invocation& inv) {
  const std::string path = OnePositional(inv, QStringLiteral("check"), "check FILE");
  const network::HfpReadResult result = network::ReadHfpFile(path);
  if (result.error == network::HfpFileError::Missing ||
      result.error == network::HfpFileError::Unreadable) {
    inv.printError(Q(result.detail));
    return kExitFailure;
  }
  const bool sized = result.error == network::HfpFileError::None;
  const std::int32_t stored = network::HfpStoredChecksum(result.image);
  const std::int32_t computed = network::HfpChecksum(result.image);
  const char* verdict = !sized ? "wrong size" : stored == computed ? "ok" : "corrupted";
  if (inv.json) {
    QJsonObject o{{"size", JsonNumber(static_cast<double>(result.fileSize))},
                  {"verdict", JsonText(verdict)}};
    if (sized) {
      o.insert("storedChecksum", stored);
      o.insert("computedChecksum", computed);
    }
    inv.print(JsonLine(QJsonDocument(o)));
  } else {
    inv.print("size      " + std::to_string(result.fileSize) + " bytes (an Extra preset is " +
              std::to_string(network::kHfpFileSize) + ")\n");
    if (sized) {
      inv.print("checksum  stored " + std::to_string(stored) + ", computed " +
                std::to_string(computed) + "\n");
    }
    inv.print(std::string("verdict   ") + verdict + "\n");
  }
  return std::string_view(verdict) == "ok" ? kExitOk : kExitFailure;
}

// ---- the bus commands -----------------------------------------------------------------------

void AddMachineOption(QCommandLineParser& p) {
  p.addOption(QCommandLineOption(QStringLiteral("machine"),
                                 QStringLiteral("The processor's identifier (H + 12 hex digits)."),
                                 QStringLiteral("ID")));
}

std::string MachineOption(const Invocation& inv) {
  const std::string id = inv.value(QStringLiteral("machine")).toStdString();
  const auto parsed = protocol::ParseIdentifier(id);
  if (!parsed) throw UsageError("--machine needs H followed by 12 hex digits, not \"" + id + "\"");
  return protocol::IdentifierText(*parsed);
}

std::string OneArgument(const Invocation& inv, const char* what) {
  if (inv.positional.size() != 1) throw UsageError(std::string("expected ") + what);
  return inv.positional[0].toStdString();
}

// The one positional argument as a number 0 … 7.
int NumberArgument(const Invocation& inv, const char* what) {
  const std::string text = OneArgument(inv, what);
  const auto n = ParseInt(QString::fromStdString(text));
  if (!n || *n < 0 || *n > 7) throw UsageError(std::string(what) + ", not \"" + text + "\"");
  return *n;
}

// A station connected to the adapter, with the one processor as slot 0 (the list file on disk
// is left as it is).
struct MachineSession {
  std::unique_ptr<StationSession> session;
  std::string id;
  network::Station& station() { return *session->station; }
};

std::optional<MachineSession> OpenMachine(Invocation& inv) {
  MachineSession m{OpenStation(inv), MachineOption(inv)};
  if (!ConnectStation(inv, *m.session)) return std::nullopt;
  network::NetworkManager& net = m.station().network;
  network::MachineList one;
  one.setEntry(0, m.id);
  one.count = 1;
  net.UseMachineList(one);
  network::SlotState& slot = net.slotAt(0);
  slot.identifier = m.id;
  slot.selectFrame = network::SlotSelectFrame(m.id);
  return m;
}

// Whether the operation failed: the core's outcome decides. The reason goes to stderr, and with
// it what the status line and the boxes said on the way, which may say more precisely where the
// fault lies.
bool Failed(const Invocation& inv, MachineSession& m, bool coreOk, std::string_view coreReason) {
  if (coreOk) return false;
  inv.printError(Q(m.id + ": " + std::string(coreReason)));
  ReportFaults(inv, m.session->frontend, m.id);
  return true;
}
bool Failed(const Invocation& inv, MachineSession& m, const protocol::Outcome& outcome) {
  return Failed(inv, m, outcome.ok, outcome.reason);
}

// The preset operations on a station, their ticks on the link's clock.
struct PresetRun {
  explicit PresetRun(MachineSession& m)
      : ticks(m.session->clockMs),
        presets(m.station().link, m.station().bus, m.station().commands, m.station().frontend,
                m.station().network, ticks) {}
  network::TickCounter ticks;
  network::HardwarePresets presets;
};

// A progress bar on stderr when it is a terminal.
class ConsoleProgress : public network::PresetView {
 public:
  explicit ConsoleProgress(std::FILE* err) : err_(err), tty_(isatty(fileno(err)) != 0) {}
  void setProgress(int position) override {
    if (!tty_) return;
    const int percent = position * 100 / 3726;
    if (percent == last_) return;
    last_ = percent;
    std::string bar(static_cast<std::size_t>(percent / 2), '#');
    bar.resize(50, '.');
    std::fprintf(err_, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(err_);
  }
  void showProgress(bool shown) override {
    if (!shown && tty_ && last_ >= 0) std::fputc('\n', err_);
  }

 private:
  std::FILE* err_;
  bool tty_;
  int last_ = -1;
};

// A hardware preset change says nothing while the processor reconfigures: the seconds are
// counted on a terminal, a line says what is waited for otherwise.
class PresetChangeProgress : public network::PresetView {
 public:
  PresetChangeProgress(Progress& progress, std::string text)
      : progress_(progress), text_(std::move(text)) {}
  void showWaiting(int /*slot*/) override {
    if (!ticker_) ticker_.emplace(progress_, text_);
  }
  void stopWaiting(int /*slot*/) override { ticker_.reset(); }

 private:
  Progress& progress_;
  std::string text_;
  std::optional<ElapsedTicker> ticker_;
};

int RunHwPreset(Invocation& inv) {
  const int preset = NumberArgument(inv, "the hardware preset is a number 0 … 7");
  auto m = OpenMachine(inv);
  if (!m) return kExitFailure;
  network::Station& st = m->station();
  PresetRun run(*m);
  network::HardwarePresets& presets = run.presets;
  Progress progress(inv.err, inv.json);
  PresetChangeProgress view(progress, "hwpreset: " + m->id + " changes to hardware preset " +
                                          std::to_string(preset) +
                                          ", waiting for it to settle (about 15 s)");
  presets.setView(&view);
  const network::PresetChangeOutcome outcome = presets.ApplyHardwarePreset(0, preset);
  presets.setView(nullptr);
  progress.finish();
  const network::SlotState& slot = st.network.slotAt(0);
  const int reported = slot.record.hardwarePreset;
  const std::string name = reported == network::kExtraPreset
                               ? slot.extraPresetName
                               : network::CaptionText(network::HardwarePresetName(
                                     st.network.hardwarePresetNames(), reported));
  if (Failed(inv, *m, outcome == network::PresetChangeOutcome::Done,
             network::PresetChangeText(outcome)))
    return kExitFailure;
  if (inv.json) {
    inv.print(JsonLine(QJsonDocument(QJsonObject{{"identifier", JsonText(m->id)},
                                                 {"hardwarePreset", reported},
                                                 {"hardwarePresetName", Latin1Text(name)}})));
  } else {
    inv.print(m->id + ": hardware preset " + std::to_string(reported) + " " + Latin1ToUtf8(name) +
              "\n");
  }
  // The processor reports what it runs; a different preset than asked is a failure.
  if (reported == preset) return kExitOk;
  inv.printError(Q(m->id + ": the processor runs hardware preset " + std::to_string(reported) +
                   ", not " + std::to_string(preset)));
  return kExitFailure;
}

std::string_view UploadOutcomeText(network::UploadOutcome o) {
  switch (o) {
    case network::UploadOutcome::Done:
      return "uploaded";
    case network::UploadOutcome::SelectFailed:
      return "the processor did not answer its select frame";
    case network::UploadOutcome::Cancelled:
      return "cancelled";
    case network::UploadOutcome::FileError:
      return "the file cannot be read";
    case network::UploadOutcome::CorruptedFile:
      return "the file is not a valid Extra preset";
    case network::UploadOutcome::WriteFailed:
      return "writing to the adapter failed";
    case network::UploadOutcome::Refused:
      return "the processor refused the upload";
    case network::UploadOutcome::EchoFailed:
      return "a byte was not echoed";
    case network::UploadOutcome::ReadBackFailed:
      return "the read-back differs";
    case network::UploadOutcome::NoFinalAck:
      return "the processor did not confirm the upload";
    case network::UploadOutcome::EndRefused:
      return "the processor did not acknowledge the end of the upload: its Extra preset is in "
             "doubt";
  }
  return "failed";
}

int RunUpload(Invocation& inv) {
  const std::string path = OneArgument(inv, "FILE.hfp");
  auto m = OpenMachine(inv);
  if (!m) return kExitFailure;
  PresetRun run(*m);
  network::HardwarePresets& presets = run.presets;
  ConsoleProgress progress(inv.err);
  presets.setView(&progress);
  const network::UploadOutcome outcome = presets.UploadExtraPresetFile(0, path);
  if (Failed(inv, *m, outcome == network::UploadOutcome::Done, UploadOutcomeText(outcome)))
    return kExitFailure;
  if (inv.json) {
    inv.print(JsonLine(
        QJsonDocument(QJsonObject{{"identifier", JsonText(m->id)}, {"outcome", "uploaded"}})));
  } else {
    inv.print(m->id + ": Extra preset uploaded\n");
  }
  return kExitOk;
}

using editor::HeadlessEditor;

// Opens the headless editor on the processor as a click on its slot does; empty (with the
// reason on stderr) when the processor does not answer.
std::unique_ptr<HeadlessEditor> OpenEditor(Invocation& inv, MachineSession& m) {
  auto editor = std::make_unique<HeadlessEditor>(m.station());
  const protocol::Outcome opened = editor->state.OpenEditorForSlot(0);
  if (opened.ok) return editor;
  Failed(inv, m, opened);
  return nullptr;
}

int RunRecall(Invocation& inv) {
  const int location = NumberArgument(inv, "the location is a number 0 … 7");
  auto m = OpenMachine(inv);
  if (!m) return kExitFailure;
  auto editor = OpenEditor(inv, *m);
  if (!editor) return kExitFailure;
  HeadlessEditor& ed = *editor;
  const editor::RecallResult recalled = ed.presets.RecallFromLocation(location);
  const editor::EditorState& s = ed.state;
  protocol::Outcome outcome = recalled.outcome;
  if (!recalled.unread.empty())
    outcome.also(
        protocol::Outcome::Failed("the processor did not report all the recalled settings"));
  // A failed recall has closed the editor already; otherwise the close is part of the operation.
  if (recalled.ok()) outcome.also(ed.state.CloseEditor());
  if (Failed(inv, *m, outcome)) return kExitFailure;
  if (inv.json) {
    const QJsonObject o{{"identifier", JsonText(m->id)},
                        {"userPreset", JsonText(s.userPresetName())},
                        {"inputGainADb", JsonNumber(editor::EditValue(s.gainText()[0]))},
                        {"inputGainBDb", JsonNumber(editor::EditValue(s.gainText()[1]))},
                        {"attenuation12Db", JsonNumber(s.knobValue()[0])},
                        {"attenuation34Db", JsonNumber(s.knobValue()[1])},
                        {"delay12", s.delay()[0]},
                        {"delay34", s.delay()[1]},
                        {"ampLevelCode", s.ampLevelCode()}};
    inv.print(JsonLine(QJsonDocument(o)));
  } else {
    inv.print(m->id + ": " + s.userPresetName() + "\n");
    inv.print("  input gain dB   A " + s.gainText()[0] + "  B " + s.gainText()[1] + "\n");
    inv.print("  attenuation dB  Ch1/Ch2 " + ShortNumber(s.knobValue()[0]) + "  Ch3/Ch4 " +
              ShortNumber(s.knobValue()[1]) + "\n");
    inv.print("  delays          Ch1/Ch2 " + std::to_string(s.delay()[0]) + "  Ch3/Ch4 " +
              std::to_string(s.delay()[1]) + "\n");
    inv.print("  amp level code  " + std::to_string(s.ampLevelCode()) + "\n");
  }
  return kExitOk;
}

int RunApply(Invocation& inv) {
  const std::string path = OneArgument(inv, "FILE.vup");
  // A file that cannot be applied is refused before anything is selected.
  const editor::UserPresetReadResult check = editor::ReadUserPresetFile(path);
  if (!check.ok()) {
    inv.printError(Q(check.detail));
    return kExitFailure;
  }
  auto m = OpenMachine(inv);
  if (!m) return kExitFailure;
  auto editor = OpenEditor(inv, *m);
  if (!editor) return kExitFailure;
  HeadlessEditor& ed = *editor;
  protocol::Outcome outcome = ed.presets.LoadFromFile(path);
  outcome.also(ed.state.CloseEditor());
  if (Failed(inv, *m, outcome)) return kExitFailure;
  inv.print(m->id + ": " + path + " applied\n");
  return kExitOk;
}

// ---- eq import / export -----------------------------------------------------------------------

void AddEqOptions(QCommandLineParser& p) {
  AddMachineOption(p);
  p.addOption(
      QCommandLineOption(QStringLiteral("preamp"),
                         QStringLiteral("import: set both input gains to the file's Preamp.")));
}

// eq import --machine ID FILE [--preamp]: the filters go to the processor as the editor sends
// them, and its equaliser files keep them. A file that cannot be imported is refused before
// anything is selected.
int RunEqImport(Invocation& inv, const std::string& path) {
  const filters::FilterReadResult read = editor::ReadFilterFile(path);
  if (!read.ok()) {
    inv.printError(Q(read.error));
    return kExitFailure;
  }
  const bool usePreamp = inv.isSet(QStringLiteral("preamp"));
  if (usePreamp && !read.filters->preampDb) {
    inv.printError(Q(path + " has no Preamp line for --preamp: nothing was sent"));
    return kExitFailure;
  }
  auto m = OpenMachine(inv);
  if (!m) return kExitFailure;
  auto editor = OpenEditor(inv, *m);
  if (!editor) return kExitFailure;
  const editor::ImportOutcome outcome =
      editor::ApplyImportedFilters(editor->state, *read.filters, usePreamp);
  const protocol::Outcome closed = editor->state.CloseEditor();
  if (Failed(inv, *m, outcome.sent, outcome.reason) || Failed(inv, *m, closed)) return kExitFailure;
  if (inv.json) {
    QJsonArray changes;
    for (const auto& line : outcome.changes) changes.append(Q(line));
    const QJsonObject o{{QStringLiteral("identifier"), Q(m->id)},
                        {QStringLiteral("file"), Q(path)},
                        {QStringLiteral("changes"), changes}};
    inv.print(JsonLine(QJsonDocument(o)));
  } else {
    for (const auto& line : outcome.changes) inv.print("changed: " + line + "\n");
    inv.print(m->id + ": " + path + " imported\n");
  }
  return kExitOk;
}

// eq export --machine ID FILE: the bands of the machine's last-edit equaliser file.
int RunEqExport(Invocation& inv, const std::string& path) {
  const std::string id = MachineOption(inv);
  const network::EqReadOutcome eq = network::ReadEqFile(network::LastEditEqPath(DataDir(inv), id));
  if (eq.result != network::EqFileResult::Ok) {
    inv.printError(Q(id + ": " +
                     (eq.result == network::EqFileResult::Missing
                          ? "no equaliser file in the data directory"
                          : "its equaliser file cannot be read (" + eq.error + ")")));
    return kExitFailure;
  }
  filters::FilterBands bands{};
  for (std::size_t i = 0; i < bands.size(); ++i)
    bands[i] = {static_cast<float>(eq.record.freqHz[i]), eq.record.gainDb[i], eq.record.q[i]};
  std::string error;
  if (!editor::WriteFilterFile(path, bands, error)) {
    inv.printError(Q(error));
    return kExitFailure;
  }
  if (inv.json) {
    const QJsonObject o{{QStringLiteral("identifier"), Q(id)}, {QStringLiteral("file"), Q(path)}};
    inv.print(JsonLine(QJsonDocument(o)));
  } else {
    inv.print(id + ": exported to " + path + "\n");
  }
  return kExitOk;
}

int RunEq(Invocation& inv) {
  if (inv.positional.size() != 2 || (inv.positional[0] != QStringLiteral("import") &&
                                     inv.positional[0] != QStringLiteral("export")))
    throw UsageError("expected eq import FILE or eq export FILE");
  if (!inv.isSet(QStringLiteral("machine"))) throw UsageError("--machine is required");
  const std::string path = inv.positional[1].toStdString();
  return inv.positional[0] == QStringLiteral("import") ? RunEqImport(inv, path)
                                                       : RunEqExport(inv, path);
}

const RegisterCommand kVup{{QStringLiteral("vup"),
                            QStringLiteral("vup show FILE: a user preset file, decoded"),
                            {},
                            RunVup}};
const RegisterCommand kHfp{
    {QStringLiteral("hfp"),
     QStringLiteral("hfp check FILE: an Extra preset file's size and checksum"),
     {},
     RunHfp}};
const RegisterCommand kHwPreset{
    {QStringLiteral("hwpreset"),
     QStringLiteral("--machine ID N: switch to hardware preset N (0 … 7)"), AddMachineOption,
     RunHwPreset}};
const RegisterCommand kUpload{{QStringLiteral("upload"),
                               QStringLiteral("--machine ID FILE.hfp: upload an Extra preset"),
                               AddMachineOption, RunUpload}};
const RegisterCommand kRecall{{QStringLiteral("recall"),
                               QStringLiteral("--machine ID LOCATION: load a user preset location"),
                               AddMachineOption, RunRecall}};
const RegisterCommand kApply{{QStringLiteral("apply"),
                              QStringLiteral("--machine ID FILE.vup: send a user preset file"),
                              AddMachineOption, RunApply}};
const RegisterCommand kEq{
    {QStringLiteral("eq"),
     QStringLiteral("eq import|export --machine ID FILE [--preamp]: filter text in and out"),
     AddEqOptions, RunEq}};

}  // namespace
}  // namespace qubix::cli
