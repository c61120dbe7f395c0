// An HttpServer on 127.0.0.1 in a thread of its own with its event loop, and plain blocking
// sockets as its clients, so that a test can send exactly the bytes it means and wait for the
// answer without turning the server's event loop itself. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QThread>
#include <QWebSocket>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "service/http/HttpServer.h"

namespace qubix::test {

// A client socket to 127.0.0.1:port (or another loopback address as the source).
class RawClient {
 public:
  explicit RawClient(quint16 port, const char* from = nullptr) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (from != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &local.sin_addr);
      ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  // True when every byte went out (false once the server has closed and reset).
  bool send(std::string_view bytes) {
    while (!bytes.empty()) {
      const auto n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // Reads until `done` holds for what has come, the server closes or 5 s pass.
  template <typename Done>
  std::string readUntil(Done done, int waitMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!done(received_) && !closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[16384];
      const auto n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      received_.append(buf, static_cast<std::size_t>(n));
    }
    return received_;
  }
  // The first `count` complete responses (heads and Content-Length bodies).
  std::string readResponses(int count) {
    return readUntil([count](const std::string& s) { return CountResponses(s) >= count; });
  }
  // Reads until the server closes (or 5 s pass); true when it closed.
  bool readToEnd() {
    readUntil([](const std::string&) { return false; });
    return closed_;
  }
  const std::string& received() const { return received_; }

  static int CountResponses(std::string_view s) {
    int count = 0;
    for (;;) {
      const auto end = s.find("\r\n\r\n");
      if (end == std::string_view::npos) return count;
      std::size_t length = 0;
      const auto cl = s.substr(0, end).find("Content-Length: ");
      if (cl != std::string_view::npos) length = std::stoul(std::string(s.substr(cl + 16, 12)));
      if (s.size() < end + 4 + length) return count;
      ++count;
      s.remove_prefix(end + 4 + length);
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

// The server in its own thread; made and destroyed there.
class ServerRig {
 public:
  explicit ServerRig(service::HttpServer::Handler handler,
                     service::HttpServer::UpgradeCheck upgradeCheck = {},
                     service::ServerLimits limits = {}, QString tlsCert = {}, QString tlsKey = {}) {
    App();
    thread_.start();
    context_.moveToThread(&thread_);
    QMetaObject::invokeMethod(
        &context_,
        [&] {
          server_ = new service::HttpServer(std::move(handler), std::move(upgradeCheck), limits);
          QObject::connect(server_, &service::HttpServer::webSocketConnected, server_,
                           [this](QWebSocket*, service::ClientInfo) { ++webSockets_; });
          listening_ = server_->listen(QHostAddress::LocalHost, 0, tlsCert, tlsKey, &error_);
          port_ = server_->port();
        },
        Qt::BlockingQueuedConnection);
  }
  ~ServerRig() {
    QMetaObject::invokeMethod(
        &context_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
  }

  bool listening() const { return listening_; }
  const QString& error() const { return error_; }
  quint16 port() const { return port_; }
  int webSockets() const { return webSockets_; }
  // Runs fn in the server's thread and waits for it.
  void run(const std::function<void()>& fn) {
    QMetaObject::invokeMethod(&context_, fn, Qt::BlockingQueuedConnection);
  }
  int openConnections() {
    int n = 0;
    QMetaObject::invokeMethod(
        &context_, [&] { n = server_->openConnections(); }, Qt::BlockingQueuedConnection);
    return n;
  }

 private:
  static void App() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
  }

  QThread thread_;
  QObject context_;
  service::HttpServer* server_ = nullptr;
  bool listening_ = false;
  QString error_;
  quint16 port_ = 0;
  std::atomic<int> webSockets_{0};
};

}  // namespace qubix::test
