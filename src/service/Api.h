// The service's API under /api/v1, independent of the transport: the HTTP server and the OSC
// server both hand their requests to Api::handle. Requests are checked here, on the caller's
// thread (unknown fields, values outside the editor's limits: refused before anything is
// sent); what needs the bus runs as an operation of that bus, and the answer comes back on the
// caller's thread.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

#include "service/http/Access.h"
#include "service/http/HttpMessage.h"
#include "service/http/HttpServer.h"

namespace qubix::service {

class ServiceBus;

struct ApiInfo {
  bool tls = false;
  // Said in GET /api/v1/buses when not empty (listening off loopback without TLS).
  std::string warning;
};

class Api : public QObject {
  Q_OBJECT
 public:
  Api(std::vector<ServiceBus*> buses, ApiInfo info, QObject* parent = nullptr);
  // What GET /api/v1/buses adds as "service" (connections, OSC counts), where the program has it.
  void setStatusSource(std::function<QJsonObject()> source) { status_ = std::move(source); }

  // The one entry point. respond is called exactly once, on this object's thread (maybe
  // later, when the bus's operation ended).
  void handle(const HttpRequest& request, Access access, std::function<void(HttpResponse)> respond);

  ServiceBus* bus(const std::string& name) const;
  const std::vector<ServiceBus*>& buses() const { return buses_; }

 private:
  std::vector<ServiceBus*> buses_;
  ApiInfo info_;
  std::function<QJsonObject()> status_;
};

// A JSON body with that status.
HttpResponse JsonReply(int status, const class QJsonObject& body);

// What the service serves beside the API: answers before the access check (the page) and after
// it (the slots' pictures); nullopt passes the request on.
struct HttpRoutes {
  std::function<std::optional<HttpResponse>(const HttpRequest&)> beforeAccess, afterAccess;
};
// The service's HTTP as it runs: the page, the access check (Host, Origin, rate, token), the
// session exchange, the other routes, then the API. The program and its tests serve through it.
HttpServer::Handler ServeHttp(Api& api, AccessControl& access, HttpRoutes routes = {});
// The WebSocket upgrade: only /api/v1/events, and only for whom the access check lets read.
HttpServer::UpgradeCheck ServeUpgrade(AccessControl& access);

}  // namespace qubix::service
