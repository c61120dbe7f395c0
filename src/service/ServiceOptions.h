// qubix24d's command line and configuration file: the buses (--bus NAME=URI, repeatable), where
// their data directories are (--data-dir DIR: one folder per bus), the address to listen on,
// TLS, and --show-token. A QSettings INI file (--config FILE) may give the same settings; the
// command line wins.
#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace qubix::service {

inline constexpr quint16 kDefaultPort = 8424;

struct BusOption {
  std::string name;
  std::string link;
  QString dataDir;
};

struct ServiceOptions {
  std::vector<BusOption> buses;
  QString dataRoot;  // where the token file lives
  QHostAddress listenAddress{QHostAddress::LocalHost};
  quint16 port = kDefaultPort;
  QString tlsCert, tlsKey;
  bool showToken = false;
  QString trace;         // --trace FILE: every byte on the bus (FILE.NAME for each bus
                         // when there are several)
  int oscPort = -1;      // --osc PORT, -1 without
  QStringList oscAllow;  // --osc-allow CIDR (repeatable, or comma-separated)
  bool oscHelp = false;  // --osc-help
  QString oscPasscode;   // --osc-passcode TEXT, empty without
  bool help = false, version = false;
  QString error;  // not empty: the command line or the file was not understood
  QString helpText;
};

// args[0] is the program name; userDataDir is the window's per-user data directory.
ServiceOptions ParseServiceOptions(const QStringList& args, const QString& userDataDir);

// "127.0.0.1:8424", "[::1]:8424", "0.0.0.0:80"; false when it is not one.
bool ParseListen(const QString& text, QHostAddress& address, quint16& port);

}  // namespace qubix::service
