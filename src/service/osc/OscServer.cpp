#include "service/osc/OscServer.h"

#include <lo/lo_lowlevel.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QPointer>
#include <QUdpSocket>
#include <cstring>
#include <memory>
#include <variant>

namespace qubix::service::osc {

namespace {

constexpr int kMaxBundleDepth = 4;
constexpr qint64 kMaxDatagram = 8192;

struct MessageDeleter {
  void operator()(lo_message m) const { lo_message_free(m); }
};
using Message = std::unique_ptr<std::remove_pointer_t<lo_message>, MessageDeleter>;

OscArg ToArg(char type, const lo_arg* a) {
  OscArg arg{type, 0.0, {}};
  switch (type) {
    case LO_INT32:
      arg.number = a->i;
      break;
    case LO_INT64:
      arg.number = static_cast<double>(a->h);
      break;
    case LO_FLOAT:
      arg.number = a->f;
      break;
    case LO_DOUBLE:
      arg.number = a->d;
      break;
    case LO_TRUE:
      arg.number = 1.0;
      break;
    case LO_STRING:
    case LO_SYMBOL:
      arg.text = &a->s;
      break;
    default:
      break;
  }
  return arg;
}

// One OSC message to send: its address and arguments.
struct Out {
  std::string address;
  std::vector<std::variant<int, float, std::string>> args;
};

QByteArray Serialise(const Out& out) {
  Message m(lo_message_new());
  for (const auto& a : out.args) {
    if (const int* i = std::get_if<int>(&a)) lo_message_add_int32(m.get(), *i);
    if (const float* f = std::get_if<float>(&a)) lo_message_add_float(m.get(), *f);
    if (const std::string* s = std::get_if<std::string>(&a))
      lo_message_add_string(m.get(), s->c_str());
  }
  size_t size = 0;
  void* data = lo_message_serialise(m.get(), out.address.c_str(), nullptr, &size);
  QByteArray bytes(static_cast<const char*>(data), static_cast<qsizetype>(size));
  std::free(data);
  return bytes;
}

std::string Key(const Out& out) {
  std::string key;
  for (const auto& a : out.args) {
    if (const int* i = std::get_if<int>(&a)) key += "i" + std::to_string(*i);
    if (const float* f = std::get_if<float>(&a)) key += "f" + std::to_string(*f);
    if (const std::string* s = std::get_if<std::string>(&a)) key += "s" + *s;
  }
  return key;
}

std::string Text(const QJsonValue& v) { return v.toString().toStdString(); }
float Number(const QJsonValue& v) { return static_cast<float>(v.toDouble()); }

// A machine's state as the messages that would set each of its values.
std::vector<Out> StateMessages(const std::string& prefix, const QJsonObject& state) {
  std::vector<Out> out;
  out.reserve(64);
  const QJsonArray mute = state.value(QStringLiteral("mute")).toArray();
  for (int i = 0; i < mute.size(); ++i)
    out.push_back({prefix + "/mute/" + std::to_string(i + 1), {mute[i].toBool() ? 1 : 0}});
  const QJsonObject gain = state.value(QStringLiteral("inputGain")).toObject();
  for (const char* input : {"a", "b"})
    out.push_back(
        {prefix + "/input/" + input + "/gain", {Number(gain.value(QLatin1String(input)))}});
  const QJsonObject att = state.value(QStringLiteral("attenuation")).toObject();
  const QJsonObject delay = state.value(QStringLiteral("delay")).toObject();
  for (int output = 1; output <= 4; ++output)
    out.push_back(
        {prefix + "/output/" + std::to_string(output) + "/attenuation",
         {Number(att.value(output <= 2 ? QStringLiteral("ch12") : QStringLiteral("ch34")))}});
  out.push_back({prefix + "/delay/1", {Number(delay.value(QStringLiteral("ch12")))}});
  out.push_back({prefix + "/delay/2", {Number(delay.value(QStringLiteral("ch34")))}});
  for (const auto& b : state.value(QStringLiteral("bands")).toArray()) {
    const QJsonObject band = b.toObject();
    const std::string at =
        prefix + "/band/" + std::to_string(band.value(QStringLiteral("band")).toInt());
    out.push_back({at + "/gain", {Number(band.value(QStringLiteral("gain")))}});
    out.push_back({at + "/frequency", {Number(band.value(QStringLiteral("frequency")))}});
    out.push_back({at + "/q", {Number(band.value(QStringLiteral("q")))}});
  }
  out.push_back({prefix + "/flat", {state.value(QStringLiteral("flat")).toBool() ? 1 : 0}});
  out.push_back({prefix + "/user-preset", {Text(state.value(QStringLiteral("userPreset")))}});
  return out;
}

// An event as OSC messages; levels are not sent.
std::vector<Out> EventMessages(const QJsonObject& e) {
  const std::string bus = std::string(kRoot) + "/" + Text(e.value(QStringLiteral("bus")));
  const QString type = e.value(QStringLiteral("type")).toString();
  if (type == QLatin1String("values"))
    return StateMessages(bus + "/" + Text(e.value(QStringLiteral("machine"))),
                         e.value(QStringLiteral("state")).toObject());
  if (type == QLatin1String("bus"))
    return {{bus + "/state", {Text(e.value(QStringLiteral("state")))}}};
  if (type == QLatin1String("slot")) {
    const QJsonObject m = e.value(QStringLiteral("machine")).toObject();
    const QJsonObject hw = m.value(QStringLiteral("hardwarePreset")).toObject();
    return {{bus + "/slot/" + std::to_string(e.value(QStringLiteral("slot")).toInt()),
             {Text(m.value(QStringLiteral("id"))), Text(hw.value(QStringLiteral("name"))),
              Text(m.value(QStringLiteral("userPreset")))}}};
  }
  if (type == QLatin1String("operation"))
    return {
        {bus + "/operation",
         {Text(e.value(QStringLiteral("operation"))), Text(e.value(QStringLiteral("phase"))),
          Number(e.value(QStringLiteral("progress"))), Text(e.value(QStringLiteral("machine")))}}};
  return {};
}

}  // namespace

bool ParseSubnets(const QStringList& texts, std::vector<Subnet>& subnets, QString* error) {
  for (const QString& text : texts) {
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
      const Subnet subnet = QHostAddress::parseSubnet(part.trimmed());
      if (subnet.first.isNull()) {
        if (error) *error = QStringLiteral("not a subnet: %1 (ADDRESS/BITS)").arg(part);
        return false;
      }
      subnets.push_back(subnet);
    }
  }
  return true;
}

OscServer::OscServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), socket_(new QUdpSocket(this)) {
  connect(socket_, &QUdpSocket::readyRead, this, &OscServer::readPending);
}

OscServer::~OscServer() = default;

bool OscServer::listen(quint16 port, std::vector<Subnet> allowed, QString* error) {
  allowed_ = std::move(allowed);
  const QHostAddress address =
      allowed_.empty() ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(QHostAddress::Any);
  if (!socket_->bind(address, port)) {
    if (error) *error = QStringLiteral("OSC port %1: %2").arg(port).arg(socket_->errorString());
    return false;
  }
  return true;
}

quint16 OscServer::port() const { return socket_->localPort(); }

void OscServer::close() {
  socket_->close();
  subscribers_.clear();
}

bool OscServer::allowed(const QHostAddress& from) const {
  if (allowed_.empty()) return from.isLoopback();
  bool isV4 = false;
  const quint32 v4 = from.toIPv4Address(&isV4);
  const QHostAddress plain = isV4 ? QHostAddress(v4) : from;
  for (const Subnet& s : allowed_)
    if (plain.isInSubnet(s)) return true;
  return false;
}

void OscServer::readPending() {
  while (socket_->hasPendingDatagrams()) {
    const QNetworkDatagram d = socket_->receiveDatagram(kMaxDatagram);
    if (!allowed(d.senderAddress())) {
      ++dropped_;
      continue;
    }
    datagram(d.data(), d.senderAddress(), static_cast<quint16>(d.senderPort()), 0);
  }
}

// A bundle's elements in order (their time tags are not waited for); anything else a message.
void OscServer::datagram(const QByteArray& bytes, const QHostAddress& from, quint16 port,
                         int depth) {
  static const QByteArray kBundle("#bundle\0", 8);
  if (!bytes.startsWith(kBundle)) return message(bytes, from, port);
  if (depth >= kMaxBundleDepth) return reply(from, port, "#bundle", "bundles nested too deep");
  qsizetype at = 16;  // "#bundle\0" and the time tag
  while (at + 4 <= bytes.size()) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    const qsizetype size = (qsizetype{p[0]} << 24) | (qsizetype{p[1]} << 16) |
                           (qsizetype{p[2]} << 8) | qsizetype{p[3]};
    at += 4;
    if (size <= 0 || size % 4 != 0 || at + size > bytes.size())
      return reply(from, port, "#bundle", "malformed bundle");
    datagram(bytes.mid(at, size), from, port, depth + 1);
    at += size;
  }
}

void OscServer::message(const QByteArray& bytes, const QHostAddress& from, quint16 port) {
  if (!rate_.take(from.toString().toStdString(), RateLimiter::Clock::now())) {
    ++rateLimited_;
    return;
  }
  QByteArray copy = bytes;
  int result = 0;
  Message m(lo_message_deserialise(copy.data(), static_cast<size_t>(copy.size()), &result));
  if (!m) return reply(from, port, "", "malformed OSC message");
  const char* path = lo_get_path(copy.data(), copy.size());
  const std::string address = path ? path : "";
  const char* types = lo_message_get_types(m.get());
  lo_arg** argv = lo_message_get_argv(m.get());
  std::vector<OscArg> args;
  for (int i = 0; types && types[i] != '\0'; ++i) args.push_back(ToArg(types[i], argv[i]));

  const OscTranslation t = TranslateOsc(address, args);
  const QString qaddress = QString::fromStdString(address);
  switch (t.kind) {
    case OscTranslation::Kind::Error:
      reply(from, port, address, t.error);
      emit handled(qaddress, 400);
      return;
    case OscTranslation::Kind::Subscribe:
    case OscTranslation::Kind::Unsubscribe: {
      const std::pair<QHostAddress, quint16> who{from, port};
      std::erase(subscribers_, who);
      if (t.kind == OscTranslation::Kind::Subscribe) {
        if (subscribers_.size() >= static_cast<std::size_t>(kMaxSubscribers))
          subscribers_.erase(subscribers_.begin());
        subscribers_.push_back(who);
        sent_.clear();  // the newcomer hears every value at the next change
      }
      emit handled(qaddress, 200);
      return;
    }
    case OscTranslation::Kind::Request:
      break;
  }
  HttpRequest request;
  request.method = t.method;
  request.target = t.path;
  request.path = t.path;
  request.body = t.body;
  if (!t.body.empty()) request.headers.emplace_back("content-type", "application/json");
  QPointer<OscServer> self(this);
  handler_(request, [self, from, port, address, qaddress](const HttpResponse& response) {
    if (!self) return;
    if (response.status >= 400) {
      const QJsonObject body =
          QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
      const QString text = body.value(QStringLiteral("message")).toString();
      self->reply(from, port, address,
                  text.isEmpty() ? "HTTP " + std::to_string(response.status) : text.toStdString());
    }
    emit self->handled(qaddress, response.status);
  });
}

void OscServer::reply(const QHostAddress& to, quint16 port, const std::string& address,
                      const std::string& reason) {
  socket_->writeDatagram(Serialise({std::string(kErrorAddress), {address, reason}}), to, port);
}

void OscServer::publish(const QJsonObject& event) {
  if (subscribers_.empty()) return;
  for (const Out& out : EventMessages(event)) {
    const std::string key = Key(out);
    auto& last = sent_[out.address];
    if (last == key) continue;
    last = key;
    const QByteArray bytes = Serialise(out);
    for (const auto& [address, port] : subscribers_) socket_->writeDatagram(bytes, address, port);
  }
}

}  // namespace qubix::service::osc
