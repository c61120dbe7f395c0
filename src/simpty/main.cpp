// qubix24-sim: the simulated processors on a pseudo-terminal, so that the program and
// qubix24ctl can be run through the serial backend against a "device" with the processors on
// the other side. Prints the device path on the first line of standard output.
//
// With --tcp ADDR:PORT the same processors also listen on a TCP port (one client at a time, as
// on a device server's raw port); the second line of standard output is then "tcp:HOST:PORT"
// with the port actually bound. Answers go back the way the last bytes came in.
//
// Bytes travel at the wire's pace (115200 baud, ten bit times a byte): what the PC writes is
// heard by the bus one byte time after another, and answers are written to the terminal when
// their bytes would have arrived.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
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
#include <memory>
#include <string>
#include <string_view>

#include "link/backends/net/NetAddress.h"
#include "protocol/Hex.h"
#include "sim/SimBus.h"
#include "sim/Timing.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

constexpr std::string_view kUsage =
    "usage: qubix24-sim [--symlink PATH] [--tcp ADDR:PORT] [--record FILE] [--processors N]\n"
    "                   [--verbose]\n"
    "  Serves the demo processors on a pseudo-terminal and prints its path.\n"
    "  --symlink PATH  also make PATH a link to the terminal (removed at exit)\n"
    "  --tcp ADDR:PORT also serve them on a TCP port (port 0: any free one), and print\n"
    "                  tcp:HOST:PORT as the second line\n"
    "  --record FILE   append every byte the processors hear to FILE\n"
    "  --processors N  N plain processors H000000010001 ... instead of the demo ones (1 ... 32)\n"
    "  --verbose       log every burst on standard error\n"
    "  -h, --help      show this help and exit\n"
    "  Without hardware, connect with --link tcp:HOST:PORT (see --tcp); a serial link on the\n"
    "  pseudo-terminal needs the test interposer of the build tree.\n";

struct Options {
  std::string symlinkPath;
  std::string tcpAddress;
  std::string recordPath;
  int processors = 0;  // 0: the demo bus
  bool verbose = false;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--symlink" && i + 1 < argc) {
      options.symlinkPath = argv[++i];
    } else if (arg == "--tcp" && i + 1 < argc) {
      options.tcpAddress = argv[++i];
    } else if (arg == "--record" && i + 1 < argc) {
      options.recordPath = argv[++i];
    } else if (arg == "--processors" && i + 1 < argc) {
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || n < 1 || n > 32) return false;
      options.processors = static_cast<int>(n);
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

// A listening socket on the address; the bound address (with the real port) in `bound`.
int listenOn(const std::string& text, std::string& bound, std::string& error) {
  qubix::link::backends::NetAddress address;
  if (!qubix::link::backends::parseNetAddress(text, address, error, true)) return -1;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int rc = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found)) {
    error = ::gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // "[::]" serves IPv4 clients too, whatever the system's default for IPv6 sockets.
    if (a->ai_family == AF_INET6) {
      const int off = 0;
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 1) != 0) {
      error = std::strerror(errno);
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) return -1;
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
  const int port = local.ss_family == AF_INET6
                       ? ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port)
                       : ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
  address.port = std::to_string(port);
  bound = "tcp:" + address.text();
  return fd;
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
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      std::fputs(kUsage.data(), stdout);
      return 0;
    }
  }
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
  int listener = -1;
  std::string tcpText;
  if (!options.tcpAddress.empty()) {
    std::string error;
    listener = listenOn(options.tcpAddress, tcpText, error);
    if (listener < 0) {
      std::fprintf(stderr, "qubix24-sim: cannot listen on %s: %s\n", options.tcpAddress.c_str(),
                   error.c_str());
      return 1;
    }
  }
  FILE* record = nullptr;
  if (!options.recordPath.empty() && !(record = std::fopen(options.recordPath.c_str(), "ab"))) {
    std::fprintf(stderr, "qubix24-sim: cannot write %s: %s\n", options.recordPath.c_str(),
                 std::strerror(errno));
    return 1;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);

  std::shared_ptr<qubix::sim::SimBus> bus;
  if (options.processors == 0) {
    bus = qubix::sim::makeDemoBus();
  } else {
    bus = std::make_shared<qubix::sim::SimBus>();
    for (int n = 1; n <= options.processors; ++n)
      bus->addProcessor({0, 0, 0, 1, 0, static_cast<std::uint8_t>(n)});
  }
  bus->transcriptLimit = qubix::sim::kProgramTranscriptLimit;  // nobody reads it here
  qubix::sim::SimClock clock(qubix::sim::ClockMode::Real);
  const double byteMs = bus->wire().byteMs();
  std::printf("%s\n", path.c_str());
  if (listener >= 0) std::printf("%s\n", tcpText.c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "qubix24-sim: %zu processors on %s\n", bus->processors().size(),
               path.c_str());

  double wireFreeAt = 0.0;  // when the PC's last byte has gone through
  std::string unsent;       // answer bytes the PC's side would not take yet
  int client = -1;          // the TCP client, if one is connected
  int replyTo = master;     // where the last bytes came from
  while (!stopRequested) {
    const double now = clock.nowMs();
    unsent += bus->take(std::numeric_limits<std::size_t>::max(), now);
    if (!unsent.empty()) {
      const ssize_t n = ::send(replyTo, unsent.data(), unsent.size(), MSG_NOSIGNAL);
      const ssize_t m =
          n >= 0 || errno != ENOTSOCK ? n : ::write(replyTo, unsent.data(), unsent.size());
      if (m > 0) {
        if (options.verbose)
          std::fprintf(stderr, "<- %s\n",
                       printable(unsent.substr(0, static_cast<std::size_t>(m))).c_str());
        unsent.erase(0, static_cast<std::size_t>(m));
      } else if (m < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        unsent.clear();  // the client has gone: its answers go with it
      }
    }
    int waitMs = 100;
    if (!unsent.empty())
      waitMs = 1;
    else if (!bus->pending().empty())
      waitMs = std::clamp(static_cast<int>(std::ceil(bus->pending().front().atMs - now)), 0, 100);
    pollfd pfds[3] = {{master, POLLIN, 0}, {listener, POLLIN, 0}, {client, POLLIN, 0}};
    const int ready = ::poll(pfds, 3, waitMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (pfds[1].revents & POLLIN) {
      // A new client takes over the port, as on a device server that drops the old user.
      const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (accepted >= 0) {
        if (client >= 0) {
          ::close(client);
          // What poll said of the old client is stale now: its descriptor is gone, and reading
          // it would fail and close the new client in its place.
          pfds[2].revents = 0;
        }
        client = accepted;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (options.verbose) std::fprintf(stderr, "qubix24-sim: TCP client connected\n");
      }
    }
    for (int k : {0, 2}) {
      if (pfds[k].fd < 0 || !(pfds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      unsigned char buffer[512];
      const ssize_t got = ::read(pfds[k].fd, buffer, sizeof buffer);
      if (got <= 0) {
        if (k == 2 && (got == 0 || (errno != EAGAIN && errno != EINTR))) {
          ::close(client);
          if (replyTo == client) replyTo = master;
          client = -1;
        }
        continue;
      }
      replyTo = pfds[k].fd;
      double at = std::max(clock.nowMs(), wireFreeAt);
      for (ssize_t i = 0; i < got; ++i) {
        at += byteMs;
        bus->hearByte(buffer[i], at);
      }
      wireFreeAt = at;
      if (record) {
        std::fwrite(buffer, 1, static_cast<std::size_t>(got), record);
        std::fflush(record);
      }
      if (options.verbose)
        std::fprintf(
            stderr, "-> %s\n",
            printable(std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(got)))
                .c_str());
    }
  }
  if (client >= 0) ::close(client);
  if (listener >= 0) ::close(listener);
  if (record) std::fclose(record);
  if (!options.symlinkPath.empty()) ::unlink(options.symlinkPath.c_str());
  ::close(slave);
  ::close(master);
  return 0;
}
