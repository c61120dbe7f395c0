#include "app/Options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>

#include "compose/SimulatedList.h"
#include "files/DataDir.h"
#include "link/backends/net/NetAddress.h"

namespace qubix::app {

namespace {

const QString kProgram = QStringLiteral("qubix24");

QString Footer(const QString& currentDir, const QString& userDataDir) {
  return QStringLiteral(
             "\nAdapters:\n"
             "  sim:               the simulated bus of three processors\n"
             "  serial:[DEV]       a serial port, e.g. serial:/dev/ttyUSB0\n"
             "  ftdi:[DESC]        the adapter through direct USB access\n"
             "  d2xx:              the adapter through the vendor's driver library\n"
             "  tcp:HOST:PORT      a bus behind a device server's raw TCP port\n"
             "  rfc2217:HOST:PORT  the same over Telnet, the program setting the line\n"
             "  none:              an adapter that never opens\n"
             "Without --link the program looks for an FTDI adapter (vendor 0403) every 500 ms\n"
             "until one opens: first a serial port of the kernel's ftdi_sio driver (ttyUSB0,\n"
             "ttyUSB1, ...), else a chip through libftdi (by bus and socket), else a device\n"
             "of the vendor's driver library where it is installed; the status line's tool\n"
             "tip says what was looked for and why none opened.\n"
             "\nData directory (maclist.dat, hwpresetlist.dat, equaliser files, pictures):\n"
             "  without --data-dir the current directory, here %1;\n"
             "  with --user-data %2,\n"
             "  on the simulated bus %3;\n"
             "  --data-dir and --user-data make the folder if needed and copy into it the\n"
             "  shipped data it lacks, never overwriting a file; on the simulated bus a\n"
             "  folder without a machine list starts with the simulated processors.\n")
      .arg(QDir::toNativeSeparators(currentDir), QDir::toNativeSeparators(userDataDir),
           QDir::toNativeSeparators(SimulatorUserDataDir(userDataDir)));
}

}  // namespace

Options ParseOptions(const QStringList& args, const QString& currentDir,
                     const QString& userDataDir) {
  Options o;
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("A controller for Qubix 24 loudspeaker processors on an RS-422 bus."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Show the version and exit."));
  const QCommandLineOption simulator(QStringLiteral("simulator"),
                                     QStringLiteral("Run on the built-in simulated bus (same "
                                                    "as --link sim:)."));
  const QCommandLineOption link(QStringLiteral("link"),
                                QStringLiteral("The adapter: sim:, serial:[DEV], ftdi:[DESC], "
                                               "d2xx:, tcp:HOST:PORT, rfc2217:HOST:PORT."),
                                QStringLiteral("ADAPTER"));
  const QCommandLineOption trace(QStringLiteral("trace"),
                                 QStringLiteral("Write every byte on the bus to FILE as JSON "
                                                "lines (qubix24ctl decode reads it)."),
                                 QStringLiteral("FILE"));
  const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                   QStringLiteral("Keep the data in DIR."), QStringLiteral("DIR"));
  const QCommandLineOption userData(QStringLiteral("user-data"),
                                    QStringLiteral("Keep the data in the per-user data "
                                                   "directory (as the menu entry does)."));
  QCommandLineOption quitAfter(QStringLiteral("quit-after-ms"),
                               QStringLiteral("End after MS milliseconds."), QStringLiteral("MS"));
  quitAfter.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({help, version, simulator, link, trace, dataDir, userData, quitAfter});

  // The parser names the program by the path it was started with; name it plainly.
  const QString parserHelp = parser.helpText();
  o.helpText = QStringLiteral("Usage: %1 [options]").arg(kProgram) +
               parserHelp.mid(parserHelp.indexOf(u'\n')) + Footer(currentDir, userDataDir);

  if (!parser.parse(args)) {
    o.error = parser.errorText();
    return o;
  }
  o.help = parser.isSet(help);
  o.version = parser.isSet(version);
  if (!parser.positionalArguments().isEmpty()) {
    o.error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    return o;
  }
  if (parser.isSet(simulator)) o.link = "sim:";
  if (parser.isSet(link)) {
    if (parser.isSet(simulator)) {
      o.error = QStringLiteral("--simulator and --link choose the adapter twice");
      return o;
    }
    o.link = parser.value(link).toStdString();
    if (o.link.find(':') == std::string::npos) {
      o.error = QStringLiteral(
          "an adapter is written with a colon: sim:, serial:DEVICE, ftdi:, "
          "d2xx:, tcp:HOST:PORT, rfc2217:HOST:PORT");
      return o;
    }
    // A network address is read strictly here, so that a mistyped one ends the start.
    const std::string scheme = o.link.substr(0, o.link.find(':'));
    link::backends::NetAddress address;
    std::string reason;
    if ((scheme == "tcp" || scheme == "rfc2217") &&
        !link::backends::parseNetAddress(std::string_view(o.link).substr(scheme.size() + 1),
                                         address, reason)) {
      o.error = QStringLiteral("--link %1: %2")
                    .arg(QString::fromStdString(o.link), QString::fromStdString(reason));
      return o;
    }
  }
  if (parser.isSet(trace)) {
    // Taken from where the program was started, before it moves into its data directory.
    const QString file = parser.value(trace);
    if (!file.isEmpty()) o.trace = QDir(currentDir).absoluteFilePath(file).toStdString();
    if (o.trace.empty()) {
      o.error = QStringLiteral("--trace needs a file");
      return o;
    }
  }
  o.userData = parser.isSet(userData);
  if (parser.isSet(dataDir)) {
    o.dataDir = parser.value(dataDir);
    if (o.dataDir.isEmpty()) {
      o.error = QStringLiteral("--data-dir needs a folder");
      return o;
    }
    if (o.userData) {
      o.error = QStringLiteral("--data-dir and --user-data choose the data directory twice");
      return o;
    }
  }
  if (parser.isSet(quitAfter)) {
    bool ok = false;
    o.quitAfterMs = parser.value(quitAfter).toInt(&ok);
    if (!ok || o.quitAfterMs <= 0) {
      o.error = QStringLiteral("--quit-after-ms needs a positive whole number");
      return o;
    }
  }
  return o;
}

QString UserDataDir() { return QString::fromStdString(files::UserDataDir().string()); }

QString SimulatorUserDataDir(const QString& userDataDir) {
  return QString::fromStdString(files::SimulatorUserDataDir(userDataDir.toStdString()).string());
}

DataDirChoice ChooseDataDir(const Options& options, const QString& currentDir,
                            const QString& userDataDir) {
  const files::DataDirChoice choice =
      files::ChooseDataDir(options.link, options.dataDir.toStdString(), options.userData,
                           currentDir.toStdString(), userDataDir.toStdString());
  return {QString::fromStdString(choice.path.string()), choice.seed, choice.seedSimulatedList};
}

bool SeedSimulatedMachineList(const std::filesystem::path& target, std::string& error) {
  return compose::SeedSimulatedMachineList(target, error);
}

bool SeedDataDir(const std::filesystem::path& shared, const std::filesystem::path& target,
                 std::string& error) {
  return files::SeedDataDir(shared, target, error);
}

QString SharedDataDir(const QString& programDir) {
  return QString::fromStdString(files::SharedDataDir(programDir.toStdString()).string());
}

}  // namespace qubix::app
