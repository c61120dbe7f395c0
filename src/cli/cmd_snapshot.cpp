// snapshot save|restore FILE: every listed machine's settings as one JSON show file, and back.
// The machines are those of the data directory's machine list, read as the window's refresh
// reads them; each is opened as the editor opens it. A restore sends through the editor's own
// operations, then reads every machine back and names what differs.
#include <QJsonDocument>
#include <memory>
#include <string>

#include "cli/Command.h"
#include "cli/StationSession.h"
#include "editor/ShowSnapshot.h"
#include "files/DurableFile.h"
#include "files/RegularFile.h"
#include "showfile/ShowJson.h"

namespace qubix::cli {
namespace {

// A show file holds at most eight machines of about 1 KiB each.
constexpr std::size_t kMaxShowFileBytes = std::size_t{256} * 1024;

QString Q(const std::string& s) { return QString::fromStdString(s); }

int Save(Invocation& inv, StationSession& s, editor::HeadlessEditor& ed, const std::string& path) {
  const editor::SnapshotTake take = editor::TakeShowSnapshot(ed, s.station->network);
  const protocol::Outcome closed = ed.state.CloseEditor();
  if (!take.outcome.ok || !closed.ok) {
    inv.printError(Q("snapshot: " + (take.outcome.ok ? closed : take.outcome).reason));
    return kExitFailure;
  }
  const QByteArray text = QJsonDocument(showfile::SnapshotToJson(take.machines)).toJson();
  std::string error;
  if (!files::ReplaceFile(path,
                          std::span(reinterpret_cast<const std::uint8_t*>(text.constData()),
                                    static_cast<std::size_t>(text.size())),
                          error)) {
    inv.printError(Q(error));
    return kExitFailure;
  }
  inv.print(std::to_string(take.machines.size()) + " machines saved to " + path + "\n");
  return kExitOk;
}

int Restore(Invocation& inv, StationSession& s, editor::HeadlessEditor& ed,
            const editor::ShowSnapshot& show) {
  network::Station& st = *s.station;
  network::TickCounter ticks(s.clockMs);
  network::HardwarePresets presets(st.link, st.bus, st.commands, st.frontend, st.network, ticks);
  presets.setEditor(&ed.state);
  const editor::RestoreReport report = editor::RestoreShowSnapshot(ed, presets, st.network, show);
  const protocol::Outcome closed = ed.state.CloseEditor();
  for (const auto& d : report.differences) inv.print("differs: " + d + "\n");
  if (!report.outcome.ok || !closed.ok) {
    inv.printError(Q("snapshot: " + (report.outcome.ok ? closed : report.outcome).reason));
    for (const auto& f : report.notApplied) inv.printError(Q("not applied: " + f));
    return kExitFailure;
  }
  inv.print(std::to_string(show.size()) + " machines restored, " +
            std::to_string(report.differences.size()) + " values differ\n");
  return report.differences.empty() ? kExitOk : kExitFailure;
}

int RunSnapshot(Invocation& inv) {
  if (inv.positional.size() != 2 || (inv.positional[0] != QStringLiteral("save") &&
                                     inv.positional[0] != QStringLiteral("restore")))
    throw UsageError("expected snapshot save FILE or snapshot restore FILE");
  const bool save = inv.positional[0] == QStringLiteral("save");
  const std::string path = inv.positional[1].toStdString();
  editor::ShowSnapshot show;
  if (!save) {
    // A file that cannot be restored is refused before anything is sent.
    std::string text;
    if (std::string why; !files::ReadFilePrefix(path, kMaxShowFileBytes + 1, text, &why)) {
      inv.printError(Q(path + ": cannot be read (" + why + ")"));
      return kExitFailure;
    }
    QJsonObject json;
    std::optional<showfile::JsonError> e;
    if (text.size() > kMaxShowFileBytes)
      e = showfile::JsonError{"bad_json", "larger than a show file can be", {}, {}, {}};
    if (!e) e = showfile::ParseObject(text, json);
    if (!e) e = showfile::SnapshotFromJson(json, show);
    if (e) {
      inv.printError(Q(path + ": " + e->message + ": nothing was sent"));
      return kExitFailure;
    }
  }
  auto session = OpenStation(inv);
  if (!ConnectStation(inv, *session)) return kExitFailure;
  const network::RefreshOutcome refreshed = session->station->network.RefreshMachines();
  if (refreshed != network::RefreshOutcome::Done &&
      refreshed != network::RefreshOutcome::NoListFile) {
    ReportFaults(inv, session->frontend, "snapshot");
    inv.printError(QStringLiteral("snapshot: the machine list could not be read in full"));
    return kExitFailure;
  }
  if (refreshed == network::RefreshOutcome::NoListFile)
    SayWhereTheListWasLookedFor(inv, session->station->dataDir());
  editor::HeadlessEditor ed(*session->station);
  return save ? Save(inv, *session, ed, path) : Restore(inv, *session, ed, show);
}

const RegisterCommand kSnapshot{
    {QStringLiteral("snapshot"),
     QStringLiteral("snapshot save|restore FILE: every listed machine's settings as a show file"),
     {},
     RunSnapshot}};

}  // namespace
}  // namespace qubix::cli
