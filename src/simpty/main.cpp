// qubix24-sim: the simulated processors on a pseudo-terminal, so that the program and
// qubix24ctl can be run through the serial backend against a "device" with the processors on
// the other side. Prints the device path on the first line of standard output.
//
// Bytes travel at the wire's pace (115200 baud, ten bit times a byte): what the PC writes is
// heard by the bus one byte time after another, and answers are written to the terminal when
// their bytes would have arrived.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "protocol/Hex.h"
#include "sim/SimBus.h"
#include "sim/Timing.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

constexpr std::string_view kUsage =
    "usage: qubix24-sim [--symlink PATH] [--verbose]\n"
    "  Serves the demo processors on a pseudo-terminal and prints its path.\n"
    "  --symlink PATH  also make PATH a link to the terminal (removed at exit)\n"
    "  --verbose       log every burst on standard error\n";

struct Options {
  std::string symlinkPath;
  bool verbose = false;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--symlink" && i + 1 < argc) {
      options.symlinkPath = argv[++i];
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      return false;
    }
  }
  return true;
}

// Opens a pseudo-terminal pair in raw mode; the slave stays open here too so that the master
// keeps working while no client has the device open (between reconnects).
bool openTerminal(int& master, int& slave, std::string& path) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  const char* name = ::ptsname(master);
  if (!name) return false;
  path = name;
  slave = ::open(name, O_RDWR | O_NOCTTY);
  if (slave < 0) return false;
  termios t{};
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  return true;
}

std::string printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fputs(kUsage.data(), stderr);
    return 2;
  }
  int master = -1, slave = -1;
  std::string path;
  if (!openTerminal(master, slave, path)) {
    std::fprintf(stderr, "qubix24-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  if (!options.symlinkPath.empty()) {
    ::unlink(options.symlinkPath.c_str());
    if (::symlink(path.c_str(), options.symlinkPath.c_str()) != 0) {
      std::fprintf(stderr, "qubix24-sim: cannot link %s: %s\n", options.symlinkPath.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);

  auto bus = qubix::sim::makeDemoBus();
  qubix::sim::SimClock clock(qubix::sim::ClockMode::Real);
  const double byteMs = bus->wire().byteMs();
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "qubix24-sim: %zu processors on %s\n", bus->processors().size(),
               path.c_str());

  double wireFreeAt = 0.0;  // when the PC's last byte has gone through
  std::string unsent;       // answer bytes the terminal would not take yet
  while (!stopRequested) {
    if (bus->transcript.size() > 4096) bus->clearTranscript();  // nobody reads it here
    const double now = clock.nowMs();
    unsent += bus->take(std::numeric_limits<std::size_t>::max(), now);
    if (!unsent.empty()) {
      const ssize_t n = ::write(master, unsent.data(), unsent.size());
      if (n > 0) {
        if (options.verbose)
          std::fprintf(stderr, "<- %s\n", printable(unsent.substr(0, static_cast<std::size_t>(n))).c_str());
        unsent.erase(0, static_cast<std::size_t>(n));
      }
    }
    int waitMs = 100;
    if (!unsent.empty()) waitMs = 1;
    else if (!bus->pending().empty())
      waitMs = std::clamp(static_cast<int>(std::ceil(bus->pending().front().atMs - now)), 0, 100);
    pollfd pfd{master, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (pfd.revents & POLLIN)) {
      unsigned char buffer[512];
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got > 0) {
        double at = std::max(clock.nowMs(), wireFreeAt);
        for (ssize_t i = 0; i < got; ++i) {
          at += byteMs;
          bus->hearByte(buffer[i], at);
        }
        wireFreeAt = at;
        if (options.verbose)
          std::fprintf(stderr, "-> %s\n",
                       printable(std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(got))).c_str());
      }
    }
  }
  if (!options.symlinkPath.empty()) ::unlink(options.symlinkPath.c_str());
  ::close(slave);
  ::close(master);
  return 0;
}
