// qubix24d: the service. Opens every bus in a thread of its own, then answers the API over HTTP
// (and WebSockets for the events) until SIGINT or SIGTERM.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWebSocket>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "files/DataDir.h"
#include "service/Api.h"
#include "service/BusWorker.h"
#include "service/EventHub.h"
#include "service/ServiceOptions.h"
#include "service/http/Access.h"
#include "service/http/HttpServer.h"
#include "service/osc/OscServer.h"
#include "service/web/WebContent.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

bool IsLoopback(const QHostAddress& a) { return a.isLoopback(); }

// Every folder of path that is missing, made with the owner's rights only.
bool MakePrivateDirectories(const std::filesystem::path& path, std::string& error) {
  std::filesystem::path made;
  for (const auto& part : path) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      error = made.string() + ": cannot make the folder: " + std::strerror(errno);
      return false;
    }
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) {
    error = path.string() + ": not a folder";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qubix::service;
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qubix24d"));
  const ServiceOptions options = ParseServiceOptions(
      QCoreApplication::arguments(), QString::fromStdString(qubix::files::UserDataDir().string()));
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "qubix24d: %s\nTry 'qubix24d --help'.\n", qPrintable(options.error));
    return 2;
  }
  if (options.help) {
    std::fputs(options.helpText.toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (options.oscHelp) {
    std::fputs(osc::OscHelpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("qubix24d %s\n", QUBIX_VERSION);
    return 0;
  }

  // --show-token reads the token file where the service with the same options keeps it, and
  // never makes one.
  const std::filesystem::path root = options.dataRoot.toStdString();
  if (options.showToken) {
    const TokenFile shown = LoadOrCreateTokens(root, TokenFileUse::Show);
    if (!shown.tokens) {
      std::fprintf(stderr, "qubix24d: %s\n", shown.error.c_str());
      return 1;
    }
    std::printf("view    %s\ncontrol %s\n", shown.tokens->view.c_str(),
                shown.tokens->control.c_str());
    return 0;
  }
  // The tokens live in the service's folder, made on first start for its owner alone.
  if (std::string error; !MakePrivateDirectories(root, error)) {
    std::fprintf(stderr, "qubix24d: %s\n", error.c_str());
    return 1;
  }
  const TokenFile tokens = LoadOrCreateTokens(root);
  if (!tokens.tokens) {
    std::fprintf(stderr, "qubix24d: %s\n", tokens.error.c_str());
    return 1;
  }

  // SIGINT and SIGTERM end the event loop; the buses then close as the window closes them.
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
  }
  QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

  std::vector<std::unique_ptr<ServiceBus>> owned;
  std::vector<ServiceBus*> buses;
  for (const BusOption& b : options.buses) {
    BusConfig config{b.name, b.link, b.dataDir.toStdString(), {}};
    if (!options.trace.isEmpty()) {
      const std::string path =
          options.trace.toStdString() + (options.buses.size() > 1 ? "." + b.name : std::string());
      config.makeAdapter = [link = b.link, path] {
        std::string error;
        auto made = qubix::compose::makeAdapterWithClock(link, error);
        if (made.adapter)
          made.adapter = qubix::compose::traceAdapter(std::move(made.adapter), path, error);
        if (!made.adapter) std::fprintf(stderr, "qubix24d: --trace: %s\n", error.c_str());
        return made;
      };
    }
    owned.push_back(std::make_unique<ServiceBus>(std::move(config)));
    buses.push_back(owned.back().get());
    std::printf("qubix24d: bus %s on %s, data directory %s\n", b.name.c_str(),
                b.link.empty() ? "the default adapter" : b.link.c_str(), qPrintable(b.dataDir));
  }
  ApiInfo info;
  info.tls = !options.tlsCert.isEmpty();
  if (!info.tls && !IsLoopback(options.listenAddress))
    info.warning =
        "listening off loopback without TLS: tokens and values cross the network "
        "readable";
  Api api(buses, info);
  EventHub hub(buses);
  AccessControl access(*tokens.tokens, IsLoopback(options.listenAddress), info.tls);
  HttpServer server(ServeHttp(api, access,
                              {web::ServePage,
                               [&buses](const HttpRequest& request) {
                                 return web::ServeSlotPicture(request, buses);
                               }}),
                    ServeUpgrade(access));
  QObject::connect(&server, &HttpServer::webSocketConnected, &hub,
                   [&hub](QWebSocket* socket, const ClientInfo&) { hub.addClient(socket); });
  QString error;
  const QString host = options.listenAddress.protocol() == QAbstractSocket::IPv6Protocol
                           ? QLatin1Char('[') + options.listenAddress.toString() + QLatin1Char(']')
                           : options.listenAddress.toString();
  if (!server.listen(options.listenAddress, options.port, options.tlsCert, options.tlsKey,
                     &error)) {
    std::fprintf(stderr, "qubix24d: cannot serve on %s:%u: %s\n", qPrintable(host), options.port,
                 qPrintable(error));
    return 1;
  }
  if (!info.warning.empty()) std::fprintf(stderr, "qubix24d: warning: %s\n", info.warning.c_str());
  std::printf("qubix24d: listening on %s://%s:%u/api/v1/\n", info.tls ? "https" : "http",
              qPrintable(host), server.port());
  // OSC: every message becomes an API request with control access (the allowed senders are
  // the authorisation); subscribers hear every bus's events.
  osc::OscServer oscServer(
      [&api](const HttpRequest& request, std::function<void(HttpResponse)> respond) {
        api.handle(request, Access::Control, std::move(respond));
      });
  oscServer.setPasscode(options.oscPasscode.toStdString());
  oscServer.setSpaceSource([&buses] {
    std::vector<osc::OscSpaceBus> space;
    for (ServiceBus* bus : buses) {
      osc::OscSpaceBus& b = space.emplace_back();
      b.name = bus->name();
      for (const auto& v : bus->summary().machines) {
        const QJsonObject m = v.toObject();
        b.machines.push_back({m.value(QStringLiteral("slot")).toInt(),
                              m.value(QStringLiteral("id")).toString().toStdString()});
      }
    }
    return space;
  });
  // What a new subscriber hears first: each bus's state, its slots and every machine's values
  // the service holds.
  oscServer.setStateSource([&buses] {
    std::vector<QJsonObject> events;
    for (ServiceBus* bus : buses) {
      const QString name = QString::fromStdString(bus->name());
      const ServiceBus::Summary summary = bus->summary();
      events.push_back({{"type", "bus"}, {"bus", name}, {"state", BusStateName(summary.state)}});
      for (const auto& v : summary.machines) {
        const QJsonObject m = v.toObject();
        events.push_back({{"type", "slot"},
                          {"bus", name},
                          {"slot", m.value(QStringLiteral("slot"))},
                          {"machine", m}});
        const std::string id = m.value(QStringLiteral("id")).toString().toStdString();
        if (auto values = bus->cachedMachine(id))
          events.push_back({{"type", "values"},
                            {"bus", name},
                            {"machine", m.value(QStringLiteral("id"))},
                            {"state", *values}});
      }
    }
    return events;
  });
  // What GET /api/v1/buses says of the service itself: its listeners and what OSC dropped.
  api.setStatusSource([&server, &oscServer] {
    return QJsonObject{
        {"webSockets", server.openWebSockets()},
        {"osc", QJsonObject{{"subscribers", oscServer.subscribers()},
                            {"dropped", oscServer.dropped()},
                            {"rateLimited", static_cast<double>(oscServer.rateLimited())}}}};
  });
  if (options.oscPort >= 0) {
    std::vector<osc::Subnet> allowed;
    if (!osc::ParseSubnets(options.oscAllow, allowed, &error) ||
        !oscServer.listen(static_cast<quint16>(options.oscPort), allowed, &error)) {
      std::fprintf(stderr, "qubix24d: %s\n", qPrintable(error));
      return 1;
    }
    for (ServiceBus* bus : buses)
      QObject::connect(bus, &ServiceBus::busEvent, &oscServer, &osc::OscServer::publish);
    std::printf("qubix24d: OSC on udp port %u\n", oscServer.port());
  }
  std::fflush(stdout);
  const int status = app.exec();
  // Down in the order nothing is left pointing at what went before it: no new client, no
  // client, no level watch, no OSC, then the buses (each finishes its operation and closes).
  server.close();
  hub.shutdown();
  oscServer.close();
  owned.clear();
  return status;
}
