// The event stream of /api/v1/events: every bus's events to every WebSocket client, numbered in
// the order they reached the hub (each bus's own in the order they happened on it); level
// readings only to the clients that asked for that machine's. A machine's levels are polled
// once however many clients watch it, and no longer once the last of them left. A client that
// lets more than 1 MiB of events or replies wait unsent is cut and dropped.
#pragma once

#include <QJsonObject>
#include <QObject>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QWebSocket;

namespace qubix::service {

class ServiceBus;

class EventHub : public QObject {
  Q_OBJECT
 public:
  explicit EventHub(std::vector<ServiceBus*> buses, QObject* parent = nullptr);
  ~EventHub() override;

  // The hub takes the socket over (it becomes its parent).
  void addClient(QWebSocket* socket);
  // How many clients watch a machine's levels.
  int watchers(const std::string& bus, const std::string& machine) const;
  // Before the buses go: every client cut and deleted, every level watch stopped, and the
  // buses forgotten (nothing reaches them afterwards).
  void shutdown();

 private:
  using Watch = std::pair<std::string, std::string>;  // bus, machine identifier
  void publish(QJsonObject event);
  void onMessage(QWebSocket* socket, const QString& text);
  void drop(QWebSocket* socket);
  // False (and the client cut and dropped) when it has too much waiting unsent already.
  bool send(QWebSocket* socket, const QString& text);
  void watch(const Watch& w, bool on);
  ServiceBus* bus(const std::string& name) const;

  std::vector<ServiceBus*> buses_;
  std::map<QWebSocket*, std::set<Watch>> clients_;
  std::map<Watch, int> watchers_;
  std::uint64_t seq_ = 0;
};

}  // namespace qubix::service
