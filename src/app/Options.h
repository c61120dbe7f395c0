// The command line of qubix24 (which adapter, which data directory) and the data directory it
// leads to, by the rules of files/DataDir that qubix24ctl follows too. Parsed with QtCore only,
// before any window-system connection, so that --help and --version work without a display.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>

namespace qubix::app {

struct Options {
  // The adapter: "" (the default adapter), "sim:", "serial:DEVICE", "ftdi:[DESCRIPTION]" or
  // "d2xx:".
  std::string link;
  std::string trace;      // --trace FILE: every byte on the bus as JSON lines; empty when not given
  QString dataDir;        // --data-dir DIR; empty when not given
  bool userData = false;  // --user-data: the per-user data directory, as the menu entry starts it
  int quitAfterMs = 0;    // --quit-after-ms: end the event loop after that long (checks only)
  bool help = false;
  bool version = false;
  QString error;     // not empty: the command line was not understood
  QString helpText;  // the --help text, with the data directory these options lead to
};

// args[0] is the program name. currentDir and userDataDir are the data directories without
// --data-dir (started from a terminal) and with --user-data, shown in the help text.
Options ParseOptions(const QStringList& args, const QString& currentDir,
                     const QString& userDataDir);

// $XDG_DATA_HOME/qubix24, by default ~/.local/share/qubix24.
QString UserDataDir();
// The per-user data directory on the simulated bus, beside the real one: userDataDir + "-sim",
// so that trying the program never touches the real machine list.
QString SimulatorUserDataDir(const QString& userDataDir);

// The data directory the options choose, and whether it is made and seeded from the shared
// data first (it is for --data-dir and --user-data, not for the current directory). On the
// simulated bus a seeded folder also starts with the simulated processors in its machine list.
struct DataDirChoice {
  QString path;
  bool seed = false;
  bool seedSimulatedList = false;
};
DataDirChoice ChooseDataDir(const Options& options, const QString& currentDir,
                            const QString& userDataDir);

// Makes target if needed and copies into it every file and folder of shared that it lacks;
// nothing in target is ever overwritten. False with the reason in error when target cannot be
// made or a copy fails.
bool SeedDataDir(const std::filesystem::path& shared, const std::filesystem::path& target,
                 std::string& error);

// Writes target's maclist.dat listing the simulated bus's processors, as a scan of the whole
// bus would, when target has no machine list yet; an existing list is kept as it is. False with
// the reason in error when the file cannot be written.
bool SeedSimulatedMachineList(const std::filesystem::path& target, std::string& error);

// The installed shared data (share/qubix24 beside the program's bin/), or, for a program run
// from its build folder, the source tree's data/. Empty when neither exists.
QString SharedDataDir(const QString& programDir);

}  // namespace qubix::app
