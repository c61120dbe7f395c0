#include "service/ServiceOptions.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include "files/DataDir.h"
#include "link/backends/net/NetAddress.h"

namespace qubix::service {

bool ParseListen(const QString& text, QHostAddress& address, quint16& port) {
  // Read as a device server's address is; the host must be a numeric address here.
  link::backends::NetAddress parsed;
  std::string error;
  if (!link::backends::parseNetAddress(text.toStdString(), parsed, error, /*allowZeroPort=*/true))
    return false;
  if (parsed.kind == link::backends::NetHostKind::Name ||
      !address.setAddress(QString::fromStdString(parsed.host)))
    return false;
  port = static_cast<quint16>(std::stoi(parsed.port));
  return true;
}

namespace {

bool ParseBus(const QString& text, BusOption& bus) {
  static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_-]{1,32}$"));
  const qsizetype eq = text.indexOf(QLatin1Char('='));
  if (eq <= 0 || !name.match(text.left(eq)).hasMatch()) return false;
  bus.name = text.left(eq).toStdString();
  bus.link = text.mid(eq + 1).toStdString();
  return true;
}

}  // namespace

ServiceOptions ParseServiceOptions(const QStringList& args, const QString& userDataDir) {
  ServiceOptions o;
  QCommandLineParser p;
  p.setApplicationDescription(
      QStringLiteral("The loudspeaker processors' service: an HTTP and WebSocket API."));
  const QCommandLineOption busOpt(
      QStringLiteral("bus"),
      QStringLiteral("A bus NAME on the adapter URI (sim:, sim:virtual, serial:[DEVICE], ftdi:, "
                     "d2xx:, tcp:HOST:PORT, rfc2217:HOST:PORT); repeatable. Default: main on "
                     "the default adapter."),
      QStringLiteral("NAME=URI"));
  const QCommandLineOption dataOpt(
      QStringLiteral("data-dir"),
      QStringLiteral("One data directory per bus below DIR (DIR/NAME), made if missing."),
      QStringLiteral("DIR"));
  const QCommandLineOption configOpt(QStringLiteral("config"),
                                     QStringLiteral("Settings from an INI file; options win."),
                                     QStringLiteral("FILE"));
  const QCommandLineOption listenOpt(QStringLiteral("listen"),
                                     QStringLiteral("Where to listen (default 127.0.0.1:8424)."),
                                     QStringLiteral("ADDR:PORT"));
  const QCommandLineOption certOpt(
      QStringLiteral("tls-cert"), QStringLiteral("TLS certificate (PEM)."), QStringLiteral("FILE"));
  const QCommandLineOption keyOpt(QStringLiteral("tls-key"), QStringLiteral("TLS key (PEM)."),
                                  QStringLiteral("FILE"));
  const QCommandLineOption tokenOpt(QStringLiteral("show-token"),
                                    QStringLiteral("Print the access tokens and exit."));
  const QCommandLineOption versionOpt(QStringLiteral("version"),
                                      QStringLiteral("Print the version and exit."));
  const QCommandLineOption helpOpt(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                   QStringLiteral("Print this help and exit."));
  const QCommandLineOption traceOpt(
      QStringLiteral("trace"), QStringLiteral("Write every byte on the bus to FILE (JSON lines)."),
      QStringLiteral("FILE"));
  const QCommandLineOption oscOpt(QStringLiteral("osc"),
                                  QStringLiteral("Listen for OSC on this UDP port."),
                                  QStringLiteral("PORT"));
  const QCommandLineOption oscAllowOpt(
      QStringLiteral("osc-allow"),
      QStringLiteral("OSC senders allowed (ADDRESS/BITS, repeatable); default loopback only."),
      QStringLiteral("CIDR"));
  const QCommandLineOption oscHelpOpt(QStringLiteral("osc-help"),
                                      QStringLiteral("Print the OSC addresses and exit."));
  const QCommandLineOption oscPassOpt(
      QStringLiteral("osc-passcode"),
      QStringLiteral("OSC senders first send /qubix24/connect with this passcode."),
      QStringLiteral("TEXT"));
  p.addOptions({busOpt, dataOpt, configOpt, listenOpt, certOpt, keyOpt, tokenOpt, versionOpt,
                helpOpt, traceOpt, oscOpt, oscAllowOpt, oscHelpOpt, oscPassOpt});
  o.helpText = p.helpText();
  if (!p.parse(args)) {
    o.error = p.errorText();
    return o;
  }
  o.help = p.isSet(helpOpt);
  o.version = p.isSet(versionOpt);
  o.showToken = p.isSet(tokenOpt);
  o.trace = p.value(traceOpt);
  o.oscAllow = p.values(oscAllowOpt);
  o.oscHelp = p.isSet(oscHelpOpt);
  o.oscPasscode = p.value(oscPassOpt);
  if (p.isSet(oscPassOpt) && o.oscPasscode.isEmpty()) {
    o.error = QStringLiteral("--osc-passcode: an empty passcode admits nobody");
    return o;
  }
  if (p.isSet(oscOpt)) {
    bool ok = false;
    o.oscPort = p.value(oscOpt).toInt(&ok);
    if (!ok || o.oscPort < 0 || o.oscPort > 65535) {
      o.error = QStringLiteral("--osc %1: a UDP port 0 … 65535").arg(p.value(oscOpt));
      return o;
    }
  }
  if (!p.positionalArguments().isEmpty()) {
    o.error = QStringLiteral("unexpected argument %1").arg(p.positionalArguments().first());
    return o;
  }

  // The file first; every option given on the command line replaces its setting.
  QStringList buses;
  QString dataRoot, listen, cert, key;
  if (p.isSet(configOpt)) {
    const QString file = p.value(configOpt);
    if (!QFileInfo(file).isReadable()) {
      o.error = QStringLiteral("--config %1: cannot be read").arg(file);
      return o;
    }
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
      o.error = QStringLiteral("--config %1: not an INI file").arg(file);
      return o;
    }
    ini.beginGroup(QStringLiteral("buses"));
    for (const QString& name : ini.childKeys())
      buses << name + QLatin1Char('=') + ini.value(name).toString();
    ini.endGroup();
    dataRoot = ini.value(QStringLiteral("service/data-dir")).toString();
    listen = ini.value(QStringLiteral("service/listen")).toString();
    cert = ini.value(QStringLiteral("service/tls-cert")).toString();
    key = ini.value(QStringLiteral("service/tls-key")).toString();
  }
  if (p.isSet(busOpt)) buses = p.values(busOpt);
  if (p.isSet(dataOpt)) dataRoot = p.value(dataOpt);
  if (p.isSet(listenOpt)) listen = p.value(listenOpt);
  if (p.isSet(certOpt)) cert = p.value(certOpt);
  if (p.isSet(keyOpt)) key = p.value(keyOpt);

  if (buses.isEmpty()) buses << QStringLiteral("main=");
  for (const QString& text : buses) {
    BusOption bus;
    if (!ParseBus(text, bus)) {
      o.error =
          QStringLiteral("--bus %1: NAME=URI with a name of letters, digits, - and _").arg(text);
      return o;
    }
    for (const BusOption& other : o.buses)
      if (other.name == bus.name) {
        o.error = QStringLiteral("--bus %1: that name is given twice").arg(text);
        return o;
      }
    o.buses.push_back(bus);
  }
  // The service's own folder, which holds its one token file whatever its buses (so that
  // --show-token finds it with the same options or none): --data-dir, or else the window's
  // per-user data directory. Without --data-dir the bus "main" uses that directory too (the
  // simulator's beside it on a simulated bus), so that the window and the service never work
  // on one directory at once unnoticed; other buses get one beside it.
  o.dataRoot = dataRoot.isEmpty() ? userDataDir : dataRoot;
  for (BusOption& bus : o.buses) {
    const QString name = QString::fromStdString(bus.name);
    if (!dataRoot.isEmpty()) {
      bus.dataDir = dataRoot + QLatin1Char('/') + name;
    } else {
      const QString base =
          files::IsSimulatedLink(bus.link)
              ? QString::fromStdString(
                    files::SimulatorUserDataDir(userDataDir.toStdString()).string())
              : userDataDir;
      bus.dataDir = bus.name == "main" ? base : base + QLatin1Char('-') + name;
    }
  }
  if (!listen.isEmpty() && !ParseListen(listen, o.listenAddress, o.port)) {
    o.error = QStringLiteral("--listen %1: ADDR:PORT is wanted").arg(listen);
    return o;
  }
  if (cert.isEmpty() != key.isEmpty()) {
    o.error = QStringLiteral("--tls-cert and --tls-key go together");
    return o;
  }
  o.tlsCert = cert;
  o.tlsKey = key;
  return o;
}

}  // namespace qubix::service
