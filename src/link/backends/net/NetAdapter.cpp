#include "link/backends/net/NetAdapter.h"

#include <gensio/gensio.h>
#include <gensio/gensio_addr.h>
#include <gensio/gensio_err.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/sergensio.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <deque>
#include <string_view>

namespace qubix::link::backends {

namespace {

using SteadyClock = std::chrono::steady_clock;

gensio_time timeFromMs(std::int64_t ms) {
  ms = std::max<std::int64_t>(ms, 0);
  return gensio_time{ms / 1000, static_cast<std::int32_t>((ms % 1000) * 1000000)};
}

// The library's one set of OS functions; the program calls it from one thread only, so no
// wake-up signal is needed.
gensio_os_funcs* osFuncs(std::string& reason) {
  static gensio_os_funcs* funcs = nullptr;
  static int error = 0;
  if (!funcs && error == 0) {
    // A server that closes the connection must not end the program through SIGPIPE: the write
    // fails instead and the link reports it.
    std::signal(SIGPIPE, SIG_IGN);
    error = gensio_default_os_hnd(0, &funcs);
  }
  if (!funcs) reason = std::string("cannot start the network library: ") + gensio_err_to_str(error);
  return funcs;
}

// Events outside the synchronous reads and writes (modem state, line state) are of no use here.
int ignoreEvent(gensio*, void*, int, int, unsigned char*, gensiods*, const char* const*) {
  return GE_NOTSUP;
}

// Why a connection could not be made or was lost, in the operator's words.
std::string networkReason(int err) {
  switch (err) {
    case GE_CONNREFUSE:
      return "connection refused";
    case GE_HOSTDOWN:
      return "host unreachable";
    case GE_REMCLOSE:
      return "connection closed by the server";
    case GE_TIMEDOUT:
      return "no answer from the server";
    case GE_NOTFOUND:
      return "host not found";
    default:
      return gensio_err_to_str(err);
  }
}

// The library's address list for the parsed address. A numeric address is converted without
// any lookup, so it works where there is no name server; a name is looked up here (so that a
// failure says it was the name) and every address it has is tried in turn on open(). No
// AI_ADDRCONFIG: with only a loopback interface it refuses even 127.0.0.1 and localhost.
gensio_addr* libraryAddress(gensio_os_funcs* os, const NetAddress& address, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (address.kind == NetHostKind::Name ? 0 : AI_NUMERICHOST);
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found)) {
    error = (address.kind == NetHostKind::Name ? "resolving the name " : "reading the address ") +
            address.host + ": " + gai_strerror(rc);
    return nullptr;
  }
  gensio_addr* all = nullptr;
  const auto port = static_cast<unsigned>(std::stoul(address.port));
  for (const addrinfo* a = found; a; a = a->ai_next) {
    gensio_addr* one = nullptr;
    int err = GE_NOTSUP;
    if (a->ai_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
      err = gensio_addr_create(os, GENSIO_NETTYPE_IPV4, &in->sin_addr, sizeof in->sin_addr, port,
                               &one);
    } else if (a->ai_family == AF_INET6) {
      // The whole socket address, so that a zone ("%eth0") is kept.
      err =
          gensio_addr_create(os, GENSIO_NETTYPE_IPV6, a->ai_addr, sizeof(sockaddr_in6), port, &one);
    }
    if (err) continue;
    if (!all) {
      all = one;
      continue;
    }
    gensio_addr* both = gensio_addr_cat(all, one);
    gensio_addr_free(one);
    if (both) {
      gensio_addr_free(all);
      all = both;
    }
  }
  freeaddrinfo(found);
  if (!all) error = "no IPv4 or IPv6 address for " + address.host;
  return all;
}

}  // namespace

struct NetAdapter::Connection {
  gensio_os_funcs* os = nullptr;
  gensio* io = nullptr;
  sergensio* line = nullptr;  // RFC 2217 only
  gensio_waiter* waiter = nullptr;
  std::uint32_t readTimeoutMs = 0;  // 0 waits for the whole count, as the vendor's driver does
  std::uint32_t writeTimeoutMs = 0;
  // Bytes taken off the connection while looking whether it is still there or waiting for a
  // line setting's answer, kept for the next read; at most kMaxEarlyBytes, the rest dropped.
  std::deque<std::uint8_t> early;
  std::uint64_t droppedEarly = 0;
  int lostError = 0;  // set once the connection has failed

  // Callback results of the asynchronous open, close and line settings. They live as long as
  // the gensio, so an answer that comes after its wait gave up lands here harmlessly.
  int openError = 0;
  bool opened = false;
  bool closed = false;
  unsigned lineAsked = 0;
  unsigned lineAnswered = 0;
  int lineError = 0;

  // Runs the library until done() or the time is up; false on time-out.
  template <typename Done>
  bool waitUntil(Done done, unsigned ms) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
              .count();
      if (left <= 0) return false;
      gensio_time limit = timeFromMs(left);
      gensio_os_funcs_wait(os, waiter, 1, &limit);
    }
    return true;
  }
  // The same once the connection is synchronous: there the library takes in what the server
  // sends (the answers to line settings among it) only while it is being read, so this reads,
  // keeping the data bytes for the next read().
  template <typename Done>
  bool readUntil(Done done, unsigned ms) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
              .count();
      if (left <= 0 || lostError) return false;
      std::uint8_t chunk[64];
      gensiods got = 0;
      gensio_time limit = timeFromMs(std::min<std::int64_t>(left, 2));
      const int err = gensio_read_s(io, &got, chunk, sizeof chunk, &limit);
      keepEarly(chunk, got);
      if (err && err != GE_TIMEDOUT) lostError = err;
    }
    return true;
  }
  // Takes what has arrived, without waiting, for the next read: until nothing more has, the
  // connection fails (lostError) or `atMost` bytes were taken.
  void takeArrived(std::size_t atMost) {
    for (std::size_t looked = 0; !lostError && looked < atMost;) {
      std::uint8_t chunk[64];
      gensiods got = 0;
      gensio_time now{0, 0};
      const int err = gensio_read_s(io, &got, chunk, sizeof chunk, &now);
      keepEarly(chunk, got);
      if (err == GE_TIMEDOUT || (err == 0 && got == 0)) break;
      if (err) lostError = err;
      looked += got;
    }
  }

  // Keeps bytes for the next read up to kMaxEarlyBytes; counts the rest and lets them go.
  void keepEarly(const std::uint8_t* data, std::size_t count) {
    const std::size_t room = kMaxEarlyBytes - std::min(early.size(), kMaxEarlyBytes);
    const std::size_t kept = std::min(count, room);
    early.insert(early.end(), data, data + kept);
    droppedEarly += count - kept;
  }
  static void wake(void* data) {
    auto* c = static_cast<Connection*>(data);
    gensio_os_funcs_wake(c->os, c->waiter);
  }

  ~Connection() {
    if (io) {
      if (!closed && gensio_close(
                         io,
                         [](gensio*, void* data) {
                           static_cast<Connection*>(data)->closed = true;
                           wake(data);
                         },
                         this) == 0)
        waitUntil([this] { return closed; }, kNetConnectTimeoutMs);
      gensio_free(io);
    }
    if (waiter) gensio_os_funcs_free_waiter(os, waiter);
  }
};

namespace {
// What ser2net sends a client beyond its max-connections before it hangs up, and how long a
// new connection waits for it.
constexpr std::string_view kServerRefusal = "Port already in use";
constexpr unsigned kRefusalWaitMs = 50;
}  // namespace

bool NetAdapter::compiledIn() { return true; }

BackendReport NetAdapter::probe() {
  BackendReport report;
  report.backend = "tcp, rfc2217";
  std::string reason;
  report.available = osFuncs(reason) != nullptr;
  report.reason = reason;
  return report;
}

NetAdapter::NetAdapter(NetProtocol protocol, NetAddress address)
    : protocol_(protocol), address_(std::move(address)), conn_(scheme()) {}

NetAdapter::~NetAdapter() = default;

Status NetAdapter::listDevices(std::span<Description> slots, std::uint32_t& deviceCount) {
  // The server named is the one device; whether it answers shows when it is opened.
  deviceCount = 1;
  if (!slots.empty()) copyText(linkText(), slots[0]);
  return kOk;
}

Status NetAdapter::open(int deviceIndex, Handle& handle) {
  handle = nullptr;
  conn_.reset();  // a reconnect lets go of the old connection first
  if (deviceIndex != 0)
    return fail(kDeviceNotFound, linkText() + ": no device " + std::to_string(deviceIndex));
  std::string reason;
  gensio_os_funcs* os = osFuncs(reason);
  if (!os) return fail(kDeviceNotOpened, scheme() + ": " + reason);

  auto c = std::make_unique<Connection>();
  c->os = os;
  c->waiter = gensio_os_funcs_alloc_waiter(os);
  if (!c->waiter) return fail(kInsufficientResources, scheme() + ": out of memory");
  // The stack is built from the parsed host and port, never from a string the library would
  // read options or further addresses from.
  gensio_addr* addr = libraryAddress(os, address_, reason);
  if (!addr) return fail(kDeviceNotOpened, linkText() + ": " + reason);
  // nodelay: a one-byte frame must leave at once, not wait for the previous one's
  // acknowledgement.
  static constexpr const char* kTcpArgs[] = {"nodelay", nullptr};
  static constexpr const char* kTelnetArgs[] = {"rfc2217", nullptr};
  gensio* tcp = nullptr;
  int err = gensio_terminal_alloc("tcp", addr, kTcpArgs, os, ignoreEvent, nullptr, &tcp);
  gensio_addr_free(addr);  // the connection keeps its own copy
  if (!err && protocol_ == NetProtocol::Rfc2217) {
    err = gensio_filter_alloc("telnet", tcp, kTelnetArgs, os, ignoreEvent, nullptr, &c->io);
    if (err) gensio_free(tcp);
  } else if (!err) {
    c->io = tcp;
  }
  if (err) return fail(kDeviceNotOpened, linkText() + ": " + networkReason(err));

  // Opened asynchronously so that a host that never answers costs a bounded wait.
  err = gensio_open(
      c->io,
      [](gensio*, int e, void* data) {
        auto* conn = static_cast<Connection*>(data);
        conn->openError = e;
        conn->opened = true;
        Connection::wake(data);
      },
      c.get());
  const std::string connecting = linkText() + ": connecting to " + address_.text() + ": ";
  if (err) {
    c->closed = true;  // nothing was opened
    return fail(kDeviceNotOpened, connecting + networkReason(err));
  }
  Connection* raw = c.get();
  raw->waitUntil([raw] { return raw->opened; }, kNetConnectTimeoutMs);
  if (!c->opened || c->openError) {
    const int why = c->opened ? c->openError : GE_TIMEDOUT;
    if (c->opened) c->closed = true;  // a failed open leaves nothing to close
    return fail(kDeviceNotOpened, connecting + networkReason(why));
  }
  gensio_set_sync(c->io);
  // A device server that already serves another client (ser2net with max-connections: 1) says
  // so at once and hangs up: one program per bus, and the operator is told why.
  const std::string_view refusal = kServerRefusal;
  const auto refused = [raw, refusal] {
    const std::size_t n = std::min(raw->early.size(), refusal.size());
    return n > 0 && std::equal(raw->early.begin(), raw->early.begin() + static_cast<long>(n),
                               refusal.begin());
  };
  raw->readUntil(
      [raw, &refused, refusal] {
        return raw->early.size() >= refusal.size() || (!raw->early.empty() && !refused());
      },
      kRefusalWaitMs);
  if (refused() && (raw->early.size() >= refusal.size() || raw->lostError))
    return fail(kDeviceNotOpened, linkText() +
                                      ": the device server is in use by another client (it "
                                      "answered \"Port already in use\")");
  if (protocol_ == NetProtocol::Rfc2217) {
    c->line = gensio_to_sergensio(c->io);
    if (!c->line) return fail(kDeviceNotOpened, linkText() + ": the server offers no line control");
  }
  handle = conn_.adopt(std::move(c));
  return kOk;
}

Status NetAdapter::close(Handle handle) { return conn_.close(handle); }

bool NetAdapter::noDelay() const {
  Connection* c = conn_.get();
  if (!c) return false;
  char value[8] = {};
  gensiods len = sizeof value;
  if (gensio_control(c->io, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET, GENSIO_CONTROL_NODELAY,
                     value, &len) != 0)
    return false;
  return std::strcmp(value, "1") == 0;
}

std::uint64_t NetAdapter::droppedEarlyBytes() const {
  const Connection* c = conn_.get();
  return c ? c->droppedEarly : 0;
}

std::string NetAdapter::lastError() const {
  const std::uint64_t dropped = droppedEarlyBytes();
  if (dropped == 0) return conn_.error;
  const std::string note =
      std::to_string(dropped) + " bytes the server sent ahead of the " + "reader were dropped";
  return conn_.error.empty() ? linkText() + ": " + note : conn_.error + " (" + note + ")";
}

Status NetAdapter::read(Handle handle, std::uint8_t* buffer, std::uint32_t count,
                        std::uint32_t& bytesRead) {
  bytesRead = 0;
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  while (bytesRead < count && !c->early.empty()) {
    buffer[bytesRead++] = c->early.front();
    c->early.pop_front();
  }
  if (c->lostError) return fail(kIoError, linkText() + ": " + networkReason(c->lostError));
  // What arrives by the deadline, however it was cut into packets on the way.
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(c->readTimeoutMs);
  while (bytesRead < count) {
    gensio_time left{};
    gensio_time* timeout = nullptr;
    if (c->readTimeoutMs != 0) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
              .count();
      if (ms <= 0) break;
      left = timeFromMs(ms);
      timeout = &left;
    }
    gensiods got = 0;
    const int err = gensio_read_s(c->io, &got, buffer + bytesRead, count - bytesRead, timeout);
    bytesRead += static_cast<std::uint32_t>(got);
    if (err == GE_TIMEDOUT) break;
    if (err) {
      c->lostError = err;
      return fail(kIoError, linkText() + ": " + networkReason(err));
    }
  }
  return kOk;
}

Status NetAdapter::write(Handle handle, const std::uint8_t* buffer, std::uint32_t count,
                         std::uint32_t& bytesWritten) {
  bytesWritten = 0;
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  if (c->lostError) return fail(kIoError, linkText() + ": " + networkReason(c->lostError));
  if (count == 0) return kOk;
  gensio_time left = timeFromMs(c->writeTimeoutMs);
  gensiods put = 0;
  const int err = gensio_write_s(c->io, &put, buffer, count, c->writeTimeoutMs ? &left : nullptr);
  bytesWritten = static_cast<std::uint32_t>(put);
  if (err && err != GE_TIMEDOUT) {
    c->lostError = err;
    return fail(kIoError, linkText() + ": " + networkReason(err));
  }
  return kOk;
}

Status NetAdapter::resetDevice(Handle handle) {
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  c->early.clear();
  if (c->line && sergensio_flush(gensio_to_sergensio(c->io), SERGENSIO_FLUSH_RCV_XMIT_BUFFERS) != 0)
    return fail(kIoError, linkText() + ": the server refused to purge its buffers");
  return kOk;
}

namespace {
void lineDone(sergensio*, int err, unsigned int, void* data) {
  auto* c = static_cast<NetAdapter::Connection*>(data);
  ++c->lineAnswered;
  if (err) c->lineError = err;
  NetAdapter::Connection::wake(data);
}
}  // namespace

// One line setting over RFC 2217, confirmed by the server within the connect time-out.
Status NetAdapter::setLine(Connection* c, Line setting, unsigned value) {
  static constexpr struct {
    int (*call)(sergensio*, unsigned int, sergensio_done, void*);
    const char* what;
  } kLines[] = {{sergensio_baud, "baud rate"},
                {sergensio_datasize, "data bits"},
                {sergensio_parity, "parity"},
                {sergensio_stopbits, "stop bits"},
                {sergensio_flowcontrol, "flow control"}};
  const auto& line = kLines[static_cast<int>(setting)];
  c->lineError = 0;
  const unsigned want = ++c->lineAsked;
  int err = line.call(c->line, value, lineDone, c);
  if (!err && !c->readUntil([c, want] { return c->lineAnswered >= want; }, kNetConnectTimeoutMs))
    err = c->lostError ? c->lostError : GE_TIMEDOUT;
  if (!err) err = c->lineError;
  if (err) return fail(kIoError, linkText() + ": " + line.what + ": " + networkReason(err));
  return kOk;
}

Status NetAdapter::setBaudRate(Handle handle, std::uint32_t baud) {
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  if (!c->line) return kOk;  // the device server's own setting stands
  if (baud == 0) return fail(kInvalidParameter, linkText() + ": baud rate 0");
  return setLine(c, Line::Baud, baud);
}

Status NetAdapter::setDataCharacteristics(Handle handle, std::uint8_t wordLength,
                                          std::uint8_t stopBits, std::uint8_t parity) {
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  if (!supportedDataCharacteristics(wordLength, stopBits, parity))
    return fail(kInvalidParameter, linkText() + ": unsupported data characteristics");
  if (!c->line) return kOk;
  // The driver counts parity from 0 (none) and stop bits as 0 (one) or 2 (two); the option
  // counts parity from 1 and stop bits as they are.
  Status st = setLine(c, Line::DataBits, wordLength);
  if (st == kOk) st = setLine(c, Line::Parity, parity + 1u);
  if (st == kOk) st = setLine(c, Line::StopBits, stopBits == 0 ? 1u : 2u);
  return st;
}

Status NetAdapter::setFlowControl(Handle handle, std::uint16_t flow, std::uint8_t, std::uint8_t) {
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  unsigned mode = 0;
  switch (flow) {
    case 0x0000:
      mode = SERGENSIO_FLOWCONTROL_NONE;
      break;
    case 0x0100:
      mode = SERGENSIO_FLOWCONTROL_RTS_CTS;
      break;
    case 0x0400:
      mode = SERGENSIO_FLOWCONTROL_XON_XOFF;
      break;
    default:
      return fail(kInvalidParameter, linkText() + ": unsupported flow control");
  }
  if (!c->line) return kOk;
  return setLine(c, Line::Flow, mode);
}

Status NetAdapter::setTimeouts(Handle handle, std::uint32_t readMs, std::uint32_t writeMs) {
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  c->readTimeoutMs = readMs;
  c->writeTimeoutMs = writeMs;
  return kOk;
}

Status NetAdapter::getDeviceInfo(Handle handle, DeviceInfo& info) {
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  // A server that has gone shows as a closed connection: look without waiting, keeping what
  // arrives for the next read (a server that sends without pause would keep the look going for
  // ever, hence its bound).
  c->takeArrived(kMaxEarlyLookBytes);
  if (c->lostError) return fail(kDeviceNotFound, linkText() + ": " + networkReason(c->lostError));
  info = DeviceInfo{};
  copyText(linkText(), info.description);
  return kOk;
}

// What waits: the bytes kept ahead of the reader and what the connection has now, taken in
// without waiting (and kept for the next read).
Status NetAdapter::queueStatus(Handle handle, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  Connection* c = check(handle);
  if (!c) return kInvalidHandle;
  c->takeArrived(kMaxEarlyBytes - std::min(c->early.size(), kMaxEarlyBytes));
  if (c->lostError) return fail(kIoError, linkText() + ": " + networkReason(c->lostError));
  bytesWaiting = static_cast<std::uint32_t>(c->early.size());
  return kOk;
}

std::unique_ptr<Adapter> makeNetAdapter(NetProtocol protocol, NetAddress address,
                                        std::string& reason) {
  reason.clear();
  return std::make_unique<NetAdapter>(protocol, std::move(address));
}

}  // namespace qubix::link::backends
