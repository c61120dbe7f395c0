// qubix24d's buses, API and event hub behind the HTTP server on 127.0.0.1, in a thread of their
// own, on a simulated bus on the virtual clock that the test reaches (transcript, faults) through
// the bus's own thread. Clients are the raw sockets of ServerRig.h; WebSocket clients speak the
// framing themselves. Every wait is bounded.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <memory>
#include <string>

#include "ServerRig.h"
#include "service/Api.h"
#include "service/BusWorker.h"
#include "service/EventHub.h"
#include "service/web/WebContent.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/TempDir.h"

namespace qubix::test {

struct Reply {
  int status = 0;
  std::string body;
  QJsonObject json() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
  }
};

// The status and body of the first answer in bytes.
inline Reply ParseReply(const std::string& r) {
  Reply out;
  if (r.size() > 12) out.status = std::stoi(r.substr(9, 3));
  const auto head = r.find("\r\n\r\n");
  if (head != std::string::npos) out.body = r.substr(head + 4);
  return out;
}

// One request on a fresh connection; headers ("Name: value\r\n" each) go into its head.
inline Reply Request(quint16 port, const std::string& method, const std::string& path,
                     const std::string& body = {}, const std::string& headers = {}) {
  RawClient c(port);
  c.send(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  return ParseReply(c.readResponses(1));
}

// A WebSocket client on /api/v1/events.
class EventClient {
 public:
  explicit EventClient(quint16 port) : c_(port) {
    c_.send(
        "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
        "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Sec-WebSocket-Version: 13\r\n\r\n");
    const std::string head =
        c_.readUntil([](const std::string& s) { return s.find("\r\n\r\n") != s.npos; });
    upgraded_ = head.rfind("HTTP/1.1 101", 0) == 0;
    offset_ = head.find("\r\n\r\n") + 4;
  }
  bool upgraded() const { return upgraded_; }
  // A masked text frame (the mask of zeros leaves the payload as it is).
  void send(const std::string& text) {
    std::string f{'\x81'};
    if (text.size() < 126) {
      f.push_back(static_cast<char>(0x80 | text.size()));
    } else {
      f.push_back(static_cast<char>(0x80 | 126));
      f.push_back(static_cast<char>(text.size() >> 8));
      f.push_back(static_cast<char>(text.size() & 0xff));
    }
    f.append(4, '\0');
    c_.send(f + text);
  }
  // The next event that satisfies want, within 5 s; empty when none came.
  template <class Want>
  QJsonObject next(Want want) {
    for (;;) {
      std::string text;
      c_.readUntil([&](const std::string& s) { return frame(s, text); });
      if (!frame(c_.received(), text)) return {};
      offset_ += consumed_;
      const QJsonObject e = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
      if (want(e)) return e;
    }
  }

 private:
  // A complete server frame at offset_: its text, and its length in consumed_.
  bool frame(const std::string& s, std::string& text) {
    if (s.size() < offset_ + 2) return false;
    std::size_t len = static_cast<unsigned char>(s[offset_ + 1]) & 0x7f, at = offset_ + 2;
    if (len == 126) {
      if (s.size() < at + 2) return false;
      len = (static_cast<unsigned char>(s[at]) << 8) | static_cast<unsigned char>(s[at + 1]);
      at += 2;
    } else if (len == 127) {
      if (s.size() < at + 8) return false;
      len = 0;
      for (int i = 0; i < 8; ++i) len = (len << 8) | static_cast<unsigned char>(s[at + i]);
      at += 8;
    }
    if (s.size() < at + len) return false;
    text = s.substr(at, len);
    consumed_ = at + len - offset_;
    return true;
  }
  RawClient c_;
  bool upgraded_ = false;
  std::size_t offset_ = 0, consumed_ = 0;
};

struct RigOptions {
  // With tokens the service's own HTTP (ServeHttp, ServeUpgrade) answers, with the access
  // check of a listener off loopback (or on it); without, every request has control.
  std::optional<service::Tokens> tokens;
  bool loopbackListener = false;
  service::ServerLimits limits{};
  // The adapter before the bus first connects (faults on demand).
  std::function<void(sim::SimAdapter&)> prepare;
};

class ServiceRig {
 public:
  explicit ServiceRig(RigOptions options = {}) : bus(sim::makeDemoBus()) {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    thread_.start();
    context_.moveToThread(&thread_);
    run([this, &options] {
      service::BusConfig config{
          "main", "sim:virtual", dir.path() / "main", [this, prepare = options.prepare] {
            auto a = std::make_unique<sim::SimAdapter>(bus, sim::ClockMode::Virtual);
            adapter = a.get();
            if (prepare) prepare(*a);
            return compose::withSimulatorClock(std::move(a));
          }};
      serviceBus = new service::ServiceBus(config);
      api = new service::Api({serviceBus}, {});
      hub = new service::EventHub({serviceBus});
      if (options.tokens) {
        access = std::make_unique<service::AccessControl>(*options.tokens, options.loopbackListener,
                                                          false);
        server = new service::HttpServer(
            service::ServeHttp(*api, *access,
                               {service::web::ServePage,
                                [this](const service::HttpRequest& r) {
                                  return service::web::ServeSlotPicture(r, {serviceBus});
                                }}),
            service::ServeUpgrade(*access), options.limits);
      } else {
        server = new service::HttpServer(
            [this](const service::HttpRequest& r, const service::ClientInfo&,
                   service::HttpServer::Respond respond) {
              api->handle(r, service::Access::Control, std::move(respond));
            },
            [](const service::HttpRequest&, const service::ClientInfo&) {
              return std::optional<service::HttpResponse>();
            },
            options.limits);
      }
      QObject::connect(server, &service::HttpServer::webSocketConnected, hub,
                       [this](QWebSocket* s, const service::ClientInfo&) { hub->addClient(s); });
      QString error;
      server->listen(QHostAddress::LocalHost, 0, {}, {}, &error);
      port = server->port();
    });
    // Started: the bus has connected and refreshed once its first operation runs.
    onBus([](service::BusWorker&) {});
  }
  ~ServiceRig() {
    run([this] {
      delete server;
      access.reset();
      delete hub;
      delete api;
      delete serviceBus;
    });
    thread_.quit();
    thread_.wait();
  }
  void run(const std::function<void()>& fn) {
    QMetaObject::invokeMethod(&context_, fn, Qt::BlockingQueuedConnection);
  }
  // On the bus's thread, between its operations.
  void onBus(const std::function<void(service::BusWorker&)>& fn) { serviceBus->inWorker(fn); }
  std::string pcBytes() {
    std::string out;
    onBus([&](service::BusWorker&) { out = bus->pcBytes(); });
    return out;
  }
  void clearTranscript() {
    onBus([&](service::BusWorker&) { bus->clearTranscript(); });
  }
  Reply request(const std::string& method, const std::string& path, const std::string& body = {}) {
    return Request(port, method, path, body);
  }

  TempDir dir{"qubix-service"};
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* adapter = nullptr;  // the bus thread's
  service::ServiceBus* serviceBus = nullptr;
  service::Api* api = nullptr;
  service::EventHub* hub = nullptr;
  service::HttpServer* server = nullptr;
  std::unique_ptr<service::AccessControl> access;
  quint16 port = 0;

 private:
  QThread thread_;
  QObject context_;
};

}  // namespace qubix::test
