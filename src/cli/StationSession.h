// The global options --link URI and --data-dir DIR, and a Station opened from them with a
// console frontend: what every command that talks to the bus or the data directory shares.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "compose/LinkFactory.h"
#include "files/DataDir.h"
#include "files/DataDirLock.h"
#include "link/Frontend.h"
#include "network/Station.h"

namespace qubix::cli {

// Message boxes go to stderr as "qubix24ctl: <text>" (a "File Error" box with the file and the
// reason the code gave); questions are answered "cancel". Every failure the link, the bus or a
// file operation reports on the status line is kept, worded by where it happened: the adapter
// (a driver call failed), a processor (no answer, or part of one) or a file.
class ConsoleFrontend : public link::UnattendedFrontend {
 public:
  explicit ConsoleFrontend(std::FILE* err) : err_(err) {}
  // The link whose last frame and reply name the exchange that failed.
  void watch(const link::Link* link) { link_ = link; }

  void setStatusText(std::string_view text) override;
  void setStatusColour(link::Rgb colour) override;
  void setStatusDetail(std::string_view detail) override;
  link::Answer messageBox(std::string_view text, std::string_view caption,
                          link::Buttons buttons) override;

  // The failures the status line reported so far, one sentence each, oldest first (the boxes
  // were printed as they came and are counted in failureBoxes); forget() starts afresh.
  std::vector<std::string> faults() const;
  void forget();

  std::string status;
  link::Rgb statusColour = link::kLime;
  std::string statusDetail;
  int boxes = 0;
  int failureBoxes = 0;

 private:
  // One red spell of the status line: what was on the wire when it turned red and what the
  // status line said until it turned lime again.
  struct Fault {
    std::string frame;
    std::uint32_t got = 0, wanted = 0;
    std::string text, detail;
    bool textSet = false;
  };
  std::FILE* err_;
  const link::Link* link_ = nullptr;
  std::vector<Fault> faults_;
  bool open_ = false;         // the last fault is still being described
  std::string unusedDetail_;  // a reason set for the next box
};

// The data directory by the window's rules (files/DataDir): --data-dir as an absolute path,
// --user-data the per-user folder (its "-sim" sibling on the simulated bus), or the current
// directory; named on stderr with --verbose. Both options together, or an empty --data-dir,
// throw UsageError.
std::filesystem::path DataDir(const Invocation& inv);
files::DataDirChoice ChooseDataDir(const Invocation& inv);

// "no machine list (maclist.dat) in DIR; scan makes one", and where --user-data would look.
void SayWhereTheListWasLookedFor(const Invocation& inv, const std::filesystem::path& dir);

struct StationSession {
  explicit StationSession(std::FILE* err) : frontend(err) {}
  ConsoleFrontend frontend;
  std::optional<files::DataDirLock> lock;
  std::unique_ptr<network::Station> station;
  // The clock of the station's adapter (the simulator's on a simulated bus).
  std::function<double()> clockMs;
};

// How long a command waits for another process to let go of the data directory.
inline constexpr std::chrono::milliseconds kDataDirLockWait{3000};

// The station on the adapter --link names (the adapter that lists no device without it), with
// the hardware preset names loaded and the data directory locked for this process before the
// trace is made. A command that may write there (settings files, the machine list) makes a
// missing data directory; DirUse::Read leaves the directory as it found it. A link text no
// backend knows throws UsageError; a data directory another process holds throws
// std::runtime_error naming that process.
std::unique_ptr<StationSession> OpenStation(const Invocation& inv,
                                            files::DirUse use = files::DirUse::Write);

// For tests: the adapter every station gets instead of the one --link names (a simulated bus
// with faults); an empty function goes back to --link.
void SetAdapterForTesting(std::function<compose::AdapterWithClock()> make);

// Prints "qubix24ctl: <subject>: <fault>" for the faults the frontend kept; false when there
// were none and no failure box.
bool ReportFaults(const Invocation& inv, const ConsoleFrontend& frontend,
                  const std::string& subject);

// Connects; false (with the reason on stderr) when the adapter cannot be opened.
bool ConnectStation(const Invocation& inv, StationSession& session);

}  // namespace qubix::cli
