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

// One route of the API: a method and a path pattern, a segment in braces ({bus}, {machine})
// standing for a parameter. A GET route answers HEAD as well.
struct ApiRoute {
  std::string method;
  std::string pattern;
};

class Api : public QObject {
  Q_OBJECT
 public:
  Api(std::vector<ServiceBus*> buses, ApiInfo info, QObject* parent = nullptr);
  // What GET /api/v1/buses adds as "service" (connections, OSC counts), where the program has it.
  void setStatusSource(std::function<QJsonObject()> source) { status_ = std::move(source); }

  // The one entry point. respond is called exactly once, on this object's thread (maybe
  // later, when the bus's operation ended). The request goes to the handler of the route its
  // method and path match: a path no pattern matches is answered 404, a method its patterns do
  // not take 405 with Allow; an unknown bus or machine in the path 404 before either.
  void handle(const HttpRequest& request, Access access, std::function<void(HttpResponse)> respond);
  // The route table, in the order routes are matched: the session, the events and the slots'
  // pictures are among them though served in front of the API (ServeHttp, ServeUpgrade).
  static std::vector<ApiRoute> routes();

  ServiceBus* bus(const std::string& name) const;
  const std::vector<ServiceBus*>& buses() const { return buses_; }
  const ApiInfo& info() const { return info_; }
  const std::function<QJsonObject()>& statusSource() const { return status_; }

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
