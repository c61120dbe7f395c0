#include "cli/StationSession.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "compose/LinkFactory.h"
#include "compose/SimulatedList.h"
#include "files/DataDir.h"
#include "network/EqFile.h"

namespace qubix::cli {

namespace {
RegisterGlobalOption linkOption{QCommandLineOption(
    QStringLiteral("link"),
    QStringLiteral("The adapter: sim:, serial:[DEVICE], ftdi:[DESC], d2xx:, tcp:HOST:PORT, "
                   "rfc2217:HOST:PORT or none: (default: the first FTDI adapter found: a "
                   "serial port of ftdi_sio, else a chip through libftdi, else through d2xx)."),
    QStringLiteral("URI"))};
RegisterGlobalOption dataDirOption{QCommandLineOption(
    QStringLiteral("data-dir"),
    QStringLiteral("The data directory with maclist.dat and the pictures (default: .)."),
    QStringLiteral("DIR"))};
RegisterGlobalOption userDataOption{QCommandLineOption(
    QStringLiteral("user-data"),
    QStringLiteral("Use the per-user data directory, the window's from its menu entry "
                   "(~/.local/share/qubix24, on sim: ~/.local/share/qubix24-sim)."))};
RegisterGlobalOption traceOption{QCommandLineOption(
    QStringLiteral("trace"),
    QStringLiteral("Write every byte on the bus to FILE as JSON lines (read it with decode)."),
    QStringLiteral("FILE"))};
RegisterGlobalOption verboseOption{QCommandLineOption(
    QStringLiteral("verbose"), QStringLiteral("Say on stderr which data directory is used."))};

std::string trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}
}  // namespace

namespace {
// A frame as it can be printed: the protocol's frames are ASCII, an upload byte is not.
std::string Printable(const std::uint8_t* bytes, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = bytes[i];
    if (c >= 0x20 && c < 0x7f) {
      text.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
    }
  }
  return text;
}

std::function<compose::AdapterWithClock()> adapterForTesting;
}  // namespace

void SetAdapterForTesting(std::function<compose::AdapterWithClock()> make) {
  adapterForTesting = std::move(make);
}

void ConsoleFrontend::setStatusColour(link::Rgb colour) {
  statusColour = colour;
  if (colour != link::kRed) {
    open_ = false;
    return;
  }
  Fault f;
  if (link_ != nullptr) {
    const link::LinkState& st = link_->state();
    const auto length = static_cast<std::size_t>(
        std::clamp<std::int32_t>(st.SendLength, 0, static_cast<std::int32_t>(link::kBufferSize)));
    f.frame = Printable(st.SendBuffer.data(), length);
    f.got = st.bytesRead;
    f.wanted = st.ReplyLength;
  }
  faults_.push_back(std::move(f));
  open_ = true;
}

void ConsoleFrontend::setStatusText(std::string_view text) {
  status = std::string(text);
  if (!open_) return;
  faults_.back().text = status;
  faults_.back().textSet = true;
}

void ConsoleFrontend::setStatusDetail(std::string_view detail) {
  statusDetail = std::string(detail);
  // The link gives its reason right after its failure text, and so does a file problem shown
  // on the status line; any other reason belongs to the box that follows.
  if (open_ && faults_.back().detail.empty() &&
      (faults_.back().text == link::texts::kConnectionFail ||
       faults_.back().text == link::texts::kStatusNotOk ||
       faults_.back().text == network::eqtexts::kFileErrorCaption)) {
    faults_.back().detail = statusDetail;
  } else {
    unusedDetail_ = statusDetail;
  }
}

link::Answer ConsoleFrontend::messageBox(std::string_view text, std::string_view caption,
                                         link::Buttons buttons) {
  ++boxes;
  open_ = false;
  std::string line = caption.empty() ? std::string() : trimmed(caption) + ": ";
  line += trimmed(text);
  // A box says why after its fixed text: a file box which file and what failed, another the
  // reason the core gave with it.
  if (!unusedDetail_.empty()) line += " (" + unusedDetail_ + ")";
  unusedDetail_.clear();
  std::fprintf(err_, "qubix24ctl: %s\n", line.c_str());
  // A box with only OK (and Cancel) reports a failure; a question is not one.
  if (buttons == link::Buttons::Ok || buttons == link::Buttons::OkCancel) ++failureBoxes;
  return buttons == link::Buttons::YesNo || buttons == link::Buttons::YesNoCancel
             ? link::Answer::No
             : link::Answer::Ok;
}

std::vector<std::string> ConsoleFrontend::faults() const {
  std::vector<std::string> out;
  for (const Fault& f : faults_) {
    const std::string frame = "\"" + f.frame + "\"";
    const std::string why = f.detail.empty() ? std::string() : ": " + f.detail;
    const auto line = [&](std::string_view what) {
      std::string text(what);
      text.append(frame).append(why);
      return text;
    };
    if (f.text == link::texts::kConnectionFail) {
      out.push_back(line("the adapter failed sending "));
    } else if (f.text == link::texts::kCommError) {
      out.push_back(line("the adapter took only part of "));
    } else if (f.text == link::texts::kStatusNotOk) {
      out.push_back(line("the adapter failed reading the answer to "));
    } else if (f.text == link::texts::kNoDeviceRead) {
      out.push_back("no adapter is open");
    } else if (f.text == network::eqtexts::kFileErrorCaption) {
      out.push_back("file error" + why);
    } else if (!f.textSet || f.text == protocol::kNetConnectionFail) {
      if (f.got == 0)
        out.push_back("the processor did not answer " + frame);
      else
        out.push_back("the processor answered " + frame + " with " + std::to_string(f.got) +
                      " of " + std::to_string(f.wanted) + " bytes");
    } else {
      out.push_back(trimmed(f.text) + why);
    }
  }
  return out;
}

void ConsoleFrontend::forget() {
  faults_.clear();
  failureBoxes = 0;
  open_ = false;
  unusedDetail_.clear();
}

bool ReportFaults(const Invocation& inv, const ConsoleFrontend& frontend,
                  const std::string& subject) {
  const std::vector<std::string> faults = frontend.faults();
  // The first few say where to look; a dead adapter repeats itself for every later frame.
  constexpr std::size_t kShown = 3;
  for (std::size_t i = 0; i < faults.size() && i < kShown; ++i)
    inv.printError(QString::fromStdString(subject + ": " + faults[i]));
  if (faults.size() > kShown)
    inv.printError(QStringLiteral("%1: and %2 more failures")
                       .arg(QString::fromStdString(subject))
                       .arg(faults.size() - kShown));
  return !faults.empty() || frontend.failureBoxes > 0;
}

files::DataDirChoice ChooseDataDir(const Invocation& inv) {
  const bool userData = inv.isSet(QStringLiteral("user-data"));
  const bool dataDir = inv.isSet(QStringLiteral("data-dir"));
  if (userData && dataDir)
    throw UsageError("--data-dir and --user-data choose the data directory twice");
  const std::string option = dataDir ? inv.value(QStringLiteral("data-dir")).toStdString() : "";
  if (dataDir && option.empty()) throw UsageError("--data-dir needs a folder");
  std::error_code ec;
  files::DataDirChoice choice =
      files::ChooseDataDir(inv.value(QStringLiteral("link")).toStdString(), option, userData,
                           std::filesystem::current_path(ec), files::UserDataDir());
  // The tool makes a --data-dir folder when it writes there but copies nothing into it: the
  // seeding is the per-user folder's, which the window fills the same way.
  if (!userData) choice.seed = choice.seedSimulatedList = false;
  return choice;
}

std::filesystem::path DataDir(const Invocation& inv) {
  std::filesystem::path dir = ChooseDataDir(inv).path;
  if (inv.isSet(QStringLiteral("verbose")))
    inv.printError(QStringLiteral("data directory %1").arg(QString::fromStdString(dir.string())));
  return dir;
}

void SayWhereTheListWasLookedFor(const Invocation& inv, const std::filesystem::path& dir) {
  QString text = QStringLiteral("no machine list (%1) in %2; scan makes one")
                     .arg(QString::fromStdString(std::string(network::kMachineListFile)),
                          QString::fromStdString(dir.string()));
  const std::filesystem::path user = files::UserDataDir();
  const std::filesystem::path sim = files::SimulatorUserDataDir(user);
  if (dir != user && dir != sim)
    text += QStringLiteral(", and --user-data looks where the window's menu entry keeps it (%1)")
                .arg(QString::fromStdString(
                    (files::IsSimulatedLink(inv.value(QStringLiteral("link")).toStdString()) ? sim
                                                                                             : user)
                        .string()));
  inv.printError(text);
}

std::unique_ptr<StationSession> OpenStation(const Invocation& inv, files::DirUse use) {
  const std::string uri = inv.isSet(QStringLiteral("link"))
                              ? inv.value(QStringLiteral("link")).toStdString()
                              : std::string();
  std::string error;
  auto [adapter, clockMs] =
      adapterForTesting ? adapterForTesting() : compose::makeAdapterWithClock(uri, error);
  if (!adapter) throw UsageError("--link " + uri + ": " + error);
  const files::DataDirChoice choice = ChooseDataDir(inv);
  const auto dir = DataDir(inv);
  std::error_code ec;
  // A missing data directory is made, as the window program makes it, by a command that may
  // write there; one that only reads leaves it missing and finds nothing in it.
  bool present = std::filesystem::exists(dir, ec);
  if (!present && use == files::DirUse::Write) {
    std::filesystem::create_directories(dir, ec);
    if (ec)
      throw std::runtime_error("cannot make the data directory " + dir.string() + ": " +
                               ec.message());
    present = true;
  }
  if (present && !std::filesystem::is_directory(dir, ec))
    throw UsageError("--data-dir " + dir.string() + ": not a directory");
  auto session = std::make_unique<StationSession>(inv.err);
  session->clockMs = std::move(clockMs);
  if (present) {
    session->lock = files::DataDirLock::acquire(dir, kDataDirLockWait, error, use);
    if (!session->lock) throw std::runtime_error(error);
  }
  // The per-user folder starts as the window starts it: the shipped data, and on the simulated
  // bus the simulated processors' list; only by a command that may write there, once it holds
  // the folder.
  if (choice.seed && use == files::DirUse::Write) {
    const auto shared = files::SharedDataDir(QCoreApplication::applicationDirPath().toStdString());
    if (!files::SeedDataDir(shared, dir, error) ||
        (choice.seedSimulatedList && !compose::SeedSimulatedMachineList(dir, error)))
      throw std::runtime_error(error);
  }
  // Only the holder of the data directory makes the trace: a command refused above leaves the
  // running command's trace alone.
  if (inv.isSet(QStringLiteral("trace"))) {
    adapter = compose::traceAdapter(std::move(adapter),
                                    inv.value(QStringLiteral("trace")).toStdString(), error);
    if (!adapter) throw std::runtime_error("--trace: " + error);
  }
  session->station = std::make_unique<network::Station>(std::move(adapter), session->frontend, dir);
  session->frontend.watch(&session->station->link);
  session->station->LoadPresetNames();
  return session;
}

bool ConnectStation(const Invocation& inv, StationSession& session) {
  session.station->Connect();
  if (session.station->link.state().Connected) {
    // What connecting said is not part of the command's operation.
    session.frontend.forget();
    return true;
  }
  std::string reason = session.frontend.status;
  if (!session.frontend.statusDetail.empty()) reason += " (" + session.frontend.statusDetail + ")";
  inv.printError(QStringLiteral("cannot open the adapter: %1").arg(QString::fromStdString(reason)));
  return false;
}

}  // namespace qubix::cli
