// Network commands: scan (probe the bus like the scan button and store the list), list (the
// entries of maclist.dat) and status (refresh and print each listed processor's slot record).
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "cli/Progress.h"
#include "cli/StationSession.h"
#include "network/MachineList.h"
#include "network/NetworkManager.h"
#include "network/Slots.h"
#include "network/Station.h"
#include "protocol/NumberText.h"
#include "protocol/WireCodes.h"

namespace qubix::cli {
namespace {

using network::NetworkManager;
using network::RefreshOutcome;

using protocol::ShortNumber;

using protocol::codes::AttenuationDb;
using protocol::codes::GainDb;

std::string_view OutcomeText(RefreshOutcome outcome) {
  switch (outcome) {
    case RefreshOutcome::Done:
      return "done";
    case RefreshOutcome::NoListFile:
      return "no maclist.dat";
    case RefreshOutcome::FileError:
      return "file error";
    case RefreshOutcome::ConnectionFail:
      return "the adapter stopped answering";
    case RefreshOutcome::SelectFailed:
      return "a processor did not answer its select frame";
    case RefreshOutcome::ReleaseFailed:
      return "the release could not be written";
    case RefreshOutcome::ReadFailed:
      return "some values could not be read";
  }
  return "failed";
}

void PrintIdentifiers(Invocation& inv, const char* key, const std::vector<std::string>& ids) {
  if (inv.json) {
    QJsonArray list;
    // Entries come from maclist.dat as bytes; a damaged one must not break the document.
    for (const auto& id : ids) list.append(Latin1Text(id));
    inv.print(JsonLine(QJsonDocument(
        QJsonObject{{"count", static_cast<int>(ids.size())}, {QLatin1String(key), list}})));
    return;
  }
  for (const auto& id : ids) inv.print(Latin1ToUtf8(id) + "\n");
}

// ---- scan -----------------------------------------------------------------------------------

void AddScanOptions(QCommandLineParser& p) {
  p.addOption(QCommandLineOption(QStringLiteral("max"),
                                 QStringLiteral("Stop after N machines (1 … 8, default 1)."),
                                 QStringLiteral("N")));
}

// The scan as the operator follows it: each probed address and how many answered so far, and
// the stop Ctrl-C or SIGTERM asks for, taken as the window's "StopScan" is: after the address
// being probed, with the list of what answered stored.
class ScanProgress : public network::NetworkView {
 public:
  ScanProgress(Progress& progress, const StopRequest& stop, const NetworkManager& net,
               bool& stopFlag)
      : progress_(progress), stop_(stop), net_(net), stopFlag_(stopFlag) {}
  void probeFrameChanged(std::string_view frame) override {
    ++address_;
    if (stop_.requested() && !stopped_) {
      stopFlag_ = true;
      stopped_ = true;
    }
    const std::string text = "address " + std::to_string(address_) + " of " +
                             std::to_string(network::kLastScanAddress) + " (" +
                             std::string(frame.substr(0, network::kIdentifierLength)) +
                             "), found " + std::to_string(found_);
    progress_.bar(address_, network::kLastScanAddress, text);
    // Without a terminal a line now and then, so that a log shows the scan moving.
    if (progress_.mode() == Progress::Mode::Lines && address_ % kLineEvery == 1)
      progress_.line("scan: " + text);
  }
  void listBoxChanged(const std::vector<std::string>& items) override {
    // The refresh after the scan fills the list box again: that is not a find.
    if (!net_.scanning()) return;
    if (static_cast<int>(items.size()) <= found_) {
      found_ = static_cast<int>(items.size());
      return;
    }
    found_ = static_cast<int>(items.size());
    if (progress_.mode() == Progress::Mode::Lines)
      progress_.line("scan: address " + std::to_string(address_) + ": " +
                     Latin1ToUtf8(items.back()) + " answered, found " + std::to_string(found_));
  }
  int address() const { return address_; }
  // The scan ended early because a signal asked.
  bool stopped() const { return stopped_; }

 private:
  static constexpr int kLineEvery = 64;
  Progress& progress_;
  const StopRequest& stop_;
  const NetworkManager& net_;
  bool& stopFlag_;
  int address_ = 0;
  int found_ = 0;
  bool stopped_ = false;
};

int RunScan(Invocation& inv) {
  const int max = inv.optionalInt(QStringLiteral("max"), 1, network::kSlotCount).value_or(1);
  auto session = OpenStation(inv);
  if (!ConnectStation(inv, *session)) return kExitFailure;
  network::Station& station = *session->station;
  NetworkManager& net = station.network;
  const StopRequest stop;
  // The list the scan starts from is the stored one, as after the program's first refresh.
  net.RefreshMachines();
  if (stop.requested()) {
    inv.printError(QStringLiteral("stopped before the scan began; %1 is as it was")
                       .arg(QString::fromStdString(net.listPath().string())));
    return 128 + stop.signal();
  }
  net.SetMaxSearch(max);
  const int boxesBefore = session->frontend.boxes;
  Progress progress(inv.err, inv.json);
  ScanProgress view(progress, stop, net, station.stopFlag);
  net.setView(&view);
  net.StartOrStopScan();
  net.setView(nullptr);
  progress.finish();
  std::vector<std::string> found;
  for (int i = 0; i < std::min(net.foundCount(), network::kListEntries); ++i)
    found.push_back(net.list().entry(i));
  PrintIdentifiers(inv, "found", found);
  const bool ok = session->frontend.boxes == boxesBefore;
  // A signal after the last address cut nothing short: the scan ends as it would have.
  if (view.stopped() && !net.scanLostAdapter()) {
    // What answered is the list now; the rest of the bus was not asked.
    inv.printError(QStringLiteral("scan stopped after address %1 of %2: %3 found%4")
                       .arg(view.address())
                       .arg(network::kLastScanAddress)
                       .arg(found.size())
                       .arg(ok ? QStringLiteral(", stored in ") +
                                     QString::fromStdString(net.listPath().string())
                               : QString()));
    return 128 + stop.signal();
  }
  return ok ? kExitOk : kExitFailure;
}

// ---- list -----------------------------------------------------------------------------------

int RunList(Invocation& inv) {
  const auto path = DataDir(inv) / network::kMachineListFile;
  network::MachineList list;
  std::string error;
  switch (network::ReadMachineListFile(path, list, &error)) {
    case network::ReadResult::Missing:
      list.count = 0;
      SayWhereTheListWasLookedFor(inv, path.parent_path());
      break;
    case network::ReadResult::Failed:
      inv.printError(QString::fromStdString(error));
      return kExitFailure;
    case network::ReadResult::DamagedCount:
      inv.printError(QStringLiteral("%1: damaged count %2")
                         .arg(QString::fromStdString(path.string()))
                         .arg(list.count));
      return kExitFailure;
    case network::ReadResult::Ok:
      break;
  }
  std::vector<std::string> ids;
  ids.reserve(static_cast<std::size_t>(std::max<int>(list.count, 0)));
  for (int i = 0; i < list.count; ++i) ids.push_back(list.entry(i));
  PrintIdentifiers(inv, "entries", ids);
  return kExitOk;
}

// ---- status ---------------------------------------------------------------------------------

int RunStatus(Invocation& inv) {
  auto session = OpenStation(inv);
  if (!ConnectStation(inv, *session)) return kExitFailure;
  NetworkManager& net = session->station->network;
  const RefreshOutcome outcome = net.RefreshMachines();
  const int shown =
      static_cast<int>(std::min<std::size_t>(net.listBox().size(), network::kSlotCount));
  QJsonArray machines;
  for (int k = 0; k < shown; ++k) {
    const auto& slot = net.slotAt(k);
    if (slot.identifier.empty()) continue;
    const auto& r = slot.record;
    const std::string hwName = r.hardwarePreset == network::kExtraPreset
                                   ? slot.extraPresetName
                                   : network::CaptionText(network::HardwarePresetName(
                                         net.hardwarePresetNames(), r.hardwarePreset));
    const std::string userName = network::UserPresetName(net.userPresetNames(), r.userPreset);
    // A machine never read in full has no values to print; they are not zeros.
    if (slot.recordUnknown) {
      if (inv.json) {
        machines.append(QJsonObject{{"identifier", Latin1Text(slot.identifier)}, {"known", false}});
      } else {
        inv.print(slot.identifier + "\n  values unknown: could not be read\n");
      }
      continue;
    }
    if (inv.json) {
      machines.append(QJsonObject{{"identifier", Latin1Text(slot.identifier)},
                                  {"known", true},
                                  {"hardwarePreset", static_cast<int>(r.hardwarePreset)},
                                  {"hardwarePresetName", Latin1Text(hwName)},
                                  {"userPreset", static_cast<int>(r.userPreset)},
                                  {"userPresetName", JsonText(userName)},
                                  {"gainADb", JsonNumber(GainDb(r.gainA))},
                                  {"gainBDb", JsonNumber(GainDb(r.gainB))},
                                  {"attenuation12Db", JsonNumber(AttenuationDb(r.outAttn12))},
                                  {"attenuation34Db", JsonNumber(AttenuationDb(r.outAttn34))},
                                  {"delay12", static_cast<int>(r.delay12)},
                                  {"delay34", static_cast<int>(r.delay34)},
                                  {"extraPresetName", Latin1Text(slot.extraPresetName)}});
    } else {
      inv.print(Latin1ToUtf8(slot.identifier) + "\n");
      inv.print("  hardware preset " + std::to_string(r.hardwarePreset) + " " +
                Latin1ToUtf8(hwName) + "\n");
      inv.print("  user preset     " + std::to_string(r.userPreset) + " " + userName + "\n");
      inv.print("  gains dB        A " + ShortNumber(GainDb(r.gainA)) + "  B " +
                ShortNumber(GainDb(r.gainB)) + "\n");
      inv.print("  attenuation dB  Ch1/Ch2 " + ShortNumber(AttenuationDb(r.outAttn12)) +
                "  Ch3/Ch4 " + ShortNumber(AttenuationDb(r.outAttn34)) + "\n");
      inv.print("  delays          Ch1/Ch2 " + std::to_string(r.delay12) + "  Ch3/Ch4 " +
                std::to_string(r.delay34) + "\n");
      inv.print("  extra preset    " + Latin1ToUtf8(slot.extraPresetName) + "\n");
    }
  }
  // The refresh's outcome decides; the status line's reports only say where a failure lies
  // (the adapter or a processor). A settings file the refresh could not make, or found damaged
  // and moved aside, fails the command too.
  const bool read = outcome == RefreshOutcome::Done || outcome == RefreshOutcome::NoListFile;
  const bool ok = read && net.fileProblems().empty();
  if (inv.json) {
    inv.print(JsonLine(QJsonDocument(QJsonObject{
        {"machines", machines},
        {"outcome", JsonText(OutcomeText(outcome))},
        {"dataDirectory", QString::fromStdString(session->station->dataDir().string())}})));
  }
  if (outcome == RefreshOutcome::NoListFile)
    SayWhereTheListWasLookedFor(inv, session->station->dataDir());
  if (!read) {
    const std::vector<std::string> faults = session->frontend.faults();
    inv.printError(
        QString::fromStdString(std::string(OutcomeText(outcome)) +
                               (faults.empty() ? std::string() : ": " + faults.front())));
  }
  for (const auto& problem : net.fileProblems()) inv.printError(QString::fromStdString(problem));
  // Each machine whose values are not what it holds, by name and parameter.
  for (const auto& fault : net.readFaults())
    inv.printError(QString::fromStdString(network::ReadFaultText(fault)));
  return ok ? kExitOk : kExitFailure;
}

RegisterCommand scanCommand{{QStringLiteral("scan"),
                             QStringLiteral("Probe the bus for machines and store maclist.dat."),
                             AddScanOptions, RunScan}};
RegisterCommand listCommand{
    {QStringLiteral("list"), QStringLiteral("Print the entries of maclist.dat."), {}, RunList}};
RegisterCommand statusCommand{{QStringLiteral("status"),
                               QStringLiteral("Read every listed machine and print its state."),
                               {},
                               RunStatus}};

}  // namespace
}  // namespace qubix::cli
