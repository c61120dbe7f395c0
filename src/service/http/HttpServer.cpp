// The service reads HTTP itself rather than through Qt 6.4's QHttpServer: that server reads a
// whole request before any hook runs and has no limit on headers, body, connections or idle
// time, so a client could make it hold any amount of memory. Here every connection reads one
// request at a time through HttpRequestParser, which takes no byte beyond its limits, and Qt's
// own buffer of each socket is bounded too. The head of a request is peeked, not read, so that
// a WebSocket upgrade reaches QWebSocketServer with the socket untouched.
#include "service/http/HttpServer.h"

#include <sys/socket.h>

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_map>

#include "service/http/TlsFiles.h"

namespace qubix::service {

namespace {

// How long a closing connection may still send before it is cut: enough for a client to read
// the answer that refused it, bounded so that a client cannot hold the connection open.
constexpr int kLingerMs = 2000;
// Answers not yet taken by a client that sends requests but does not read: no further request
// is read until they are down to this.
constexpr qint64 kMaxUnsentBytes = 1 << 20;
// Incoming WebSocket frames and messages are bounded like request bodies.
constexpr quint64 kMaxWebSocketMessage = kMaxBodyBytes;

class Listener : public QTcpServer {
 public:
  std::function<void(qintptr)> incoming;

 protected:
  void incomingConnection(qintptr descriptor) override { incoming(descriptor); }
};

bool HasToken(const std::string* value, std::string_view token) {
  if (value == nullptr) return false;
  std::string lower = *value;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::size_t start = 0;
  while (start <= lower.size()) {
    auto comma = lower.find(',', start);
    if (comma == std::string::npos) comma = lower.size();
    std::string_view element(lower.data() + start, comma - start);
    while (!element.empty() && (element.front() == ' ' || element.front() == '\t'))
      element.remove_prefix(1);
    while (!element.empty() && (element.back() == ' ' || element.back() == '\t'))
      element.remove_suffix(1);
    if (element == token) return true;
    start = comma + 1;
  }
  return false;
}

// Connections are counted per peer address.
QString PeerKey(const QHostAddress& address) { return PlainAddress(address).toString(); }

// What QWebSocketServer would refuse with a bare answer of its own: refused here with a JSON
// body like every other refusal. nullopt for a handshake it takes.
std::optional<HttpResponse> HandshakeRefusal(const HttpRequest& request) {
  if (request.method != "GET") {
    HttpResponse r = ErrorResponse(405, "method_not_allowed", "a WebSocket opens with GET");
    r.headers.emplace_back("Allow", "GET");
    return r;
  }
  if (!HasToken(request.header("connection"), "upgrade"))
    return ErrorResponse(400, "bad_request", "a WebSocket handshake needs Connection: Upgrade");
  const std::string* version = request.header("sec-websocket-version");
  if (version == nullptr || *version != "13") {
    HttpResponse r = ErrorResponse(426, "upgrade_required", "only WebSocket version 13 is served");
    r.headers.emplace_back("Sec-WebSocket-Version", "13");
    return r;
  }
  // The key: 16 bytes in base64, 24 characters ending in "==".
  const std::string* key = request.header("sec-websocket-key");
  const QByteArray bytes = key ? QByteArray::fromStdString(*key) : QByteArray();
  const auto decoded =
      QByteArray::fromBase64Encoding(bytes, QByteArray::AbortOnBase64DecodingErrors);
  if (key == nullptr || key->size() != 24 || !decoded || decoded.decoded.size() != 16)
    return ErrorResponse(400, "bad_request", "a WebSocket handshake needs a 16-byte key");
  return std::nullopt;
}

}  // namespace

QHostAddress PlainAddress(const QHostAddress& address) {
  bool isV4 = false;
  const quint32 v4 = address.toIPv4Address(&isV4);
  return isV4 ? QHostAddress(v4) : address;
}

struct Connection {
  QTcpSocket* socket = nullptr;
  ClientInfo client;
  QString peer;  // PeerKey of the client's address
  HttpRequestParser parser;
  QTimer idle;
  QTimer linger;
  bool busy = false;       // a request is with the handler
  bool closing = false;    // the last answer is written; the connection ends after it
  bool lingering = false;  // the answer is out; what the client still sends is dropped
  bool rejected = false;   // over a connection limit: counted among the refusing only
  bool keepAlive = true;
  bool headOnly = false;
  std::uint64_t sequence = 0;  // of the request with the handler
  std::size_t scanned = 0;     // peeked head bytes known to hold no end of head

  Connection(std::size_t maxHeader, std::size_t maxBody) : parser(maxHeader, maxBody) {}
};

// A connection handed to the WebSocket server: counted among the WebSockets from the hand-over
// until its connection ends or its socket is gone, whichever comes first.
struct WebSocketSlot {
  ClientInfo client;
  QString peer;
  QPointer<QTcpSocket> socket;
  bool upgraded = false;  // a QWebSocket was made of it
  bool released = false;
};

struct HttpServer::Impl {
  HttpServer* q;
  Handler handler;
  UpgradeCheck upgradeCheck;
  ServerLimits limits;
  Listener listener;
  QWebSocketServer webSockets{QString(), QWebSocketServer::NonSecureMode};
  std::unordered_map<QTcpSocket*, std::shared_ptr<Connection>> connections;
  struct Peer {
    int http = 0;
    int webSockets = 0;
  };
  int served = 0;    // HTTP connections being served
  int refusing = 0;  // connections being told they are over a limit
  int webSocketCount = 0;
  std::map<QString, Peer> peers;  // only addresses with something counted
  // Handed over and not yet upgraded, by peer address and port.
  std::map<std::pair<QString, quint16>, std::shared_ptr<WebSocketSlot>> handedOver;
  std::uint64_t nextId = 1;
  bool tls = false;
  QSslConfiguration sslConfiguration;

  Impl(HttpServer* owner, Handler h, UpgradeCheck u, ServerLimits l)
      : q(owner), handler(std::move(h)), upgradeCheck(std::move(u)), limits(l) {}

  void accept(qintptr descriptor);
  void process(const std::shared_ptr<Connection>& c);
  void dispatch(const std::shared_ptr<Connection>& c);
  void respond(const std::shared_ptr<Connection>& c, HttpResponse response);
  void fail(const std::shared_ptr<Connection>& c, int status, std::string_view code,
            std::string_view message);
  void closeAfterWrite(const std::shared_ptr<Connection>& c);
  void startLinger(const std::shared_ptr<Connection>& c);
  void upgrade(const std::shared_ptr<Connection>& c, const HttpRequestParser& head);
  void forget(QTcpSocket* socket);
  void release(WebSocketSlot& slot);
  Peer& peer(const QString& key) { return peers[key]; }
  void tidy(const QString& key) {
    const auto it = peers.find(key);
    if (it != peers.end() && it->second.http == 0 && it->second.webSockets == 0) peers.erase(it);
  }
};

void HttpServer::Impl::accept(qintptr descriptor) {
  QTcpSocket* socket = nullptr;
  if (tls) {
    auto* ssl = new QSslSocket(q);
    ssl->setSslConfiguration(sslConfiguration);
    socket = ssl;
  } else {
    socket = new QTcpSocket(q);
  }
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  // Qt's buffer holds a whole head and a little more: the head is peeked, and a head over the
  // limit must be seen to be refused.
  socket->setReadBufferSize(static_cast<qint64>(
      std::max<std::size_t>(limits.maxHeaderBytes + 1, std::size_t{64} * 1024)));
  const QString key = PeerKey(socket->peerAddress());
  const bool serverFull = served >= limits.maxConnections;
  const bool addressFull = peer(key).http >= limits.maxConnectionsPerAddress;
  tidy(key);
  if ((serverFull || addressFull) && refusing >= limits.maxRefusing) {
    // Enough refusals are under way: a client that opens and drops connections in a loop must
    // not hold a descriptor for each.
    socket->abort();
    delete socket;
    return;
  }
  auto c = std::make_shared<Connection>(limits.maxHeaderBytes, limits.maxBodyBytes);
  c->socket = socket;
  c->client = {socket->peerAddress(), nextId++, tls};
  c->peer = key;
  c->rejected = serverFull || addressFull;
  if (c->rejected) {
    ++refusing;
  } else {
    ++served;
    ++peer(key).http;
  }
  connections.emplace(socket, c);

  std::weak_ptr<Connection> weak = c;
  QObject::connect(socket, &QTcpSocket::readyRead, q, [this, weak] {
    if (auto c = weak.lock()) process(c);
  });
  QObject::connect(socket, &QTcpSocket::bytesWritten, q, [this, weak] {
    auto c = weak.lock();
    if (!c) return;
    if (c->closing && !c->lingering && c->socket->bytesToWrite() == 0) startLinger(c);
    if (!c->closing && c->socket->bytesToWrite() <= kMaxUnsentBytes) process(c);
  });
  QObject::connect(socket, &QTcpSocket::disconnected, q, [this, socket] { forget(socket); });
  c->idle.setSingleShot(true);
  QObject::connect(&c->idle, &QTimer::timeout, q, [this, weak] {
    if (auto c = weak.lock(); c && !c->busy) closeAfterWrite(c);
  });
  c->linger.setSingleShot(true);
  QObject::connect(&c->linger, &QTimer::timeout, q, [weak] {
    if (auto c = weak.lock()) c->socket->abort();
  });

  if (tls) static_cast<QSslSocket*>(socket)->startServerEncryption();
  if (c->rejected) {
    fail(c, 503, "too_many_connections",
         serverFull ? "the service serves " + std::to_string(limits.maxConnections) +
                          " connections at most"
                    : "the service serves " + std::to_string(limits.maxConnectionsPerAddress) +
                          " connections from one address at most");
    return;
  }
  c->idle.start(limits.idleMs);
  process(c);
}

void HttpServer::Impl::forget(QTcpSocket* socket) {
  auto it = connections.find(socket);
  if (it == connections.end()) return;
  const Connection& c = *it->second;
  if (c.rejected) {
    --refusing;
  } else {
    --served;
    --peer(c.peer).http;
    tidy(c.peer);
  }
  connections.erase(it);
  socket->deleteLater();
}

void HttpServer::Impl::release(WebSocketSlot& slot) {
  if (slot.released) return;
  slot.released = true;
  --webSocketCount;
  --peer(slot.peer).webSockets;
  tidy(slot.peer);
}

void HttpServer::Impl::process(const std::shared_ptr<Connection>& c) {
  QTcpSocket* socket = c->socket;
  while (!c->busy && !c->closing) {
    if (socket->bytesToWrite() > kMaxUnsentBytes) return;
    const qint64 available = socket->bytesAvailable();
    if (available <= 0) return;
    if (!c->parser.headComplete()) {
      const qint64 peekSize =
          std::min<qint64>(available, static_cast<qint64>(limits.maxHeaderBytes) + 2);
      const QByteArray peeked = socket->peek(peekSize);
      const std::string_view bytes(peeked.constData(), static_cast<std::size_t>(peeked.size()));
      // Parse only when an end of head may be there, or the head is over its limit, or blank
      // lines lead: a client sending one byte at a time costs a scan, not a parse, per byte.
      const std::size_t from = c->scanned > 2 ? c->scanned - 2 : 0;
      const bool worthParsing = bytes.find("\n\n", from) != std::string_view::npos ||
                                bytes.find("\n\r\n", from) != std::string_view::npos ||
                                bytes.size() > limits.maxHeaderBytes || bytes.front() == '\n' ||
                                bytes.front() == '\r';
      if (!worthParsing) {
        c->scanned = bytes.size();
        return;
      }
      HttpRequestParser probe(limits.maxHeaderBytes, limits.maxBodyBytes);
      const std::size_t used = probe.feed(bytes);
      if (probe.status() == HttpRequestParser::Status::Error) {
        const auto& f = probe.failure();
        return fail(c, f.status, f.code, f.message);
      }
      if (!probe.headComplete()) {
        // Only blank lines were taken: drop them and look again.
        c->scanned = 0;
        if (used == 0) {
          c->scanned = bytes.size();
          return;
        }
        socket->skip(static_cast<qint64>(used));
        continue;
      }
      if (HasToken(probe.request().header("upgrade"), "websocket")) return upgrade(c, probe);
      socket->skip(static_cast<qint64>(used));
      c->scanned = 0;
      c->parser = std::move(probe);
      if (c->parser.expectsContinue()) socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    } else {
      const qint64 want =
          std::min<qint64>(available, static_cast<qint64>(c->parser.bodyRemaining()));
      const QByteArray data = socket->read(want);
      c->parser.feed(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    }
    if (c->parser.status() == HttpRequestParser::Status::Complete) dispatch(c);
  }
}

void HttpServer::Impl::dispatch(const std::shared_ptr<Connection>& c) {
  HttpRequest request = c->parser.take();
  c->keepAlive = request.keepAlive;
  c->headOnly = request.method == "HEAD";
  c->busy = true;
  c->idle.stop();
  const std::uint64_t sequence = ++c->sequence;
  std::weak_ptr<Connection> weak = c;
  handler(request, c->client, [this, weak, sequence](const HttpResponse& response) {
    auto c = weak.lock();
    if (!c || !c->busy || c->sequence != sequence) return;  // gone, or answered already
    respond(c, response);
  });
}

void HttpServer::Impl::respond(const std::shared_ptr<Connection>& c, HttpResponse response) {
  c->busy = false;
  if (tls) response.headers.emplace_back("Strict-Transport-Security", kStrictTransportSecurity);
  c->socket->write(
      QByteArray::fromStdString(SerializeResponse(response, c->keepAlive, c->headOnly)));
  if (!c->keepAlive) return closeAfterWrite(c);
  c->idle.start(limits.idleMs);
  // Requests sent meanwhile wait in the socket; read them after this call has returned.
  std::weak_ptr<Connection> weak = c;
  QTimer::singleShot(0, q, [this, weak] {
    if (auto c = weak.lock()) process(c);
  });
}

void HttpServer::Impl::fail(const std::shared_ptr<Connection>& c, int status, std::string_view code,
                            std::string_view message) {
  c->socket->write(
      QByteArray::fromStdString(SerializeResponse(ErrorResponse(status, code, message), false)));
  closeAfterWrite(c);
}

void HttpServer::Impl::closeAfterWrite(const std::shared_ptr<Connection>& c) {
  c->closing = true;
  c->idle.stop();
  // A client that takes no answer (or never finishes its TLS handshake) is cut all the same.
  c->linger.start(limits.idleMs);
  if (c->socket->bytesToWrite() == 0) startLinger(c);
}

// The answer is out: the sending side is shut, so that the client sees the answer and then the
// end, and what it still sends is read and dropped (closing with unread bytes would reset the
// connection and could lose the answer on the client's side) until it closes or time is up.
void HttpServer::Impl::startLinger(const std::shared_ptr<Connection>& c) {
  c->lingering = true;
  QTcpSocket* socket = c->socket;
  if (tls) {
    socket->disconnectFromHost();
  } else {
    ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    socket->skip(socket->bytesAvailable());
    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                     [socket] { socket->skip(socket->bytesAvailable()); });
  }
  c->linger.start(kLingerMs);
}

void HttpServer::Impl::upgrade(const std::shared_ptr<Connection>& c,
                               const HttpRequestParser& head) {
  const HttpRequest& request = head.request();
  std::optional<HttpResponse> refusal;
  if (!upgradeCheck)
    refusal = ErrorResponse(404, "not_found", "no WebSocket is served here");
  else
    refusal = upgradeCheck(request, c->client);
  if (!refusal) refusal = HandshakeRefusal(request);
  if (refusal) {
    c->socket->write(QByteArray::fromStdString(SerializeResponse(*refusal, false)));
    return closeAfterWrite(c);
  }
  if (webSocketCount >= limits.maxWebSockets)
    return fail(
        c, 503, "too_many_connections",
        "the service serves " + std::to_string(limits.maxWebSockets) + " event streams at most");
  if (peer(c->peer).webSockets >= limits.maxWebSocketsPerAddress)
    return fail(c, 503, "too_many_connections",
                "the service serves " + std::to_string(limits.maxWebSocketsPerAddress) +
                    " event streams to one address at most");
  // From here on the socket belongs to the WebSocket server: it leaves the HTTP connections and
  // counts among the WebSockets until its connection ends or it is gone.
  QTcpSocket* socket = c->socket;
  c->idle.stop();
  c->linger.stop();
  QObject::disconnect(socket, nullptr, q, nullptr);
  auto slot = std::make_shared<WebSocketSlot>();
  slot->client = c->client;
  slot->peer = c->peer;
  slot->socket = socket;
  --served;
  --peer(c->peer).http;
  connections.erase(socket);
  ++webSocketCount;
  ++peer(slot->peer).webSockets;
  const auto key = std::make_pair(socket->peerAddress().toString(), socket->peerPort());
  handedOver[key] = slot;
  QObject::connect(socket, &QObject::destroyed, q, [this, slot] { release(*slot); });
  QObject::connect(socket, &QAbstractSocket::disconnected, q, [this, slot, key] {
    release(*slot);
    if (slot->upgraded) return;
    // The handshake failed or never finished: nobody else will delete the socket.
    if (auto it = handedOver.find(key); it != handedOver.end() && it->second == slot)
      handedOver.erase(it);
    if (slot->socket) slot->socket->deleteLater();
  });
  webSockets.handleConnection(socket);
}

HttpServer::HttpServer(Handler handler, UpgradeCheck upgradeCheck, ServerLimits limits,
                       QObject* parent)
    : QObject(parent),
      impl_(std::make_unique<Impl>(this, std::move(handler), std::move(upgradeCheck), limits)) {
  impl_->listener.incoming = [this](qintptr descriptor) { impl_->accept(descriptor); };
  connect(&impl_->webSockets, &QWebSocketServer::newConnection, this, [this] {
    while (QWebSocket* ws = impl_->webSockets.nextPendingConnection()) {
      ws->setParent(this);
      ws->setMaxAllowedIncomingFrameSize(kMaxWebSocketMessage);
      ws->setMaxAllowedIncomingMessageSize(kMaxWebSocketMessage);
      const auto key = std::make_pair(ws->peerAddress().toString(), ws->peerPort());
      const auto it = impl_->handedOver.find(key);
      if (it == impl_->handedOver.end()) {  // not one this server handed over
        ws->abort();
        ws->deleteLater();
        continue;
      }
      const std::shared_ptr<WebSocketSlot> slot = it->second;
      impl_->handedOver.erase(it);
      slot->upgraded = true;
      // The QWebSocket does not own the connection's socket: it does from now on, so that the
      // socket goes with it.
      if (slot->socket) slot->socket->setParent(ws);
      connect(ws, &QWebSocket::disconnected, this, [this, slot] { impl_->release(*slot); });
      connect(ws, &QObject::destroyed, this, [this, slot] { impl_->release(*slot); });
      const ClientInfo client = slot->client;
      emit webSocketConnected(ws, client);
    }
  });
}

HttpServer::~HttpServer() {
  // The connections' sockets are children of this object; their signals must not reach the
  // state that goes first.
  for (auto& [socket, c] : impl_->connections) QObject::disconnect(socket, nullptr, this, nullptr);
  impl_->connections.clear();
  // So are the WebSockets nobody took; those taken elsewhere may outlive this object.
  for (QObject* child : children()) QObject::disconnect(child, nullptr, this, nullptr);
}

bool HttpServer::listen(const QHostAddress& address, quint16 port, const QString& tlsCert,
                        const QString& tlsKey, QString* error) {
  auto setError = [error](const QString& text) {
    if (error != nullptr) *error = text;
    return false;
  };
  if (tlsCert.isEmpty() != tlsKey.isEmpty())
    return setError(QStringLiteral("TLS needs both a certificate and a key"));
  if (!tlsCert.isEmpty()) {
    if (!LoadTlsConfiguration(tlsCert, tlsKey, impl_->sslConfiguration, error)) return false;
    impl_->tls = true;
  }
  if (!impl_->listener.listen(address, port)) return setError(impl_->listener.errorString());
  return true;
}

quint16 HttpServer::port() const { return impl_->listener.serverPort(); }

int HttpServer::openConnections() const { return impl_->served; }

int HttpServer::openWebSockets() const { return impl_->webSocketCount; }

void HttpServer::close() {
  impl_->listener.close();
  std::vector<QTcpSocket*> sockets;
  for (auto& [socket, c] : impl_->connections) sockets.push_back(socket);
  for (auto& [key, slot] : impl_->handedOver) {
    impl_->release(*slot);
    if (slot->socket) sockets.push_back(slot->socket);
  }
  for (QTcpSocket* socket : sockets) {
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
  }
  impl_->connections.clear();
  impl_->handedOver.clear();
  impl_->served = 0;
  impl_->refusing = 0;
  for (auto it = impl_->peers.begin(); it != impl_->peers.end();) {
    it->second.http = 0;
    if (it->second.webSockets == 0)
      it = impl_->peers.erase(it);
    else
      ++it;
  }
}

}  // namespace qubix::service
