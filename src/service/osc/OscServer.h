// The OSC server: UDP datagrams on the Qt event loop, decoded and encoded by liblo, each
// message turned into the API request of OscAddress.h and handed to the same entry point as
// HTTP. Senders outside the allowed subnets (loopback when none is given) are dropped and
// counted before their bytes are decoded; so is every message beyond a sender's rate (50 a
// second per address, as for changing HTTP requests, with a second's worth at once), so that a
// flooding sender cannot fill the buses' queues ahead of everyone else.
//
// The socket is Qt's rather than liblo's server: liblo's unicast server binds every interface,
// and a service that answers loopback only must not listen elsewhere. liblo still does all of
// OSC's encoding; there is no second thread.
#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QPair>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "service/http/Access.h"
#include "service/http/HttpMessage.h"
#include "service/osc/OscAddress.h"

class QUdpSocket;

namespace qubix::service::osc {

using Subnet = QPair<QHostAddress, int>;

// "127.0.0.1/32,10.0.0.0/8" (or one per call): false with the reason when one is not a subnet.
bool ParseSubnets(const QStringList& texts, std::vector<Subnet>& subnets, QString* error);

inline constexpr int kMaxSubscribers = 32;
inline constexpr int kMessagesPerSecond = 50;     // per sender address
inline constexpr std::size_t kMaxSenders = 1024;  // whose rate is remembered

class OscServer : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void(const HttpRequest&, std::function<void(HttpResponse)>)>;

  explicit OscServer(Handler handler, QObject* parent = nullptr);
  ~OscServer() override;

  // Loopback only when allowed is empty; otherwise every address, accepting those subnets.
  bool listen(quint16 port, std::vector<Subnet> allowed, QString* error);
  quint16 port() const;
  // Stops reading and sending.
  void close();
  // Datagrams dropped because their sender was not allowed.
  int dropped() const { return dropped_; }
  // Messages dropped unread because their sender was over its rate (no reply is sent for
  // them: a reply would double the flood). For the service's state.
  std::uint64_t rateLimited() const { return rateLimited_; }
  int subscribers() const { return static_cast<int>(subscribers_.size()); }

  // An event of the service (as the WebSocket sends it) to every subscriber, as OSC messages.
  void publish(const QJsonObject& event);

 signals:
  // A message was dealt with: the request's status, or 400 for one refused here.
  void handled(QString address, int status);

 private:
  void readPending();
  void datagram(const QByteArray& bytes, const QHostAddress& from, quint16 port, int depth);
  void message(const QByteArray& bytes, const QHostAddress& from, quint16 port);
  void reply(const QHostAddress& to, quint16 port, const std::string& address,
             const std::string& reason);
  bool allowed(const QHostAddress& from) const;

  Handler handler_;
  QUdpSocket* socket_ = nullptr;
  std::vector<Subnet> allowed_;
  int dropped_ = 0;
  RateLimiter rate_{kMessagesPerSecond, kMaxSenders};
  std::uint64_t rateLimited_ = 0;
  std::vector<std::pair<QHostAddress, quint16>> subscribers_;
  // What subscribers were last told of each address, so that a state sends only its changes.
  std::map<std::string, std::string> sent_;
};

}  // namespace qubix::service::osc
