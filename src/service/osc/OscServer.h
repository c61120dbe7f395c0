// The OSC server: UDP datagrams on the Qt event loop, decoded and encoded by liblo, each
// message turned into the API request of OscAddress.h and handed to the same entry point as
// HTTP. Senders outside the allowed subnets (loopback when none is given) are dropped and
// counted before their bytes are decoded; with a passcode, so is anything from a sender that has
// not given it with /qubix24/connect (answered once, with one /qubix24/error). Subscribers hear
// the whole state once and then only what changes, each in the form it names machines in, until
// their subscription runs out. Patterns stand for the addresses they match; bundles run at their
// time tag. A sender beyond its rate (50
// messages a second per address, as for changing HTTP requests, with a second's worth at once)
// is dropped unread, so that a flood cannot fill the buses' queues ahead of everyone else.
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
#include <chrono>
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
// Senders admitted by the passcode at most, and senders whose form of machine names is kept.
inline constexpr int kMaxAdmitted = 64;
inline constexpr int kMaxSenderForms = 64;
// Messages one change sends one subscriber at most (a machine's whole state is 44).
inline constexpr int kMaxMessagesPerChange = 64;
inline constexpr int kMessagesPerSecond = 50;     // per sender address
inline constexpr std::size_t kMaxSenders = 1024;  // whose rate is remembered

class OscServer : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void(const HttpRequest&, std::function<void(HttpResponse)>)>;

  // The events that bring a new subscriber up to date ("bus", "slot", "values", as published).
  using StateSource = std::function<std::vector<QJsonObject>()>;
  // The buses and their machines, which patterns are matched against.
  using SpaceSource = std::function<std::vector<OscSpaceBus>()>;

  explicit OscServer(Handler handler, QObject* parent = nullptr);
  ~OscServer() override;

  void setStateSource(StateSource source) { state_ = std::move(source); }
  void setSpaceSource(SpaceSource source) { space_ = std::move(source); }
  // Empty: every allowed sender is trusted (the default).
  void setPasscode(std::string passcode) { passcode_ = std::move(passcode); }

  // Loopback only when allowed is empty; otherwise every address, accepting those subnets.
  bool listen(quint16 port, std::vector<Subnet> allowed, QString* error);
  quint16 port() const;
  // Stops reading and sending.
  void close();
  // Datagrams dropped: from a sender not allowed or not admitted, or too large.
  int dropped() const { return dropped_; }
  // Messages dropped unread because their sender was over its rate (no reply is sent for
  // them: a reply would double the flood). For the service's state.
  std::uint64_t rateLimited() const { return rateLimited_; }
  int subscribers() const;

  // An event of the service (as the WebSocket sends it) to every subscriber, as OSC messages.
  void publish(const QJsonObject& event);

 signals:
  // A message was dealt with: the request's status, or 400 for one refused here.
  void handled(QString address, int status);

 private:
  using Clock = std::chrono::steady_clock;
  using Peer = std::pair<QHostAddress, quint16>;
  using PeerKey = std::pair<QString, quint16>;
  static PeerKey KeyOf(const QHostAddress& address, quint16 port);
  struct Subscriber {
    Peer to;           // where the changes go
    quint16 from = 0;  // the port it subscribed from
    Clock::time_point expires;
    std::string form;  // "slot", "id", or empty: as the sender names machines
    // What it was last told of each address (machines by identifier).
    std::map<std::string, std::string> sent;
  };

  void readPending();
  bool admit(const QByteArray& bytes, const QHostAddress& from, quint16 port);
  void datagram(const QByteArray& bytes, const QHostAddress& from, quint16 port, int depth);
  void bundle(const QByteArray& bytes, const QHostAddress& from, quint16 port, int depth);
  void message(const QByteArray& bytes, const QHostAddress& from, quint16 port);
  void connectSender(const std::string& passcode, const QHostAddress& from, quint16 port);
  void subscribe(const OscTranslation& t, const QHostAddress& from, quint16 port);
  void pattern(const std::string& address, const std::vector<OscArg>& args,
               const QHostAddress& from, quint16 port);
  void request(const OscTranslation& t, const std::string& address, const QHostAddress& from,
               quint16 port);
  void rememberForm(const std::string& address, const QHostAddress& from, quint16 port);
  void learnSlots(const QJsonObject& event);
  // The messages of one event to one subscriber, only those that tell it something new; at most
  // `limit` of them.
  void tell(Subscriber& s, const QJsonObject& event, int limit);
  void pruneSubscribers();
  void reply(const QHostAddress& to, quint16 port, const std::string& address,
             const std::string& reason);
  bool allowed(const QHostAddress& from) const;

  Handler handler_;
  StateSource state_;
  SpaceSource space_;
  std::string passcode_;
  QUdpSocket* socket_ = nullptr;
  std::vector<Subnet> allowed_;
  int dropped_ = 0;
  int pendingBundles_ = 0;
  std::vector<Subscriber> subscribers_;
  // Until when each sender is admitted (renewed by each message), and how it named machines.
  std::map<PeerKey, Clock::time_point> admitted_;
  std::map<PeerKey, MachineForm> forms_;
  std::map<std::string, std::map<std::string, int>> slots_;  // bus, identifier: slot 1 ... 8
  RateLimiter rate_{kMessagesPerSecond, kMaxSenders};
  std::uint64_t rateLimited_ = 0;
};

}  // namespace qubix::service::osc
