// The network backends end to end: against qubix24-sim's own TCP port, and through ser2net
// serving qubix24-sim's pseudo-terminal with one raw and one RFC 2217 accepter. ser2net opens the
// pseudo-terminal like a serial port, so this program re-runs itself with the pseudo-terminal
// interposer preloaded, which ser2net inherits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "compose/LinkFactory.h"
#include "filters/EqBands.h"
#include "filters/ParametricBand.h"
#include "link/Link.h"
#include "link/backends/net/NetAdapter.h"
#include "network/Station.h"
#include "protocol/Bus.h"
#include "protocol/Commands.h"
#include "protocol/Hex.h"
#include "support/ChildProcess.h"
#include "support/PtyShimMain.h"
#include "support/RecordingFrontend.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A connection to the loopback port, or -1.
int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  ::close(fd);
  return -1;
}

// Waits (bounded) until something accepts connections on the loopback port.
bool waitForListener(int port) {
  for (int i = 0; i < 200; ++i) {
    const int fd = connectTo(port);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    ::usleep(10000);
  }
  return false;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// qubix24-sim on a pseudo-terminal and a loopback TCP port, recording what the processors hear.
struct Sim {
  explicit Sim(const fs::path& record)
      : child({QUBIX24_SIM, "--tcp", "127.0.0.1:0", "--record", record.string()}, 2) {}
  std::string pty() const { return child.line(0); }
  std::string tcp() const { return child.line(1); }  // "tcp:127.0.0.1:PORT"
  Child child;
};

std::unique_ptr<link::Link> connect(const std::string& uri, test::RecordingFrontend& frontend) {
  std::string error;
  auto adapter = compose::makeAdapter(uri, error);
  EXPECT_NE(adapter, nullptr) << error;
  if (!adapter) return nullptr;
  auto link = std::make_unique<link::Link>(std::move(adapter), frontend);
  link->Connect();
  return link;
}

// --- qubix24-sim's own port: host names and IPv6 literals, time-outs and failures ----------

// A deadline for answers from the simulator process that a loaded machine still meets.
constexpr std::uint32_t kLoadedMachineTimeoutMs = 5000;

TEST(NetSim, QueriesAProcessorThroughEachAddressForm) {
  TempDir dir;
  Child sim({QUBIX24_SIM, "--tcp", "[::]:0"}, 2);
  const std::string port = sim.line(1).substr(sim.line(1).rfind(':') + 1);
  ASSERT_FALSE(port.empty()) << sim.line(1);
  for (const std::string host : {"127.0.0.1", "localhost", "[::1]"}) {
    SCOPED_TRACE(host);
    test::RecordingFrontend frontend;
    // The connection's own answer ends the wait for it: a listener on this machine answers at
    // once, far inside the time-out that bounds a silent host.
    const auto started = std::chrono::steady_clock::now();
    auto link = connect("tcp:" + host + ":" + port, frontend);
    const auto connectMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    ASSERT_TRUE(link && link->state().Connected) << frontend.statusDetail;
    EXPECT_LT(connectMs, link::backends::kNetConnectTimeoutMs / 2.0);
    auto& net = static_cast<link::backends::NetAdapter&>(link->adapter());
    EXPECT_TRUE(net.noDelay());
    // The simulator runs on the real clock in its own process: on a loaded machine it may not
    // be scheduled within the standard 200 ms, and a late answer would then be taken for the
    // next one. Every exchange here is answered, so a longer deadline costs nothing; what is
    // checked is the address form, not the time-out (ReadKeepsItsTimeOut does that).
    link->SetReadTimeout(kLoadedMachineTimeoutMs);
    protocol::Bus bus(*link, frontend);
    ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 2})));
    ASSERT_TRUE(bus.ReadParameter(18));
    EXPECT_EQ(bus.ParameterValue, 3);
    bus.ReleaseMachine();
    link->CloseAdapter();
  }
}

// A client that connects while the previous one is leaving gets the bus: the simulator sees the
// old one's hang-up and the new connection at once (held up here so that it does).
TEST(NetSim, ANewClientTakesOverFromOneThatJustLeft) {
  TempDir dir;
  Sim sim(dir.path() / "heard");
  const int port = std::stoi(sim.tcp().substr(sim.tcp().rfind(':') + 1));
  const std::string select = protocol::SelectFrame({0, 0, 0, 1, 0, 2});
  // The processor's "O" to the select frame, or what came instead ("" when the line closed).
  const auto selectThrough = [&](int fd) {
    if (::write(fd, select.data(), select.size()) != static_cast<ssize_t>(select.size()))
      return std::string("write failed");
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return std::string("no answer");
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? std::string(1, c) : std::string();
  };
  const int first = connectTo(port);
  ASSERT_GE(first, 0);
  ASSERT_EQ(selectThrough(first), "O");
  ASSERT_EQ(::write(first, "R", 1), 1);
  ::kill(sim.child.pid(), SIGSTOP);
  ::close(first);
  const int second = connectTo(port);
  ::kill(sim.child.pid(), SIGCONT);
  ASSERT_GE(second, 0);
  EXPECT_EQ(selectThrough(second), "O");
  ::close(second);
}

// A read returns what arrived by its deadline: nothing after the time set, not at once and not
// much later; and a reply cut into pieces on the way is read whole.
TEST(NetSim, ReadKeepsItsTimeOut) {
  TempDir dir;
  Sim sim(dir.path() / "heard");
  test::RecordingFrontend frontend;
  auto link = connect(sim.tcp(), frontend);
  ASSERT_TRUE(link && link->state().Connected) << frontend.statusDetail;
  link->SetReadTimeout(80);
  link->state().ReplyLength = 5;
  const auto start = Clock::now();
  EXPECT_FALSE(link->ReadReply());
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_EQ(link->state().bytesRead, 0u);
  EXPECT_GE(ms, 75);
  EXPECT_LT(ms, 1000);
  link->SetReadTimeout(link::kStandardTimeoutMs);
  protocol::Bus bus(*link, frontend);
  ASSERT_TRUE(bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 1})));
  ASSERT_TRUE(link->WriteText("I12ee"));
  link->state().ReplyLength = 7;
  ASSERT_TRUE(link->ReadReply());
  EXPECT_EQ(link->ReplyText().back(), 'O');
  bus.ReleaseMachine();
}

// Failures read like those of an adapter: the status text, and the reason in the detail.
TEST(NetSim, ConnectFailuresGiveTheStatusAndTheReason) {
  struct Case {
    std::string uri;
    std::string text;
    std::string reason;
  };
  const int closedPort = FreeLoopbackPort();
  const std::string at = "connecting to 127.0.0.1:" + std::to_string(closedPort) + ": ";
  for (const Case& c :
       {Case{"tcp:127.0.0.1:" + std::to_string(closedPort), "NoOpenDvc", at + "connection refused"},
        Case{"rfc2217:127.0.0.1:" + std::to_string(closedPort), "NoOpenDvc",
             at + "connection refused"}}) {
    SCOPED_TRACE(c.uri);
    test::RecordingFrontend frontend;
    auto link = connect(c.uri, frontend);
    ASSERT_TRUE(link);
    EXPECT_FALSE(link->state().Connected);
    EXPECT_EQ(frontend.statusText, c.text);
    EXPECT_NE(frontend.statusDetail.find(c.reason), std::string::npos) << frontend.statusDetail;
  }
}

// A server that keeps sending without being asked: what is kept ahead of the reader stays
// within its cap, the rest is dropped and counted, and every look for a closed connection ends
// although the sending does not.
TEST(NetSim, WhatAServerSendsAheadIsCappedAndCounted) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t n = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), n) | ::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n);
  test::RecordingFrontend frontend;
  auto link = connect("tcp:127.0.0.1:" + std::to_string(ntohs(a.sin_port)), frontend);
  const int server = ::accept(listener, nullptr, nullptr);  // the connection is queued by now
  ASSERT_TRUE(link && link->state().Connected && server >= 0) << frontend.statusDetail;
  auto& net = static_cast<link::backends::NetAdapter&>(link->adapter());
  const std::string chunk(64 * 1024, 'O');
  for (int i = 0; i < 4096 && net.droppedEarlyBytes() == 0; ++i) {
    ::send(server, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ASSERT_TRUE(link->QueryDeviceInfo()) << net.lastError();
  }
  EXPECT_NE(net.lastError().find(std::to_string(net.droppedEarlyBytes()) +
                                 " bytes the server sent ahead of the reader were dropped"),
            std::string::npos)
      << net.lastError();
  ::close(server);
  ::close(listener);
}

// In a network of its own with nothing but the loopback interface (and so no name server), a
// numeric address is used as it is and a name in the hosts file is found; a name that cannot be
// looked up, and a server that is not there, each say what failed.
TEST(NetSim, WithoutANameServerNumericAddressesStillConnect) {
  if (RunCommand("unshare -rn true").exitStatus != 0)
    GTEST_SKIP() << "no network namespace can be made here (unshare -rn)";
  TempDir dir;
  std::ofstream(dir.path() / "run.sh") << R"sh(ip link set lo up || exit 3
"$1" --tcp '[::]:0' > sim.out &
for i in $(seq 200); do [ "$(wc -l < sim.out)" -ge 2 ] && break; sleep 0.05; done
port=$(sed -n 2p sim.out | sed 's/.*://')
for host in 127.0.0.1 '[::1]' localhost; do
  "$2" scan --max 3 --data-dir . --link "tcp:$host:$port" >/dev/null 2>&1; echo "$host $?"
done
"$2" scan --data-dir . --link tcp:no-such-host.invalid:$port
"$2" scan --data-dir . --link tcp:127.0.0.1:1
kill $!)sh";
  const CommandRun run =
      RunCommand("cd '" + dir.path().string() +
                 "' && unshare -rn sh run.sh '" QUBIX24_SIM "' '" QUBIX24CTL "'");
  for (const std::string expected :
       {"127.0.0.1 0", "[::1] 0", "localhost 0", "resolving the name no-such-host.invalid: ",
        "connecting to 127.0.0.1:1: connection refused"})
    EXPECT_NE(run.output.find(expected), std::string::npos) << expected << "\n" << run.output;
  EXPECT_EQ(run.output.find("name server"), std::string::npos) << run.output;
}

// --- through ser2net -----------------------------------------------------------------------

class Ser2net : public ::testing::Test {
 public:
  std::string pty() const { return sim_->pty(); }
  const fs::path& dir() const { return dir_.path(); }

 protected:
  void SetUp() override {
    if (std::system("command -v ser2net >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "ser2net is not installed (tools/deps.sh installs it): the tests through "
                      "a real device server cannot run";
    sim_ = std::make_unique<Sim>(dir_.path() / "heard");
    ASSERT_EQ(sim_->pty().rfind("/dev/pts/", 0), 0u) << sim_->pty();
    rawPort_ = FreeLoopbackPort();
    telnetPort_ = FreeLoopbackPort();
    std::ofstream config(dir_.path() / "ser2net.yaml");
    for (const auto& [accepter, port] :
         {std::pair{std::string("tcp(nodelay)"), rawPort_},
          std::pair{std::string("telnet(rfc2217),tcp(nodelay)"), telnetPort_}})
      // As the README's rack configuration: one client at a time, a second one turned away,
      // each reply leaving the server as soon as it came.
      config << "connection: &c" << port << "\n  accepter: " << accepter << ",127.0.0.1," << port
             << "\n  connector: serialdev," << sim_->pty() << ",115200n81,local\n"
             << "  options:\n    max-connections: 1\n    kickolduser: false\n"
             << "    chardelay: false\n";
    config.close();
    startServer();
  }
  void startServer() {
    server_ = Child({"ser2net", "-n", "-u", "-c", (dir_.path() / "ser2net.yaml").string(), "-P",
                     (dir_.path() / "ser2net.pid").string()},
                    0);
    ASSERT_TRUE(waitForListener(rawPort_) && waitForListener(telnetPort_));
  }

 public:
  std::string uri(const std::string& scheme) const {
    return scheme + ":127.0.0.1:" + std::to_string(scheme == "tcp" ? rawPort_ : telnetPort_);
  }
  // Runs qubix24ctl on a data directory (the test's own by default); its exit status, with
  // standard error in `err`.
  int ctl(const std::string& arguments, std::string& err, const fs::path& data = {}) {
    const std::string command = std::string("'") + QUBIX24CTL + "' " + arguments + " --data-dir '" +
                                (data.empty() ? dir_.path() : data).string() + "' 2>&1 >/dev/null";
    err.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) err += buffer;
    const int status = pipe ? ::pclose(pipe) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The same, tried again (bounded) while the server refuses the connection: ser2net lets go of
  // the serial device a moment after the previous client has gone, here possibly one of the other
  // accepter on the same device. A refused connection puts nothing on the bus.
  int ctlWhenServed(const std::string& arguments, std::string& err, const fs::path& data) {
    int rc = ctl(arguments, err, data);
    for (int i = 0; i < 50 && rc != 0 && err.find("cannot open the adapter") != std::string::npos;
         ++i) {
      ::usleep(100000);
      rc = ctl(arguments, err, data);
    }
    return rc;
  }
  // What the processors heard since the last call, through the link just used: a select frame
  // for a machine that is not on the bus goes the same way behind the operation's bytes, and
  // everything heard before it belongs to the operation. No processor answers that frame, so
  // the bus is as the operation left it. False when the frame does not arrive in good time.
  bool heardUpToMarker(const std::string& link, std::string& bytes) {
    const std::string marker = protocol::SelectFrame({0, 0, 0, 9, 0, 9});
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    int fd = -1;
    if (link.rfind("serial:", 0) == 0) {
      fd = ::open(sim_->pty().c_str(), O_WRONLY | O_NOCTTY);
    } else {
      // ser2net takes the next client once it has let go of the previous one.
      const int port = std::stoi(link.substr(link.rfind(':') + 1));
      while (fd < 0 && Clock::now() < deadline) {
        fd = connectTo(port);
        if (fd < 0) ::usleep(20000);
      }
    }
    bool sent =
        fd >= 0 && ::write(fd, marker.data(), marker.size()) == static_cast<ssize_t>(marker.size());
    std::size_t at = std::string::npos;
    while (sent && Clock::now() < deadline) {
      const std::string all = heard();
      if ((at = all.find(marker, consumed_)) != std::string::npos) {
        bytes = all.substr(consumed_, at - consumed_);
        consumed_ = at + marker.size();
        // A frame sent again after a refusal (below) may have got through twice.
        while (all.compare(consumed_, marker.size(), marker) == 0) consumed_ += marker.size();
        break;
      }
      // ser2net closes a client it cannot serve yet (its device still held by the previous
      // one), without passing on what it sent: send the frame again on a new connection.
      pollfd p{fd, POLLIN, 0};
      if (link.rfind("serial:", 0) != 0 && ::poll(&p, 1, 10) > 0) {
        char drop[256];  // the server's own negotiation, of no interest here
        if (::read(fd, drop, sizeof drop) <= 0) {
          ::close(fd);
          fd = -1;
          while (fd < 0 && Clock::now() < deadline) {
            fd = connectTo(std::stoi(link.substr(link.rfind(':') + 1)));
            if (fd < 0) ::usleep(20000);
          }
          sent = fd >= 0 &&
                 ::write(fd, marker.data(), marker.size()) == static_cast<ssize_t>(marker.size());
        }
        continue;
      }
      ::usleep(10000);
    }
    if (fd >= 0) ::close(fd);
    return at != std::string::npos;
  }
  std::string heard() { return readFile(dir_.path() / "heard"); }

 protected:
  TempDir dir_;
  std::size_t consumed_ = 0;  // how much of the record heardUpToMarker() has handed out
  std::unique_ptr<Sim> sim_;
  Child server_;
  int rawPort_ = 0;
  int telnetPort_ = 0;
};

// Band 1 of the first processor, as one step of its strip sends it: the band and its mirror.
constexpr const char* kBandWrite = "band write";
filters::BiquadCoefficients Band1() {
  filters::ParametricBand band;
  EXPECT_EQ(band.FBCalc(40.0f, -4.5f, 1.4f, 48000), filters::kFilterOk);
  return band.Coefficients();
}
// Sends that band through the link (tried again while ser2net still refuses it); true when the
// processor acknowledged both frames.
bool WriteBand(const std::string& uri) {
  test::RecordingFrontend frontend;
  for (int tries = 0; tries < 50; ++tries) {
    std::string error;
    link::Link link(compose::makeAdapter(uri, error), frontend);
    link.Connect();
    if (!link.state().Connected) {
      ::usleep(100000);
      continue;
    }
    protocol::Bus bus(link, frontend);
    if (!bus.SelectMachine(protocol::SelectFrame({0, 0, 0, 1, 0, 1}))) return false;
    protocol::Commands commands(bus);
    const filters::BiquadCoefficients c = Band1();
    commands.liveBand().set(filters::BandAddress(1), c.b0, c.b1, c.b2, c.a1, c.a2);
    commands.liveBand().mirror = true;
    const bool sent = commands.SendBandCoefficients();
    bus.ReleaseMachine();
    // As the program's own operations end: the line drained before the connection closes. A
    // device server may drop what it has not yet passed to its port when the client goes.
    link.DrainInput();
    link.CloseAdapter();
    return sent;
  }
  return false;
}

// Runs the session through the local pseudo-terminal and then through each accepter, each link
// on an empty data directory of its own (so that its first scan finds the same bus as the local
// one did); each operation through an accepter must put on the bus exactly the bytes it put
// there locally. What each operation put there locally is returned.
std::vector<std::string> Ser2netSessions(Ser2net& t, const std::vector<std::string>& session) {
  std::vector<std::string> local;
  for (const std::string& link : {"serial:" + t.pty(), t.uri("tcp"), t.uri("rfc2217")}) {
    SCOPED_TRACE(link);
    const fs::path own = t.dir() / ("data-" + link.substr(0, link.find(':')));
    fs::create_directories(own);
    for (std::size_t i = 0; i < session.size(); ++i) {
      std::string err;
      if (session[i] == kBandWrite)
        EXPECT_TRUE(WriteBand(link));
      else
        EXPECT_EQ(t.ctlWhenServed(session[i] + " --link " + link, err, own), 0)
            << session[i] << ": " << err;
      std::string bytes;
      if (!t.heardUpToMarker(link, bytes)) {
        ADD_FAILURE() << session[i] << ": the marker never arrived";
        return local;
      }
      if (link.rfind("serial:", 0) == 0)
        local.push_back(bytes);
      else
        EXPECT_EQ(bytes, local[i]) << session[i];
    }
  }
  return local;
}

// One session per accepter, of short exchanges: a scan, a status and a band write. A hardware
// preset change and an Extra preset upload take the server's turnaround for every byte and wait
// on the processor for seconds; their bytes are compared on the virtual clock, where they cost
// nothing, by the preset and upload tests.
TEST_F(Ser2net, EachAccepterPutsTheLocalBytesOnTheBus) {
  const auto local = Ser2netSessions(*this, {"scan --max 3", "status", kBandWrite});
  ASSERT_EQ(local.size(), 3u);
  EXPECT_NE(local[2].find(protocol::frames::BandCoefficients(filters::BandAddress(1),
                                                             filters::SendingOrder(Band1()))),
            std::string::npos);
}

// An adapter that ends ser2net just before the refresh sends its select frame to the second
// machine.
class StopServerBeforeSecondSelect : public link::Adapter {
  using Status = link::Status;

 public:
  StopServerBeforeSecondSelect(std::unique_ptr<link::Adapter> inner, Child& server)
      : inner_(std::move(inner)), server_(server) {}
  bool armed = false;
  Status write(link::Handle h, const std::uint8_t* b, std::uint32_t n, std::uint32_t& w) override {
    if (armed && n > 1 && b[0] == 'H' && ++selects_ == 2) {
      server_.stop();
      armed = false;
    }
    return inner_->write(h, b, n, w);
  }
  Status listDevices(std::span<link::Description> s, std::uint32_t& c) override {
    return inner_->listDevices(s, c);
  }
  Status open(int i, link::Handle& h) override { return inner_->open(i, h); }
  Status close(link::Handle h) override { return inner_->close(h); }
  Status read(link::Handle h, std::uint8_t* b, std::uint32_t n, std::uint32_t& r) override {
    return inner_->read(h, b, n, r);
  }
  Status resetDevice(link::Handle h) override { return inner_->resetDevice(h); }
  Status setBaudRate(link::Handle h, std::uint32_t b) override { return inner_->setBaudRate(h, b); }
  Status setDataCharacteristics(link::Handle h, std::uint8_t w, std::uint8_t s,
                                std::uint8_t p) override {
    return inner_->setDataCharacteristics(h, w, s, p);
  }
  Status setFlowControl(link::Handle h, std::uint16_t f, std::uint8_t a, std::uint8_t b) override {
    return inner_->setFlowControl(h, f, a, b);
  }
  Status setTimeouts(link::Handle h, std::uint32_t r, std::uint32_t w) override {
    return inner_->setTimeouts(h, r, w);
  }
  Status getDeviceInfo(link::Handle h, link::DeviceInfo& i) override {
    return inner_->getDeviceInfo(h, i);
  }
  Status queueStatus(link::Handle h, std::uint32_t& n) override {
    return inner_->queueStatus(h, n);
  }
  std::string lastError() const override { return inner_->lastError(); }
  std::string backendName() const override { return inner_->backendName(); }

 private:
  std::unique_ptr<link::Adapter> inner_;
  Child& server_;
  int selects_ = 0;
};

// The connection timer's ticks: ser2net lets go of the serial device a moment after the previous
// client has gone, and refuses the next one until then.
void connectWithRetries(network::Station& station) {
  for (int tick = 0; tick < 20 && !station.link.state().Connected; ++tick) {
    if (tick) ::usleep(100000);
    station.Connect();
  }
}

// One program per bus over the network too: with one connection allowed, a second client is
// turned away with the reason, and the first keeps the bus.
TEST_F(Ser2net, ASecondClientIsTurnedAwaySayingWhy) {
  // One accepter: the two share the device, and the other's client may hold it for a moment.
  const std::string scheme = "tcp";
  {
    std::string error;
    auto first = compose::makeAdapter(uri(scheme), error);
    ASSERT_NE(first, nullptr) << error;
    link::Handle h1 = nullptr;
    for (int i = 0; i < 50 && first->open(0, h1) != link::kOk; ++i) ::usleep(100000);
    ASSERT_NE(h1, nullptr) << first->lastError();
    auto second = compose::makeAdapter(uri(scheme), error);
    ASSERT_NE(second, nullptr) << error;
    link::Handle h2 = nullptr;
    EXPECT_EQ(second->open(0, h2), link::kDeviceNotOpened);
    EXPECT_EQ(second->lastError(), uri(scheme) +
                                       ": the device server is in use by another client (it "
                                       "answered \"Port already in use\")");
    // The first still reaches the bus.
    const std::string select = protocol::SelectFrame({0, 0, 0, 1, 0, 1});
    std::uint32_t n = 0;
    ASSERT_EQ(first->setTimeouts(h1, 500, 500), link::kOk);
    ASSERT_EQ(first->write(h1, reinterpret_cast<const std::uint8_t*>(select.data()),
                           static_cast<std::uint32_t>(select.size()), n),
              link::kOk);
    std::uint8_t ack = 0;
    ASSERT_EQ(first->read(h1, &ack, 1, n), link::kOk) << first->lastError();
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(ack, 'O');
    std::string release = "R";
    first->write(h1, reinterpret_cast<const std::uint8_t*>(release.data()), 1, n);
    first->close(h1);
  }
}

TEST_F(Ser2net, ServerStoppedDuringARefreshFailsCleanlyAndReconnects) {
  std::string err;
  ASSERT_EQ(ctl("scan --max 3 --link " + uri("tcp"), err), 0) << err;
  // One accepter: the two share the device, and the other's client may hold it for a moment.
  for (const std::string scheme : {"tcp"}) {
    SCOPED_TRACE(scheme);
    std::string error;
    auto* adapter =
        new StopServerBeforeSecondSelect(compose::makeAdapter(uri(scheme), error), server_);
    test::RecordingFrontend frontend;
    network::Station station(std::unique_ptr<link::Adapter>(adapter), frontend, dir_.path());
    connectWithRetries(station);
    ASSERT_TRUE(station.link.state().Connected) << frontend.statusDetail;
    adapter->armed = true;
    EXPECT_NE(station.network.RefreshMachines(), network::RefreshOutcome::Done);
    EXPECT_FALSE(station.bus.MachineSelected);
    EXPECT_NE(frontend.statusDetail.find("closed by the server"), std::string::npos)
        << frontend.statusText << " / " << frontend.statusDetail;
    // ser2net back: the next connect tick finds it and the refresh goes through.
    startServer();
    station.link.state().Connected = false;
    connectWithRetries(station);
    ASSERT_TRUE(station.link.state().Connected) << frontend.statusDetail;
    EXPECT_EQ(station.network.RefreshMachines(), network::RefreshOutcome::Done)
        << frontend.statusText;
    EXPECT_EQ(station.network.listBox().size(), 3u);
    station.Close();
  }
}

// Runs a shell command line; its exit status, with what it wrote to standard error in `err`.
struct Shell {
  FILE* pipe = nullptr;
  int status = -1;
  std::string err;
  explicit Shell(const std::string& command)
      : pipe(::popen((command + " 2>&1 >/dev/null").c_str(), "r")) {}
  Shell& wait() {
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe)) err += buffer;
    const int s = pipe ? ::pclose(pipe) : -1;
    pipe = nullptr;
    status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return *this;
  }
};

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

#ifdef QUBIX24
// One instance per bus, each with its own data directory, run side by side and each keeps its
// own machine list; a second instance on a data directory in use is refused and says by whom.
TEST(SeveralBuses, OneInstancePerBusEachWithItsOwnDataDirectory) {
  TempDir dir;
  const fs::path heardA = dir.path() / "heard-a", heardB = dir.path() / "heard-b";
  Sim a(heardA), b(heardB);
  const fs::path dataA = dir.path() / "a", dataB = dir.path() / "b";
  fs::create_directories(dataA);
  fs::create_directories(dataB);
  const std::string ctl = std::string("'") + QUBIX24CTL + "' ";
  Shell scanA(ctl + "scan --max 3 --link " + a.tcp() + " --data-dir " + quoted(dataA));
  Shell scanB(ctl + "scan --max 3 --link " + b.tcp() + " --data-dir " + quoted(dataB));
  ASSERT_EQ(scanA.wait().status, 0) << scanA.err;
  ASSERT_EQ(scanB.wait().status, 0) << scanB.err;
  EXPECT_TRUE(fs::exists(dataA / "maclist.dat"));
  EXPECT_TRUE(fs::exists(dataB / "maclist.dat"));
  // The two buses hold the same machines, so each heard exactly one scan and nothing of the
  // other's.
  EXPECT_FALSE(readFile(heardA).empty());
  EXPECT_EQ(readFile(heardA), readFile(heardB));

  // The program holds its data directory for as long as it runs.
  Child program(
      {"/bin/sh", "-c",
       std::string("QT_QPA_PLATFORM=offscreen exec '") + QUBIX24 + "' --link " + a.tcp() +
           " --data-dir " + quoted(dataA) + " >" + quoted(dir.path() / "program.log") + " 2>&1"},
      0);
  // The lock file names its holder; the scan above left its own id there.
  const std::string holder = std::to_string(program.pid());
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (readFile(dataA / ".qubix24.lock") != holder + "\n" && Clock::now() < deadline)
    ::usleep(20000);
  ASSERT_EQ(readFile(dataA / ".qubix24.lock"), holder + "\n")
      << "the program never took its data directory: " << readFile(dir.path() / "program.log");
  const std::string heardBBefore = readFile(heardB);
  const std::string inUse =
      "the data directory " + dataA.string() + " is in use by process " + holder;
  for (const std::string& second : {ctl + "status --link " + b.tcp(),
                                    // Bounded, should it not be refused.
                                    std::string("QT_QPA_PLATFORM=offscreen '") + QUBIX24 +
                                        "' --quit-after-ms 1 --link " + b.tcp()}) {
    SCOPED_TRACE(second);
    Shell run(second + " --data-dir " + quoted(dataA));
    EXPECT_EQ(run.wait().status, 1);
    EXPECT_NE(run.err.find(inUse), std::string::npos) << run.err;
  }
  // Refused before they opened the adapter: bus B heard nothing more.
  EXPECT_EQ(readFile(heardB), heardBBefore);
}
#endif

}  // namespace
}  // namespace qubix::test

int main(int argc, char** argv) { return qubix::test::RunWithPtyInterposer(argc, argv); }
