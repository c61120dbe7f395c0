#include "cli/StationSession.h"

#include "compose/LinkFactory.h"

namespace qubix::cli {

namespace {
RegisterGlobalOption linkOption{QCommandLineOption(
    QStringLiteral("link"),
    QStringLiteral("The adapter: sim:, serial:[DEVICE], ftdi:[DESC], d2xx:, tcp:HOST:PORT or "
                   "rfc2217:HOST:PORT (default: none)."),
    QStringLiteral("URI"))};
RegisterGlobalOption dataDirOption{QCommandLineOption(
    QStringLiteral("data-dir"),
    QStringLiteral("The data directory with maclist.dat and the pictures (default: .)."),
    QStringLiteral("DIR"))};

std::string trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}
}  // namespace

link::Answer ConsoleFrontend::messageBox(std::string_view text, std::string_view caption,
                                         link::Buttons buttons) {
  ++boxes;
  const std::string prefix = caption.empty() ? std::string() : trimmed(caption) + ": ";
  std::fprintf(err_, "qubix24ctl: %s%s\n", prefix.c_str(), trimmed(text).c_str());
  return buttons == link::Buttons::YesNo || buttons == link::Buttons::YesNoCancel
             ? link::Answer::No
             : link::Answer::Ok;
}

std::filesystem::path DataDir(const Invocation& inv) {
  if (inv.isSet(QStringLiteral("data-dir")))
    return std::filesystem::path(inv.value(QStringLiteral("data-dir")).toStdString());
  return std::filesystem::current_path();
}

std::unique_ptr<StationSession> OpenStation(const Invocation& inv) {
  const std::string uri = inv.isSet(QStringLiteral("link"))
                              ? inv.value(QStringLiteral("link")).toStdString()
                              : std::string();
  std::string error;
  auto adapter = link::backends::makeAdapter(uri, error);
  if (!adapter) throw UsageError("--link " + uri + ": " + error);
  const auto dir = DataDir(inv);
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    throw UsageError("--data-dir " + dir.string() + ": not a directory");
  auto session = std::make_unique<StationSession>(inv.err);
  session->station =
      std::make_unique<network::Station>(std::move(adapter), session->frontend, dir);
  session->station->LoadPresetNames();
  return session;
}

bool ConnectStation(const Invocation& inv, StationSession& session) {
  session.station->Connect();
  if (session.station->link.state().Connected) return true;
  std::string reason = session.frontend.status;
  if (!session.frontend.statusDetail.empty()) reason += " (" + session.frontend.statusDetail + ")";
  inv.printError(QStringLiteral("cannot open the adapter: %1").arg(QString::fromStdString(reason)));
  return false;
}

}  // namespace qubix::cli
