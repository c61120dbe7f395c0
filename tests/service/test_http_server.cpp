// The HTTP server over real sockets on 127.0.0.1: order on a kept-alive connection, its limits
// (head, body, connections, idle time) and the WebSocket upgrade handed over or refused.
#include <gtest/gtest.h>

#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ServerRig.h"
#include "support/CaseNames.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

using namespace qubix;
using service::HttpRequest;
using service::HttpResponse;
using test::RawClient;
using test::ServerRig;

namespace {

// Answers with the path and the body; "/slow" only after the others could have overtaken it.
void Echo(const HttpRequest& request, const service::ClientInfo&,
          service::HttpServer::Respond respond) {
  HttpResponse response;
  response.contentType = "text/plain";
  response.body = request.path + ":" + request.body;
  if (request.path == "/slow")
    QTimer::singleShot(50, [respond, response] { respond(response); });
  else
    respond(response);
}

std::string Get(std::string_view path, std::string_view extra = "") {
  return "GET " + std::string(path) + " HTTP/1.1\r\nHost: x\r\n" + std::string(extra) + "\r\n";
}

TEST(HttpServer, PipelinedRequestsAreAnsweredInOrderOnOneConnection) {
  ServerRig rig(Echo);
  ASSERT_TRUE(rig.listening());
  RawClient client(rig.port());
  ASSERT_TRUE(client.send(Get("/slow") + Get("/b") +
                          "POST /c HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\nbody"));
  const auto got = client.readResponses(3);
  ASSERT_EQ(RawClient::CountResponses(got), 3) << got;
  const auto a = got.find("/slow:"), b = got.find("/b:"), c = got.find("/c:body");
  EXPECT_TRUE(a < b && b < c && c != std::string::npos) << got;
  EXPECT_EQ(got.find("Connection: close"), std::string::npos);
}

TEST(HttpServer, AnAnswerAfterTheClientLeftIsDropped) {
  service::HttpServer::Respond held;
  std::atomic<bool> asked{false};
  ServerRig rig([&](const HttpRequest&, const service::ClientInfo&, auto respond) {
    held = respond;
    asked = true;
  });
  {
    RawClient client(rig.port());
    client.send(Get("/x"));
    for (int i = 0; i < 500 && !asked; ++i) QThread::msleep(10);
  }
  for (int i = 0; i < 500 && rig.openConnections() != 0; ++i) QThread::msleep(10);
  ASSERT_TRUE(asked);
  ASSERT_EQ(rig.openConnections(), 0);
  rig.run([&] { held(service::ErrorResponse(504, "late", "late")); });
  RawClient next(rig.port());  // the server still serves, and nothing late reaches others
  ASSERT_TRUE(next.send(Get("/y")));
  EXPECT_EQ(next.readUntil([](const std::string&) { return false; }, 100), "");
}

struct LimitCase {
  std::string name;
  std::string request;
  std::string status;  // the status line's beginning
  bool closes;
};

class ServerLimitCases : public testing::TestWithParam<LimitCase> {};

TEST_P(ServerLimitCases, AnswerAndConnection) {
  ServerRig rig(Echo);
  RawClient client(rig.port());
  ASSERT_TRUE(client.send(GetParam().request));
  const auto got = client.readResponses(1);
  EXPECT_EQ(got.substr(0, GetParam().status.size()), GetParam().status) << got;
  if (GetParam().closes) {
    EXPECT_TRUE(client.readToEnd());
  }
}

INSTANTIATE_TEST_SUITE_P(
    HttpServer, ServerLimitCases,
    testing::Values(
        LimitCase{"kept_alive", Get("/a"), "HTTP/1.1 200", false},
        LimitCase{"close_asked", Get("/a", "Connection: close\r\n"), "HTTP/1.1 200", true},
        LimitCase{"head_over_16k", Get("/a", "X-Fill: " + std::string(17000, 'a') + "\r\n"),
                  "HTTP/1.1 431", true},
        // Only the head is sent: the refusal comes before any of the body.
        LimitCase{"body_of_1MiB", "PUT /a HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n",
                  "HTTP/1.1 413", true},
        LimitCase{"chunked", "POST /a HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
                  "HTTP/1.1 411", true},
        LimitCase{
            "expect_continue",
            "POST /a HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n",
            "HTTP/1.1 100 Continue", false}),
    test::ByNameField());

TEST(HttpServer, TheBodyOfARefusedRequestIsDroppedNotKept) {
  ServerRig rig(Echo);
  RawClient client(rig.port());
  ASSERT_TRUE(client.send("PUT /a HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n"));
  const auto got = client.readResponses(1);
  ASSERT_EQ(got.substr(0, 12), "HTTP/1.1 413") << got;
  client.send(std::string(1 << 20, 'x'));  // read and dropped, or refused once closed
  EXPECT_TRUE(client.readToEnd());
  EXPECT_EQ(RawClient::CountResponses(client.received()), 1);
}

TEST(HttpServer, TheConnectionOverTheLimitGets503AndTheOthersStay) {
  ServerRig rig(Echo);
  std::vector<std::unique_ptr<RawClient>> clients;
  const char* from[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"};
  for (int i = 0; i < 64; ++i) {  // 16 from each address: its share
    clients.push_back(std::make_unique<RawClient>(rig.port(), from[i / 16]));
    ASSERT_TRUE(clients.back()->send(Get("/a")));
    ASSERT_EQ(RawClient::CountResponses(clients.back()->readResponses(1)), 1) << i;
  }
  RawClient extra(rig.port());
  EXPECT_EQ(extra.readResponses(1).substr(0, 12), "HTTP/1.1 503");
  EXPECT_TRUE(extra.readToEnd());
  ASSERT_TRUE(clients.front()->send(Get("/again")));
  EXPECT_NE(clients.front()->readResponses(2).find("/again:"), std::string::npos);
}

TEST(HttpServer, RefusalsBeyondTheirOwnLimitAreCutUnanswered) {
  service::ServerLimits limits;
  limits.maxConnections = 1;
  limits.maxRefusing = 2;
  ServerRig rig(Echo, {}, limits);
  RawClient served(rig.port());
  ASSERT_TRUE(served.send(Get("/a")));
  ASSERT_EQ(RawClient::CountResponses(served.readResponses(1)), 1);
  RawClient first(rig.port()), second(rig.port());
  EXPECT_EQ(first.readResponses(1).substr(0, 12), "HTTP/1.1 503");
  EXPECT_EQ(second.readResponses(1).substr(0, 12), "HTTP/1.1 503");
  RawClient third(rig.port());  // while the two are still being told
  EXPECT_TRUE(third.readToEnd());
  EXPECT_EQ(third.received(), "");
}

TEST(HttpServer, AClientThatSendsNothingIsClosedWhenIdle) {
  service::ServerLimits limits;
  limits.idleMs = 100;
  ServerRig rig(Echo, {}, limits);
  RawClient silent(rig.port());
  RawClient halfway(rig.port());
  halfway.send("GET /a HTTP/1.1\r\nHo");
  EXPECT_TRUE(silent.readToEnd());
  EXPECT_TRUE(halfway.readToEnd());
  EXPECT_EQ(silent.received(), "");
}

const std::string kUpgrade =
    "Host: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

TEST(HttpServer, AnUpgradeIsHandedOverOrRefusedByTheCheck) {
  ServerRig rig(Echo, [](const HttpRequest& request, const service::ClientInfo&) {
    return request.path == "/events"
               ? std::nullopt
               : std::optional(service::ErrorResponse(403, "forbidden", "no"));
  });
  RawClient accepted(rig.port());
  ASSERT_TRUE(accepted.send("GET /events HTTP/1.1\r\n" + kUpgrade));
  const auto yes = accepted.readUntil(
      [](const std::string& s) { return s.find("\r\n\r\n") != std::string::npos; });
  EXPECT_EQ(yes.substr(0, 12), "HTTP/1.1 101") << yes;
  EXPECT_NE(yes.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="), std::string::npos) << yes;
  for (int i = 0; i < 100 && rig.webSockets() == 0; ++i) QThread::msleep(10);
  EXPECT_EQ(rig.webSockets(), 1);

  RawClient refused(rig.port());
  ASSERT_TRUE(refused.send("GET /other HTTP/1.1\r\n" + kUpgrade));
  EXPECT_EQ(refused.readResponses(1).substr(0, 12), "HTTP/1.1 403");
  EXPECT_TRUE(refused.readToEnd());
  EXPECT_EQ(rig.webSockets(), 1);
}

const QString kData = QStringLiteral(QUBIX_TEST_DATA "/data/");

TEST(HttpServer, WithTlsFilesItAnswersOverTls) {
  ServerRig rig(Echo, {}, {}, kData + "tls-cert.pem", kData + "tls-key.pem");
  ASSERT_TRUE(rig.listening()) << rig.error().toStdString();
  QSslSocket client;
  client.setPeerVerifyMode(QSslSocket::VerifyNone);
  client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), rig.port());
  ASSERT_TRUE(client.waitForEncrypted(5000)) << client.errorString().toStdString();
  client.write(QByteArray::fromStdString(Get("/tls", "Connection: close\r\n")));
  QByteArray got;
  for (int i = 0; i < 50 && !got.contains("/tls:"); ++i)
    if (client.waitForReadyRead(100)) got += client.readAll();
  EXPECT_TRUE(got.startsWith("HTTP/1.1 200")) << got.toStdString();
  EXPECT_TRUE(got.contains("/tls:"));
}

// Keys and certificates made for the test by the openssl command; empty when it is missing.
class TlsFiles {
 public:
  TlsFiles() {
    const std::string d = dir_.path().string() + "/";
    const std::string key = (kData + "tls-key.pem").toStdString();
    for (const std::string& args :
         {"ecparam -name prime256v1 -genkey -noout -out " + d + "other-ec.pem",
          "genpkey -algorithm ed25519 -out " + d + "ed25519.pem",
          "pkey -in " + key + " -aes256 -passout pass:secret -out " + d + "passphrase.pem",
          "req -x509 -newkey rsa:2048 -nodes -keyout " + d + "rsa-key.pem -out " + d +
              "rsa-cert.pem -days 2 -subj /CN=localhost"})
      if (qubix::test::RunCommand("openssl " + args).exitStatus != 0) return;
    ready_ = true;
  }
  bool ready() const { return ready_; }
  QString operator()(const char* name) const {
    return QString::fromStdString(dir_.path().string()) + QLatin1Char('/') + name;
  }

 private:
  qubix::test::TempDir dir_;
  bool ready_ = false;
};

struct TlsFileCase {
  std::string name;
  std::function<QString(const TlsFiles&)> cert, key;
  std::string error;  // a part of the reason; empty: the files load
};
class TlsFileCases : public testing::TestWithParam<TlsFileCase> {};

TEST_P(TlsFileCases, AreRefusedWithTheReasonOrLoad) {
  static const TlsFiles files;
  if (!files.ready()) GTEST_SKIP() << "no openssl command to make keys with";
  const auto& c = GetParam();
  ServerRig rig(Echo, {}, {}, c.cert(files), c.key(files));
  EXPECT_EQ(rig.listening(), c.error.empty()) << rig.error().toStdString();
  EXPECT_TRUE(rig.error().contains(QString::fromStdString(c.error))) << rig.error().toStdString();
}

const auto kCert = [](const TlsFiles&) { return kData + "tls-cert.pem"; };
const auto kKey = [](const TlsFiles&) { return kData + "tls-key.pem"; };
auto Made(const char* name) {
  return [name](const TlsFiles& files) { return files(name); };
}

INSTANTIATE_TEST_SUITE_P(
    HttpServer, TlsFileCases,
    testing::Values(
        TlsFileCase{"missing_certificate", Made("nothere.pem"), kKey,
                    "the certificate file is missing"},
        TlsFileCase{"missing_key", kCert, Made("nothere.pem"), "the key file is missing"},
        TlsFileCase{"swapped", kKey, kCert, "no PEM certificate"},
        TlsFileCase{"key_of_another_certificate", kCert, Made("other-ec.pem"),
                    "is not the key of the certificate"},
        TlsFileCase{"rsa_certificate_ec_key", Made("rsa-cert.pem"), kKey,
                    "is not the key of the certificate"},
        TlsFileCase{"passphrase", kCert, Made("passphrase.pem"), "protected by a passphrase"},
        TlsFileCase{"ed25519", kCert, Made("ed25519.pem"), "an Ed25519 key"},
        TlsFileCase{"rsa_pair", Made("rsa-cert.pem"), Made("rsa-key.pem"), ""}),
    qubix::test::ByNameField());

// TLS 1.2 only with an ephemeral key exchange and an AEAD cipher; TLS 1.3 as it comes. Every
// answer under TLS asks the browser to stay on HTTPS.
struct SuiteCase {
  std::string name;
  QSsl::SslProtocol protocol;
  const char* cipher;  // nullptr: the client's own choice
  bool accepted;
};
class SuiteCases : public testing::TestWithParam<SuiteCase> {};

TEST_P(SuiteCases, HandshakeAndHsts) {
  const auto& c = GetParam();
  ServerRig rig(Echo, {}, {}, kData + "tls-cert.pem", kData + "tls-key.pem");
  ASSERT_TRUE(rig.listening()) << rig.error().toStdString();
  QSslSocket client;
  QSslConfiguration config = client.sslConfiguration();
  config.setProtocol(c.protocol);
  if (c.cipher != nullptr) config.setCiphers(QString::fromLatin1(c.cipher));
  if (c.cipher != nullptr && config.ciphers().isEmpty()) GTEST_SKIP() << "no " << c.cipher;
  config.setPeerVerifyMode(QSslSocket::VerifyNone);
  client.setSslConfiguration(config);
  client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), rig.port());
  ASSERT_EQ(client.waitForEncrypted(5000), c.accepted) << client.errorString().toStdString();
  if (!c.accepted) return;
  client.write(QByteArray::fromStdString(Get("/tls", "Connection: close\r\n")));
  QByteArray got;
  for (int i = 0; i < 50 && !got.contains("/tls:"); ++i)
    if (client.waitForReadyRead(100)) got += client.readAll();
  EXPECT_TRUE(got.contains("\r\nStrict-Transport-Security: max-age=31536000\r\n"))
      << got.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    HttpServer, SuiteCases,
    testing::Values(
        SuiteCase{"tls12_ecdhe_aes_gcm", QSsl::TlsV1_2, "ECDHE-ECDSA-AES128-GCM-SHA256", true},
        SuiteCase{"tls12_ecdhe_chacha20", QSsl::TlsV1_2, "ECDHE-ECDSA-CHACHA20-POLY1305", true},
        SuiteCase{"tls12_ecdhe_aes_cbc", QSsl::TlsV1_2, "ECDHE-ECDSA-AES128-SHA256", false},
        SuiteCase{"tls12_ecdhe_aes_cbc_sha1", QSsl::TlsV1_2, "ECDHE-ECDSA-AES256-SHA", false},
        SuiteCase{"tls13", QSsl::TlsV1_3, nullptr, true}),
    qubix::test::ByNameField());

}  // namespace
