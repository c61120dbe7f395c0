#include "app/RunningProgram.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

namespace qubix::app {

namespace {
const QByteArray kRaise = QByteArrayLiteral("raise\n");
const QByteArray kRaised = QByteArrayLiteral("raised\n");
}  // namespace

QString RunningProgramName(const QString& dataDir) {
  const QString canonical = QFileInfo(dataDir).canonicalFilePath();
  const QByteArray hash = QCryptographicHash::hash(
                              (canonical.isEmpty() ? QDir::cleanPath(dataDir) : canonical).toUtf8(),
                              QCryptographicHash::Sha256)
                              .toHex()
                              .left(24);
  return QStringLiteral("qubix24-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

bool AskRunningProgramToRaise(const QString& dataDir, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(RunningProgramName(dataDir));
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kRaise);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  QByteArray reply;
  while (!reply.contains('\n') && reply.size() < 64) {
    if (!socket.waitForReadyRead(timeoutMs)) return false;
    reply += socket.readAll();
  }
  return reply == kRaised;
}

RunningProgramServer::RunningProgramServer(const QString& dataDir, std::function<void()> raise,
                                           QObject* parent)
    : QObject(parent), raise_(std::move(raise)) {
  const QString name = RunningProgramName(dataDir);
  // Only this user's programs may ask.
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  // The caller holds the data directory's lock: a socket of that name is left by a program
  // that ended without removing it.
  if (!server_.listen(name)) {
    QLocalServer::removeServer(name);
    server_.listen(name);
  }
  QObject::connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        // A request is one short line; anything longer or different is dropped.
        if (socket->bytesAvailable() > 64) {
          socket->abort();
          return;
        }
        if (!socket->canReadLine()) return;
        if (socket->readLine() != kRaise) {
          socket->abort();
          return;
        }
        raise_();
        socket->write(kRaised);
        socket->flush();
        socket->disconnectFromServer();
      });
    }
  });
}

}  // namespace qubix::app
