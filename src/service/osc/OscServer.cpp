#include "service/osc/OscServer.h"

#include <lo/lo_lowlevel.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QPointer>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <variant>

#include "service/http/HttpServer.h"

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

OscServer::PeerKey OscServer::KeyOf(const QHostAddress& address, quint16 port) {
  return {PlainAddress(address).toString(), port};
}

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

int OscServer::subscribers() const {
  const auto now = Clock::now();
  return static_cast<int>(std::count_if(subscribers_.begin(), subscribers_.end(),
                                        [now](const Subscriber& s) { return s.expires > now; }));
}

void OscServer::close() {
  socket_->close();
  subscribers_.clear();
}

bool OscServer::allowed(const QHostAddress& from) const {
  if (allowed_.empty()) return from.isLoopback();
  const QHostAddress plain = PlainAddress(from);
  for (const Subnet& s : allowed_)
    if (plain.isInSubnet(s)) return true;
  return false;
}

void OscServer::readPending() {
  while (socket_->hasPendingDatagrams()) {
    const bool tooLarge = socket_->pendingDatagramSize() > kMaxDatagram;
    const QNetworkDatagram d = socket_->receiveDatagram(kMaxDatagram);
    const auto port = static_cast<quint16>(d.senderPort());
    if (tooLarge || !allowed(d.senderAddress()) || !admit(d.data(), d.senderAddress(), port)) {
      ++dropped_;
      continue;
    }
    datagram(d.data(), d.senderAddress(), port, 0);
  }
}

// Without a passcode every allowed sender is; with one, a sender that gave it within the idle
// time, or a datagram that is /qubix24/connect itself. Anything else gets one short error.
bool OscServer::admit(const QByteArray& bytes, const QHostAddress& from, quint16 port) {
  if (passcode_.empty()) return true;
  const auto now = Clock::now();
  const auto it = admitted_.find(KeyOf(from, port));
  if (it != admitted_.end() && it->second > now) {
    it->second = now + kAdmissionIdle;
    return true;
  }
  if (it != admitted_.end()) admitted_.erase(it);
  QByteArray copy = bytes;
  const char* path =
      bytes.startsWith('/') ? lo_get_path(copy.data(), static_cast<ssize_t>(copy.size())) : nullptr;
  if (path && std::string_view(path) == kConnectAddress) return true;
  reply(from, port, std::string(kConnectAddress), "not connected: send the passcode first");
  return false;
}

void OscServer::connectSender(const std::string& passcode, const QHostAddress& from, quint16 port) {
  if (passcode_.empty()) return;  // nothing to give
  // Compared in full whatever the first difference, so the time does not tell where it is.
  unsigned diff = passcode.size() == passcode_.size() ? 0U : 1U;
  for (std::size_t i = 0; i < passcode.size(); ++i)
    diff |= static_cast<unsigned char>(passcode[i]) ^
            static_cast<unsigned char>(passcode_[i % passcode_.size()]);
  if (diff != 0) {
    admitted_.erase(KeyOf(from, port));
    ++dropped_;
    return reply(from, port, std::string(kConnectAddress), "wrong passcode");
  }
  const auto now = Clock::now();
  std::erase_if(admitted_, [now](const auto& a) { return a.second <= now; });
  if (admitted_.size() >= static_cast<std::size_t>(kMaxAdmitted) &&
      !admitted_.count(KeyOf(from, port)))
    return reply(from, port, std::string(kConnectAddress), "too many senders connected");
  admitted_[KeyOf(from, port)] = now + kAdmissionIdle;
}

void OscServer::datagram(const QByteArray& bytes, const QHostAddress& from, quint16 port,
                         int depth) {
  static const QByteArray kBundle("#bundle\0", 8);
  if (!bytes.startsWith(kBundle)) return message(bytes, from, port);
  if (depth >= kMaxBundleDepth) return reply(from, port, "#bundle", "bundles nested too deep");
  if (bytes.size() < 16) return reply(from, port, "#bundle", "malformed bundle");
  // Its elements must all be whole before any of them runs, now or later.
  for (qsizetype at = 16; at < bytes.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    const qsizetype size = at + 4 > bytes.size()
                               ? -1
                               : (qsizetype{p[0]} << 24) | (qsizetype{p[1]} << 16) |
                                     (qsizetype{p[2]} << 8) | qsizetype{p[3]};
    if (size <= 0 || size % 4 != 0 || at + 4 + size > bytes.size())
      return reply(from, port, "#bundle", "malformed bundle");
    at += 4 + size;
  }
  std::uint64_t tag = 0;
  for (int i = 8; i < 16; ++i) tag = (tag << 8) | static_cast<unsigned char>(bytes[i]);
  const BundleTiming timing = TimeBundle(tag, std::chrono::system_clock::now());
  switch (timing.kind) {
    case BundleTiming::Kind::Now:
      return bundle(bytes, from, port, depth);
    case BundleTiming::Kind::TooFar:
      return reply(from, port, "#bundle",
                   "time tag more than " + std::to_string(kMaxBundleWait.count()) + " s ahead");
    case BundleTiming::Kind::Later:
      break;
  }
  if (pendingBundles_ >= kMaxPendingBundles)
    return reply(from, port, "#bundle",
                 "more than " + std::to_string(kMaxPendingBundles) + " bundles waiting");
  ++pendingBundles_;
  QTimer::singleShot(timing.wait, this, [this, bytes, from, port, depth] {
    --pendingBundles_;
    bundle(bytes, from, port, depth);
  });
}

// A checked bundle's elements, in order.
void OscServer::bundle(const QByteArray& bytes, const QHostAddress& from, quint16 port, int depth) {
  for (qsizetype at = 16; at + 4 <= bytes.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
    const qsizetype size = (qsizetype{p[0]} << 24) | (qsizetype{p[1]} << 16) |
                           (qsizetype{p[2]} << 8) | qsizetype{p[3]};
    datagram(bytes.mid(at + 4, size), from, port, depth + 1);
    at += 4 + size;
  }
}

void OscServer::message(const QByteArray& bytes, const QHostAddress& from, quint16 port) {
  if (!rate_.take(PlainAddress(from).toString().toStdString(), RateLimiter::Clock::now())) {
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

  if (IsOscPattern(address)) return pattern(address, args, from, port);
  const OscTranslation t = TranslateOsc(address, args);
  const QString qaddress = QString::fromStdString(address);
  switch (t.kind) {
    case OscTranslation::Kind::Error:
      reply(from, port, address, t.error);
      emit handled(qaddress, 400);
      return;
    case OscTranslation::Kind::Connect:
      connectSender(t.passcode, from, port);
      emit handled(qaddress, 200);
      return;
    case OscTranslation::Kind::Subscribe:
    case OscTranslation::Kind::Unsubscribe:
      return subscribe(t, from, port);
    case OscTranslation::Kind::Request:
      rememberForm(address, from, port);
      return request(t, address, from, port);
  }
}

// Every address the pattern stands for, when each of them takes the arguments; else none.
void OscServer::pattern(const std::string& address, const std::vector<OscArg>& args,
                        const QHostAddress& from, quint16 port) {
  const OscExpansion e = ExpandOscPattern(address, space_ ? space_() : std::vector<OscSpaceBus>{});
  std::vector<OscTranslation> requests;
  std::string error = e.error;
  for (const std::string& target : e.addresses) {
    if (!error.empty()) break;
    requests.push_back(TranslateOsc(target, args));
    if (requests.back().kind != OscTranslation::Kind::Request) error = requests.back().error;
  }
  if (!error.empty()) {
    reply(from, port, address, error);
    emit handled(QString::fromStdString(address), 400);
    return;
  }
  for (const OscTranslation& t : requests) request(t, address, from, port);
}

void OscServer::request(const OscTranslation& t, const std::string& address,
                        const QHostAddress& from, quint16 port) {
  HttpRequest request;
  request.method = t.method;
  request.target = t.path;
  request.path = t.path;
  request.body = t.body;
  if (!t.body.empty()) request.headers.emplace_back("content-type", "application/json");
  const QString qaddress = QString::fromStdString(address);
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

void OscServer::rememberForm(const std::string& address, const QHostAddress& from, quint16 port) {
  const auto form = MachineFormOf(address);
  if (!form) return;
  if (forms_.size() >= static_cast<std::size_t>(kMaxSenderForms) &&
      !forms_.count(KeyOf(from, port)))
    forms_.erase(forms_.begin());
  forms_[KeyOf(from, port)] = *form;
}

// A new subscriber hears the whole state, once; a known one is renewed and hears nothing more.
void OscServer::subscribe(const OscTranslation& t, const QHostAddress& from, quint16 port) {
  const Peer to{from, t.port ? static_cast<quint16>(t.port) : port};
  const QString qaddress = QString::fromStdString(std::string(
      t.kind == OscTranslation::Kind::Subscribe ? kSubscribeAddress : kUnsubscribeAddress));
  pruneSubscribers();
  const auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                               [&to](const Subscriber& s) { return s.to == to; });
  if (t.kind == OscTranslation::Kind::Unsubscribe) {
    if (it != subscribers_.end()) subscribers_.erase(it);
    emit handled(qaddress, 200);
    return;
  }
  if (it != subscribers_.end()) {
    it->expires = Clock::now() + kSubscriptionLife;
    it->from = port;
    if (!t.form.empty()) it->form = t.form;
    emit handled(qaddress, 200);
    return;
  }
  if (subscribers_.size() >= static_cast<std::size_t>(kMaxSubscribers)) {
    reply(from, port, std::string(kSubscribeAddress), "too many subscribers");
    emit handled(qaddress, 400);
    return;
  }
  subscribers_.push_back({to, port, Clock::now() + kSubscriptionLife, t.form, {}});
  Subscriber& s = subscribers_.back();
  if (state_)
    for (const QJsonObject& event : state_()) {
      learnSlots(event);
      tell(s, event, std::numeric_limits<int>::max());
    }
  emit handled(qaddress, 200);
}

void OscServer::pruneSubscribers() {
  const auto now = Clock::now();
  std::erase_if(subscribers_, [now](const Subscriber& s) { return s.expires <= now; });
}

void OscServer::learnSlots(const QJsonObject& event) {
  if (event.value(QStringLiteral("type")).toString() != QLatin1String("slot")) return;
  auto& known = slots_[Text(event.value(QStringLiteral("bus")))];
  const int slot = event.value(QStringLiteral("slot")).toInt();
  std::erase_if(known, [slot](const auto& entry) { return entry.second == slot; });
  const std::string id =
      Text(event.value(QStringLiteral("machine")).toObject().value(QStringLiteral("id")));
  if (!id.empty()) known[id] = slot;
}

void OscServer::tell(Subscriber& s, const QJsonObject& event, int limit) {
  MachineForm form = MachineForm::Identifier;
  if (s.form == "slot") {
    form = MachineForm::Slot;
  } else if (s.form.empty()) {
    const auto it = forms_.find(KeyOf(s.to.first, s.from));
    if (it != forms_.end()) form = it->second;
  }
  std::string slot;
  if (form == MachineForm::Slot &&
      event.value(QStringLiteral("type")).toString() == QLatin1String("values")) {
    const auto& known = slots_[Text(event.value(QStringLiteral("bus")))];
    const auto it = known.find(Text(event.value(QStringLiteral("machine"))));
    if (it != known.end()) slot = std::to_string(it->second);
  }
  int sent = 0;
  for (Out& out : EventMessages(event)) {
    std::string key = Key(out);
    auto& last = s.sent[out.address];
    if (last == key) continue;
    if (sent++ == limit) return;
    last = std::move(key);
    if (!slot.empty()) out.address = WithMachine(out.address, slot);
    socket_->writeDatagram(Serialise(out), s.to.first, s.to.second);
  }
}

void OscServer::reply(const QHostAddress& to, quint16 port, const std::string& address,
                      const std::string& reason) {
  // The address as sent, cut short: an answer is never much larger than what it answers.
  socket_->writeDatagram(Serialise({std::string(kErrorAddress), {address.substr(0, 128), reason}}),
                         to, port);
}

void OscServer::publish(const QJsonObject& event) {
  learnSlots(event);
  pruneSubscribers();
  for (Subscriber& s : subscribers_) tell(s, event, kMaxMessagesPerChange);
}

}  // namespace qubix::service::osc
