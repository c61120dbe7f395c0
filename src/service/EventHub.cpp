#include "service/EventHub.h"

#include <QJsonDocument>
#include <QWebSocket>

#include "service/BusWorker.h"

namespace qubix::service {

namespace {
// A client that reads too slowly is dropped rather than buffered without bound: events and
// replies to its own messages alike. Far more than a page ever lets wait, small enough that the
// most WebSockets the server takes cannot hold much memory together.
constexpr qint64 kMaxPendingBytes = qint64{1} * 1024 * 1024;
}  // namespace

EventHub::EventHub(std::vector<ServiceBus*> buses, QObject* parent)
    : QObject(parent), buses_(std::move(buses)) {
  for (ServiceBus* b : buses_) connect(b, &ServiceBus::busEvent, this, &EventHub::publish);
}

EventHub::~EventHub() { shutdown(); }

void EventHub::shutdown() {
  for (auto& [socket, watches] : clients_) {
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    delete socket;
  }
  clients_.clear();
  for (auto& [w, count] : watchers_)
    if (ServiceBus* b = bus(w.first)) b->watchLevels(w.second, false);
  watchers_.clear();
  for (ServiceBus* b : buses_) QObject::disconnect(b, nullptr, this, nullptr);
  buses_.clear();
}

ServiceBus* EventHub::bus(const std::string& name) const {
  for (ServiceBus* b : buses_)
    if (b->name() == name) return b;
  return nullptr;
}

int EventHub::watchers(const std::string& bus, const std::string& machine) const {
  const auto it = watchers_.find({bus, machine});
  return it == watchers_.end() ? 0 : it->second;
}

void EventHub::addClient(QWebSocket* socket) {
  socket->setParent(this);
  clients_[socket];
  connect(socket, &QWebSocket::textMessageReceived, this,
          [this, socket](const QString& text) { onMessage(socket, text); });
  connect(socket, &QWebSocket::disconnected, this, [this, socket] { drop(socket); });
}

void EventHub::drop(QWebSocket* socket) {
  const auto it = clients_.find(socket);
  if (it == clients_.end()) return;
  for (const Watch& w : it->second) watch(w, false);
  clients_.erase(it);
  socket->deleteLater();
}

bool EventHub::send(QWebSocket* socket, const QString& text) {
  if (socket->bytesToWrite() > kMaxPendingBytes) {
    socket->abort();
    drop(socket);
    return false;
  }
  socket->sendTextMessage(text);
  return true;
}

void EventHub::watch(const Watch& w, bool on) {
  int& count = watchers_[w];
  count += on ? 1 : -1;
  if ((on && count == 1) || (!on && count == 0))
    if (ServiceBus* b = bus(w.first)) b->watchLevels(w.second, on);
  if (count == 0) watchers_.erase(w);
}

void EventHub::onMessage(QWebSocket* socket, const QString& text) {
  if (!clients_.count(socket)) return;  // dropped while its messages were being read
  const auto reply = [this, socket](const QString& message) {
    send(socket,
         QString::fromUtf8(QJsonDocument(QJsonObject{{"type", "error"}, {"message", message}})
                               .toJson(QJsonDocument::Compact)));
  };
  const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
  const bool subscribe = m.value("subscribe") == QLatin1String("levels");
  const bool unsubscribe = m.value("unsubscribe") == QLatin1String("levels");
  if ((!subscribe && !unsubscribe) || m.size() != 3)
    return reply(
        QStringLiteral("expected {\"subscribe\"|\"unsubscribe\": \"levels\", "
                       "\"bus\": NAME, \"machine\": ID}"));
  ServiceBus* b = bus(m.value("bus").toString().toStdString());
  if (!b) return reply(QStringLiteral("no such bus"));
  const std::string id = b->resolveMachine(m.value("machine").toString().toStdString());
  if (id.empty()) return reply(QStringLiteral("no such machine on that bus"));
  const Watch w{b->name(), id};
  auto& mine = clients_[socket];
  if (subscribe == (mine.count(w) > 0)) return;  // nothing changes
  if (subscribe)
    mine.insert(w);
  else
    mine.erase(w);
  watch(w, subscribe);
}

void EventHub::publish(QJsonObject event) {
  event.insert("seq", static_cast<double>(++seq_));
  const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
  const bool levels = event.value("type") == QLatin1String("levels");
  const Watch w{event.value("bus").toString().toStdString(),
                event.value("machine").toString().toStdString()};
  std::vector<QWebSocket*> to;
  for (auto& [socket, watches] : clients_)
    if (!levels || watches.count(w)) to.push_back(socket);
  for (QWebSocket* socket : to) send(socket, text);
}

}  // namespace qubix::service
