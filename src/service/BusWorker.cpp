#include "service/BusWorker.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "compose/SimulatedList.h"
#include "editor/LevelMeter.h"
#include "files/DataDir.h"
#include "protocol/Outcome.h"
#include "showfile/ShowJson.h"

namespace qubix::service {

namespace {

// Boxes are written to stderr naming the bus.
class ServiceFrontend final : public link::UnattendedFrontend {
 public:
  explicit ServiceFrontend(std::string bus) : bus_(std::move(bus)) {}
  void setStatusText(std::string_view text) override { statusText = text; }
  void setStatusColour(link::Rgb) override {}
  void setStatusDetail(std::string_view detail) override { statusDetail = detail; }
  std::string statusText, statusDetail;  // the status line as the window would show it
  link::Answer messageBox(std::string_view text, std::string_view caption,
                          link::Buttons buttons) override {
    ++boxes;
    lastBox = text;
    std::fprintf(stderr, "qubix24d: bus %s: %.*s%s%.*s\n", bus_.c_str(),
                 static_cast<int>(caption.size()), caption.data(), caption.empty() ? "" : ": ",
                 static_cast<int>(text.size()), text.data());
    return buttons == link::Buttons::YesNo || buttons == link::Buttons::YesNoCancel
               ? link::Answer::No
               : link::Answer::Ok;
  }
  int boxes = 0;  // shown so far
  std::string lastBox;

 private:
  std::string bus_;
};

HttpResponse JsonResponse(int status, const QJsonObject& body) {
  HttpResponse r;
  r.status = status;
  r.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
  return r;
}

bool Silent(const std::string& reason) {
  for (const char* mark : {"no answer", "not acknowledged", "no complete reply", "did not answer"})
    if (reason.find(mark) != std::string::npos) return true;
  return false;
}

}  // namespace

const char* BusStateName(BusState state) {
  switch (state) {
    case BusState::Connecting:
      return "connecting";
    case BusState::Connected:
      return "connected";
    case BusState::Disconnected:
      return "disconnected";
    case BusState::Locked:
      return "locked";
  }
  return "disconnected";
}

// ---- ServiceBus

ServiceBus::ServiceBus(BusConfig config, QObject* parent)
    : QObject(parent), config_(std::move(config)) {
  thread_.setObjectName(QString::fromStdString("bus " + config_.name));
  worker_ = new BusWorker(config_, *this);
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
  QMetaObject::invokeMethod(
      worker_, [w = worker_] { w->startUp(); }, Qt::QueuedConnection);
}

ServiceBus::~ServiceBus() {
  QMetaObject::invokeMethod(
      worker_, [w = worker_] { w->shutDown(); }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

void ServiceBus::post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void ServiceBus::run(std::string operation, std::string machine, Op op,
                     std::function<void(HttpResponse)> respond) {
  if (queued_.load() >= kMaxQueuedOperations) {
    HttpResponse busy = ErrorResponse(503, "busy",
                                      "the bus has " + std::to_string(kMaxQueuedOperations) +
                                          " operations waiting; try again shortly");
    busy.headers.emplace_back("Retry-After", "1");
    post([respond = std::move(respond), busy = std::move(busy)] { respond(busy); });
    return;
  }
  ++queued_;
  QMetaObject::invokeMethod(
      worker_,
      [this, w = worker_, operation = std::move(operation), machine = std::move(machine),
       op = std::move(op), respond = std::move(respond)]() mutable {
        w->operation = operation;
        w->operationMachine = machine;
        const auto phase = [&](const char* p, const std::string& message = {}) {
          if (operation.empty()) return;
          QJsonObject e{{"type", "operation"},
                        {"operation", QString::fromStdString(operation)},
                        {"phase", p}};
          if (!machine.empty()) e.insert("machine", showfile::Latin1(machine));
          if (!message.empty()) e.insert("message", QString::fromStdString(message));
          w->publish(e);
        };
        HttpResponse response;
        if (auto refused = w->unavailable()) {
          response = *refused;
        } else {
          phase("started");
          {
            std::lock_guard lock(mutex_);
            summary_.busy =
                QJsonObject{{"operation", QString::fromStdString(operation)}, {"progress", 0.0}};
            // What a named operation changes is read again: the machine's values, or every
            // machine's for an operation of the whole bus (restore, scan, refresh).
            if (machine.empty())
              cache_.clear();
            else
              cache_.erase(machine);
          }
          response = op(*w);
          {
            std::lock_guard lock(mutex_);
            summary_.busy = QJsonObject{};
          }
          w->afterOperation();
          if (response.status < 300) {
            phase("finished");
          } else {
            QString message;
            const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(response.body));
            phase("failed", doc.object().value("message").toString().toStdString());
          }
        }
        w->operation.clear();
        w->operationMachine.clear();
        --queued_;
        post([respond = std::move(respond), response = std::move(response)] { respond(response); });
      },
      Qt::QueuedConnection);
}

void ServiceBus::inWorker(const std::function<void(BusWorker&)>& fn) {
  QMetaObject::invokeMethod(
      worker_, [&fn, w = worker_] { fn(*w); }, Qt::BlockingQueuedConnection);
}

void ServiceBus::watchLevels(const std::string& machine, bool on) {
  QMetaObject::invokeMethod(
      worker_, [w = worker_, machine, on] { w->watchLevels(machine, on); }, Qt::QueuedConnection);
}

ServiceBus::Summary ServiceBus::summary() const {
  std::lock_guard lock(mutex_);
  return summary_;
}

std::optional<QJsonObject> ServiceBus::cachedMachine(const std::string& id) const {
  std::lock_guard lock(mutex_);
  const auto it = cache_.find(id);
  if (it == cache_.end()) return std::nullopt;
  return it->second;
}

std::string ServiceBus::resolveMachine(const std::string& key) const {
  std::lock_guard lock(mutex_);
  bool number = !key.empty() && key.size() <= 1;
  for (char c : key) number = number && c >= '1' && c <= '8';
  for (const auto& v : summary_.machines) {
    const QJsonObject m = v.toObject();
    std::string id = m.value("id").toString().toLatin1().toStdString();
    if (number ? m.value("slot").toInt() == key[0] - '0' : id == key) return id;
  }
  return {};
}

// ---- BusWorker

BusWorker::BusWorker(const BusConfig& config, ServiceBus& owner) : config_(config), owner_(owner) {}

BusWorker::~BusWorker() = default;

void BusWorker::startUp() {
  connectTimer_ = new QTimer(this);
  connectTimer_->setInterval(kConnectRetryMs);
  connect(connectTimer_, &QTimer::timeout, this, [this] { connectTick(); });
  levelTimer_ = new QTimer(this);
  levelTimer_->setInterval(editor::kLevelRefreshMs);
  connect(levelTimer_, &QTimer::timeout, this, [this] {
    for (const auto& m : levelWatch_) {
      if (!levelPending_.insert(m).second) continue;  // the last poll has not run yet
      QMetaObject::invokeMethod(
          this, [this, m] { pollLevels(m); }, Qt::QueuedConnection);
    }
  });

  std::string error;
  std::error_code ec;
  std::filesystem::create_directories(config_.dataDir, ec);
  lock_ = files::DataDirLock::acquire(config_.dataDir, std::chrono::milliseconds(0), error);
  if (!lock_) {
    {
      std::lock_guard lock(owner_.mutex_);
      owner_.summary_.lockError = error;
    }
    setState(BusState::Locked);
    return;
  }
  // As the window on the simulated bus: a new data directory lists the simulated processors.
  if (files::IsSimulatedLink(config_.link) &&
      !compose::SeedSimulatedMachineList(config_.dataDir, error))
    std::fprintf(stderr, "qubix24d: bus %s: %s\n", config_.name.c_str(), error.c_str());
  auto [adapter, clockMs] = config_.makeAdapter
                                ? config_.makeAdapter()
                                : compose::makeAdapterWithClock(config_.link, error);
  if (!adapter) {
    {
      std::lock_guard lock(owner_.mutex_);
      owner_.summary_.reason = error;
    }
    setState(BusState::Disconnected);
    return;
  }
  frontend_ = std::make_unique<ServiceFrontend>(config_.name);
  station_ = std::make_unique<network::Station>(std::move(adapter), *frontend_, config_.dataDir);
  station_->setView(this);
  station_->LoadPresetNames();
  editor_ = std::make_unique<editor::HeadlessEditor>(*station_);
  station_->setEditor(&editor_->state);
  ticks_ = std::make_unique<network::TickCounter>(std::move(clockMs));
  presets_ = std::make_unique<network::HardwarePresets>(
      station_->link, station_->bus, station_->commands, *frontend_, station_->network, *ticks_);
  presets_->setEditor(&editor_->state);
  presets_->setView(this);
  // As the main window on showing: connect and refresh at once, then every 500 ms while the
  // adapter is missing.
  connectTick();
}

void BusWorker::shutDown() {
  if (connectTimer_) connectTimer_->stop();
  if (levelTimer_) levelTimer_->stop();
  if (station_) {
    station_->EndWorkForExit();
    station_->Close();
  }
}

void BusWorker::connectTick() {
  bool connected = false;
  station_->ConnectionTick([&] {
    connected = true;
    connectTimer_->stop();
  });
  if (!connected) {
    setState(BusState::Disconnected);
    if (!connectTimer_->isActive()) connectTimer_->start();
    return;
  }
  setState(station_->link.state().Connected ? BusState::Connected : BusState::Disconnected);
  afterOperation();
  if (!station_->link.state().Connected && !connectTimer_->isActive()) connectTimer_->start();
}

void BusWorker::restartConnectTimer() {
  setState(BusState::Disconnected);
  if (connectTimer_ && !connectTimer_->isActive()) connectTimer_->start();
}

BusWorker::Boxes BusWorker::boxes() const {
  if (!frontend_) return {};
  const auto& f = static_cast<const ServiceFrontend&>(*frontend_);
  return {f.boxes, f.lastBox, f.statusDetail};
}

std::string BusWorker::adapterReason() const {
  if (!station_) return {};
  std::string reason = station_->link.adapter().lastError();
  if (reason.empty()) reason = static_cast<const ServiceFrontend&>(*frontend_).statusText;
  if (reason.empty()) reason = "the adapter is not connected";
  return reason;
}

void BusWorker::setState(BusState state) {
  std::string reason;
  {
    std::lock_guard lock(owner_.mutex_);
    // The reason stays the latest the adapter gave while the bus is away.
    if (state == BusState::Connected)
      owner_.summary_.reason.clear();
    else if (state == BusState::Locked)
      owner_.summary_.reason = owner_.summary_.lockError;
    else if (station_)
      owner_.summary_.reason = adapterReason();
    reason = owner_.summary_.reason;
    if (state == state_) return;
    owner_.summary_.state = state;
    if (state != BusState::Connected) owner_.cache_.clear();
  }
  state_ = state;
  // Said once per change, so that a bus that cannot open says why without repeating it.
  if (reason.empty())
    std::fprintf(stderr, "qubix24d: bus %s: %s\n", config_.name.c_str(), BusStateName(state));
  else
    std::fprintf(stderr, "qubix24d: bus %s: %s: %s\n", config_.name.c_str(), BusStateName(state),
                 reason.c_str());
  QJsonObject event{{"type", "bus"}, {"state", BusStateName(state)}};
  if (!reason.empty()) event.insert("reason", QString::fromStdString(reason));
  publish(event);
}

std::optional<HttpResponse> BusWorker::unavailable() const {
  if (!lock_) {
    std::lock_guard lock(owner_.mutex_);
    return JsonResponse(
        409, QJsonObject{{"error", "data_dir_locked"},
                         {"message", QString::fromStdString(owner_.summary_.lockError)}});
  }
  if (!station_ || !station_->link.state().Connected) {
    std::string message = "the bus's adapter is not connected";
    {
      std::lock_guard lock(owner_.mutex_);
      if (!owner_.summary_.reason.empty()) message += ": " + owner_.summary_.reason;
    }
    return JsonResponse(
        503, QJsonObject{{"error", "disconnected"}, {"message", QString::fromStdString(message)}});
  }
  return std::nullopt;
}

HttpResponse BusWorker::failure(const protocol::Outcome& outcome,
                                const std::vector<std::string>& applied,
                                const std::vector<std::string>& notApplied) {
  int status = 502;
  QString code = "exchange_failed";
  if (!station_ || !station_->link.state().Connected) {
    status = 503;
    code = "disconnected";
    restartConnectTimer();
  } else if (Silent(outcome.reason)) {
    status = 504;
    code = "processor_silent";
  }
  QJsonObject body{{"error", code}, {"message", QString::fromStdString(outcome.reason)}};
  if (!applied.empty()) {
    body.insert("error", "partly_applied");
    body.insert("cause", code);
  }
  if (!applied.empty() || !notApplied.empty()) {
    QJsonArray a, n;
    for (const auto& f : applied) a.append(QString::fromStdString(f));
    for (const auto& f : notApplied) n.append(QString::fromStdString(f));
    body.insert("applied", a);
    body.insert("notApplied", n);
  }
  return JsonResponse(status, body);
}

int BusWorker::slotOf(const std::string& id) const {
  return station_ ? editor::SlotOfMachine(station_->network, id) : -1;
}

QJsonObject BusWorker::publishHeldMachine() {
  const std::string id = editor_->state.selectedMachineId();
  QJsonObject state = withDoubts(
      showfile::MachineToJson(editor::ReadMachineValues(*editor_, station_->network)), id);
  {
    std::lock_guard lock(owner_.mutex_);
    const auto it = owner_.cache_.find(id);
    if (it != owner_.cache_.end() && it->second == state) return state;
    owner_.cache_[id] = state;
  }
  publish(QJsonObject{{"type", "values"}, {"machine", showfile::Latin1(id)}, {"state", state}});
  return state;
}

void BusWorker::forgetMachine(const std::string& id) {
  std::lock_guard lock(owner_.mutex_);
  owner_.cache_.erase(id);
}

void BusWorker::forgetAllMachines() {
  std::lock_guard lock(owner_.mutex_);
  owner_.cache_.clear();
}

namespace {
// The band of a field "bands.N", or 0.
int BandOfField(const std::string& field) {
  constexpr std::string_view prefix = "bands.";
  if (field.rfind(prefix, 0) != 0) return 0;
  const std::string rest = field.substr(prefix.size());
  if (rest.empty() || rest.size() > 2 || rest.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  const int band = std::stoi(rest);
  return band >= 1 && band <= editor::kBandCount ? band : 0;
}
}  // namespace

void BusWorker::noteBandWrites(const std::string& id, const std::vector<std::string>& applied,
                               const std::vector<std::string>& notApplied) {
  std::set<int>& doubt = bandsInDoubt_[id];
  for (const auto& f : applied)
    if (const int band = BandOfField(f)) doubt.erase(band);
  if (!notApplied.empty())
    if (const int band = BandOfField(notApplied.front())) doubt.insert(band);
  if (doubt.empty()) bandsInDoubt_.erase(id);
}

void BusWorker::noteAllBandsWritten(bool acknowledged) {
  const std::string id = editor_->state.selectedMachineId();
  if (id.empty()) return;
  std::set<int>& doubt = bandsInDoubt_[id];
  if (acknowledged) doubt.clear();
  const auto& unconfirmed = editor_->state.unconfirmedBands();
  for (int b = 0; b < editor::kBandCount; ++b)
    if (unconfirmed[static_cast<std::size_t>(b)]) doubt.insert(b + 1);
  if (doubt.empty()) bandsInDoubt_.erase(id);
}

QJsonObject BusWorker::withDoubts(QJsonObject machine, const std::string& id) const {
  QJsonArray fields;
  if (const auto it = bandsInDoubt_.find(id); it != bandsInDoubt_.end())
    for (int band : it->second) fields.append(QString("bands.%1").arg(band));
  machine.insert("inDoubt", fields);
  return machine;
}

void BusWorker::progress(double fraction) {
  const int step = static_cast<int>(fraction * 100);
  if (step == lastProgressStep_ || operation.empty()) return;
  lastProgressStep_ = step;
  {
    std::lock_guard lock(owner_.mutex_);
    owner_.summary_.busy =
        QJsonObject{{"operation", QString::fromStdString(operation)}, {"progress", step / 100.0}};
  }
  QJsonObject e{{"type", "operation"},
                {"operation", QString::fromStdString(operation)},
                {"phase", "progress"},
                {"progress", step / 100.0}};
  if (!operationMachine.empty()) e.insert("machine", showfile::Latin1(operationMachine));
  publish(e);
}

void BusWorker::setProgress(int position) { progress(position / 3726.0); }

namespace {
// What a hardware preset change usually takes: the processor acknowledges after it switched,
// then it is given two spells of 4 s of silence. The progress never claims the end before the
// change ended.
constexpr double kPresetChangeTypicalMs = 16000.0;
constexpr double kPresetChangeMostShown = 0.95;
}  // namespace

void BusWorker::showWaiting(int) {
  presetWaitedMs_ = 0;
  progress(0.0);
  // The link calls this between the slices of a long read, on this thread.
  station_->link.whileWaiting = [this] {
    presetWaitedMs_ += link::Link::kWaitSliceMs;
    progress(std::min(kPresetChangeMostShown, presetWaitedMs_ / kPresetChangeTypicalMs));
  };
}

void BusWorker::stopWaiting(int) { station_->link.whileWaiting = nullptr; }

void BusWorker::probeFrameChanged(std::string_view) {
  const auto& net = station_->network;
  const double found = static_cast<double>(net.foundCount()) / std::max(1, net.maxSearch());
  progress(std::max(found, net.scanAddress() / 2048.0));
}

void BusWorker::publish(QJsonObject e) {
  e.insert("bus", QString::fromStdString(config_.name));
  owner_.post([owner = &owner_, e] { emit owner->busEvent(e); });
}

QJsonArray BusWorker::slotSummaries() const {
  QJsonArray out;
  const auto& net = station_->network;
  for (int k = 0; k < network::kSlotCount && k < net.list().count; ++k) {
    const network::SlotState& s = net.slotAt(k);
    if (s.identifier.empty()) continue;
    const int hw = s.record.hardwarePreset;
    const std::string hwName =
        hw == network::kExtraPreset
            ? s.extraPresetName
            : network::CaptionText(network::HardwarePresetName(net.hardwarePresetNames(), hw));
    QJsonObject m{
        {"slot", k + 1},
        {"id", showfile::Latin1(s.identifier)},
        {"hardwarePreset", QJsonObject{{"number", hw}, {"name", showfile::Latin1(hwName)}}},
        {"userPreset",
         showfile::Latin1(network::UserPresetName(net.userPresetNames(), s.record.userPreset))},
        {"userPresetLocation",
         s.record.userPreset >= 0 && s.record.userPreset < network::kUserPresetCount
             ? QJsonValue(s.record.userPreset)
             : QJsonValue()},
        {"extraPreset", s.extraPresetName.empty()
                            ? QJsonValue()
                            : QJsonValue(showfile::Latin1(s.extraPresetName))}};
    out.append(m);
  }
  return out;
}

void BusWorker::afterOperation() {
  lastProgressStep_ = -1;
  if (!station_) return;
  setState(station_->link.state().Connected ? BusState::Connected : BusState::Disconnected);
  const QJsonArray now = slotSummaries();
  {
    std::lock_guard lock(owner_.mutex_);
    owner_.summary_.machines = now;
  }
  // One event per slot whose summary changed, including slots that emptied.
  const auto bySlot = [](const QJsonArray& a, int slot) -> QJsonValue {
    for (const auto& v : a)
      if (v.toObject().value("slot").toInt() == slot) return v;
    return QJsonValue();
  };
  for (int slot = 1; slot <= network::kSlotCount; ++slot) {
    const QJsonValue before = bySlot(lastSlots_, slot), after = bySlot(now, slot);
    if (before == after) continue;
    publish(QJsonObject{{"type", "slot"}, {"slot", slot}, {"machine", after}});
  }
  lastSlots_ = now;
}

void BusWorker::watchLevels(const std::string& machine, bool on) {
  if (on)
    levelWatch_.insert(machine);
  else
    levelWatch_.erase(machine);
  if (levelWatch_.empty())
    levelTimer_->stop();
  else if (!levelTimer_->isActive())
    levelTimer_->start();
}

bool BusWorker::levelPolling() const { return levelTimer_ && levelTimer_->isActive(); }

void BusWorker::pollLevels(const std::string& machine) {
  levelPending_.erase(machine);
  if (!levelWatch_.count(machine) || unavailable()) return;
  const int slot = slotOf(machine);
  if (slot < 0) return;
  if (!editor::HoldMachine(*editor_, slot, /*fresh=*/false).ok) return;
  auto& state = editor_->state;
  const auto& polling = state.polling();
  // The level window closes itself after a while; a watched machine opens it again.
  if (!polling.levelRefreshRunning()) state.ShowLevels();
  state.PollLevelMeters();
  // In dB as the level window's scale reads them; a reading that failed is null, never a value.
  QJsonArray levels, indicators;
  bool complete = true;
  for (const auto& db : polling.levelsDb()) {
    levels.append(db ? QJsonValue(*db) : QJsonValue());
    complete = complete && db.has_value();
  }
  for (bool on : polling.inputIndicator()) indicators.append(on);
  publish(QJsonObject{{"type", "levels"},
                      {"machine", showfile::Latin1(machine)},
                      {"levels", levels},
                      {"complete", complete},
                      {"indicators", indicators}});
}

}  // namespace qubix::service
