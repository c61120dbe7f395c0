// One window per data directory: the program that holds a data directory listens on a local
// socket named after it, and a second start on the same directory (the menu entry clicked
// again) asks that one to raise its window instead of showing the lock's error. A lock held by
// anything else (qubix24ctl, a service, another user) has no such socket, and the second start
// reports the lock as before.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>

namespace qubix::app {

// The socket's name for a data directory: this user's, and the directory's canonical path as a
// hash, so that two directories never share one.
QString RunningProgramName(const QString& dataDir);

// Asks the program on dataDir to raise its window; true when it answered that it did (within
// timeoutMs).
bool AskRunningProgramToRaise(const QString& dataDir, int timeoutMs = 2000);

// Held by the program that holds dataDir's lock: each request calls raise and is answered.
class RunningProgramServer : public QObject {
 public:
  RunningProgramServer(const QString& dataDir, std::function<void()> raise,
                       QObject* parent = nullptr);
  // False when the socket could not be made (then a second start reports the lock).
  bool listening() const { return server_.isListening(); }

 private:
  QLocalServer server_;
  std::function<void()> raise_;
};

}  // namespace qubix::app
