// The service's HTTP/1.1 server on a QTcpServer (QSslSocket with --tls-cert/--tls-key): one
// request at a time per connection, in order; the limits of HttpMessage.h, at most 64 HTTP
// connections and 16 from one address, an idle connection closed after 30 s. A WebSocket
// upgrade is checked by the owner and then handed to QWebSocketServer untouched; from then on
// it counts among the WebSockets (512, and 256 from one address), not among the connections.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "service/http/HttpMessage.h"

class QWebSocket;

namespace qubix::service {

// A peer's address as itself: an IPv4 peer on an IPv6 socket (::ffff:a.b.c.d) as a.b.c.d, so
// that limits, subnets and counts see one sender as one.
QHostAddress PlainAddress(const QHostAddress& address);

struct ClientInfo {
  QHostAddress address;          // the peer
  std::uint64_t connection = 0;  // unique per connection while the server runs
  bool tls = false;
};

struct ServerLimits {
  std::size_t maxBodyBytes = kMaxBodyBytes;
  std::size_t maxHeaderBytes = kMaxHeaderBytes;
  int maxConnections = 64;            // HTTP connections being served
  int maxConnectionsPerAddress = 16;  // of those, from one peer address
  int maxWebSockets = 512;            // upgraded connections (event streams)
  int maxWebSocketsPerAddress = 256;  // of those, from one peer address
  int maxRefusing = 64;  // refused connections still being told why; beyond, cut at once
  int idleMs = 30000;
};

class HttpServer : public QObject {
  Q_OBJECT
 public:
  // May be called later, from the server's thread; a response for a connection that has gone
  // is dropped.
  using Respond = std::function<void(HttpResponse)>;
  using Handler = std::function<void(const HttpRequest&, const ClientInfo&, Respond)>;
  // For an upgrade request to a WebSocket path: nullopt accepts it, a response refuses it.
  using UpgradeCheck =
      std::function<std::optional<HttpResponse>(const HttpRequest&, const ClientInfo&)>;

  explicit HttpServer(Handler handler, UpgradeCheck upgradeCheck = {}, ServerLimits limits = {},
                      QObject* parent = nullptr);
  ~HttpServer() override;

  // False with the reason in error when the address cannot be bound or the TLS files do not
  // load. Empty certificate and key: plain HTTP.
  bool listen(const QHostAddress& address, quint16 port, const QString& tlsCert,
              const QString& tlsKey, QString* error);
  quint16 port() const;
  // HTTP connections served, and WebSockets from their upgrade until they are gone.
  int openConnections() const;
  int openWebSockets() const;
  // Stops accepting and cuts every HTTP connection and every WebSocket still waiting for its
  // handshake; WebSockets already handed out belong to whoever took them.
  void close();

 signals:
  // An accepted WebSocket (the server is its parent until the receiver reparents it).
  void webSocketConnected(QWebSocket* socket, qubix::service::ClientInfo client);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qubix::service
