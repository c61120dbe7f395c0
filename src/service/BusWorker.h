// One bus of the service: a ServiceBus on the main thread that the API and the event hub talk
// to, and its BusWorker in a thread of its own holding everything that touches the bus (the
// station, the data directory's lock, the editor without its window, the hardware preset
// operations). Operations run on the worker one at a time, first come first served; their
// answers and the events they raise reach the main thread as queued calls, in the order they
// happened on the bus.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "compose/LinkFactory.h"
#include "editor/ShowSnapshot.h"
#include "files/DataDirLock.h"
#include "network/NetworkManager.h"
#include "network/Station.h"
#include "service/http/HttpMessage.h"

class QTimer;

namespace qubix::service {

class BusWorker;

struct BusConfig {
  std::string name;
  std::string link;  // as qubix24ctl --link takes it
  std::filesystem::path dataDir;
  // For tests: the adapter instead of the one link names.
  std::function<compose::AdapterWithClock()> makeAdapter;
};

// Retries of a missing adapter, as the main window's connection timer.
inline constexpr int kConnectRetryMs = 500;
// Operations waiting for a bus at most, the one running included: HTTP allows one request a
// connection at a time, but OSC datagrams come as fast as a sender sends them, and a bus takes
// tens of milliseconds an exchange. Beyond it a request is answered 503 "busy" at once.
inline constexpr int kMaxQueuedOperations = 128;

// A bus as GET /api/v1/buses and the "bus" events name it.
enum class BusState { Connecting, Connected, Disconnected, Locked };
const char* BusStateName(BusState state);

class ServiceBus : public QObject {
  Q_OBJECT
 public:
  explicit ServiceBus(BusConfig config, QObject* parent = nullptr);
  ~ServiceBus() override;

  const std::string& name() const { return config_.name; }
  const std::string& link() const { return config_.link; }
  const std::filesystem::path& dataDir() const { return config_.dataDir; }

  // The operation runs on the bus after those before it; respond is called on this object's
  // thread. operation and machine name it in the "operation" events (no events when empty).
  using Op = std::function<HttpResponse(BusWorker&)>;
  void run(std::string operation, std::string machine, Op op,
           std::function<void(HttpResponse)> respond);
  // Runs fn on the bus's thread and waits for it (tests, shutdown).
  void inWorker(const std::function<void(BusWorker&)>& fn);
  // Level polls for this machine while on.
  void watchLevels(const std::string& machine, bool on);

  // What the API answers without waiting for the bus; safe from any thread.
  struct Summary {
    BusState state = BusState::Connecting;
    std::string lockError;
    std::string reason;   // why the bus is not connected; empty when it is
    QJsonArray machines;  // the slots' summaries
    QJsonObject busy;     // empty when idle
  };
  Summary summary() const;
  std::optional<QJsonObject> cachedMachine(const std::string& id) const;
  // The identifier of a machine given as identifier or slot number 1 … 8, or empty.
  std::string resolveMachine(const std::string& key) const;

 signals:
  void busEvent(QJsonObject event);

 private:
  friend class BusWorker;
  void post(std::function<void()> fn);  // to this object's thread, in order

  BusConfig config_;
  QThread thread_;
  BusWorker* worker_ = nullptr;
  std::atomic<int> queued_{0};  // operations handed to the worker and not yet answered
  mutable std::mutex mutex_;
  Summary summary_;
  std::map<std::string, QJsonObject> cache_;
};

// Lives on the bus's thread.
class BusWorker : public QObject, public network::NetworkView, public network::PresetView {
  Q_OBJECT
 public:
  BusWorker(const BusConfig& config, ServiceBus& owner);
  ~BusWorker() override;

  void startUp();
  void shutDown();

  // Null until the data directory was locked and the station made.
  network::Station* station() { return station_.get(); }
  editor::HeadlessEditor& editor() { return *editor_; }
  network::HardwarePresets& presets() { return *presets_; }

  // 409 while another program holds the data directory, 503 while the adapter is away.
  std::optional<HttpResponse> unavailable() const;
  // The answer for a failed operation: 503 adapter gone, 504 processor silent, 502 otherwise;
  // "partly_applied" when some of it was applied.
  HttpResponse failure(const protocol::Outcome& outcome,
                       const std::vector<std::string>& applied = {},
                       const std::vector<std::string>& notApplied = {});
  // The machine of an identifier as a slot 0 … 7, or −1.
  int slotOf(const std::string& id) const;
  // Takes the machine the editor holds into the cache and tells the clients.
  QJsonObject publishHeldMachine();
  void forgetMachine(const std::string& id);
  // Every machine's cached values go (an operation that may change any machine).
  void forgetAllMachines();
  // Bands whose write went out without an acknowledgement: the processor may run them or not,
  // whatever the last-edit file says, until a write of theirs is acknowledged. Fields as the
  // change reports them ("bands.4"): the applied ones are settled, the first one not applied
  // (the one sent when the failure came; nothing after it was sent) is in doubt.
  void noteBandWrites(const std::string& id, const std::vector<std::string>& applied,
                      const std::vector<std::string>& notApplied);
  // After an operation that writes every band of the machine the editor holds (a recall, an
  // import): settled when it succeeded, else in doubt where the editor has no acknowledgement.
  void noteAllBandsWritten(bool acknowledged);
  // The machine's values with the fields in doubt ("inDoubt": ["bands.4"]).
  QJsonObject withDoubts(QJsonObject machine, const std::string& id) const;
  void progress(double fraction);
  void publish(QJsonObject event);  // "bus" filled in
  // After every operation: slot changes and the bus state go out as events.
  void afterOperation();

  // The operation running, for its progress events.
  std::string operation, operationMachine;

  // network::NetworkView
  void restartConnectTimer() override;
  void probeFrameChanged(std::string_view frame) override;
  // network::PresetView
  void setProgress(int position) override;
  // A hardware preset change's waits (its acknowledgement, then the quiet spells) as progress.
  void showWaiting(int slot) override;
  void stopWaiting(int slot) override;

  // The message boxes the core showed (written to stderr): how many so far, the last one's text
  // and the status line's detail at the time (a file's error).
  struct Boxes {
    int count = 0;
    std::string last, detail;
  };
  Boxes boxes() const;

  void watchLevels(const std::string& machine, bool on);
  bool levelPolling() const;
  // What the slots show, as GET …/machines answers.
  QJsonArray slotSummaries() const;

 private:
  void connectTick();
  void setState(BusState state);
  // Why the adapter is not connected, as it says.
  std::string adapterReason() const;
  void pollLevels(const std::string& machine);

  BusConfig config_;
  ServiceBus& owner_;
  std::optional<files::DataDirLock> lock_;
  std::unique_ptr<link::Frontend> frontend_;
  std::unique_ptr<network::Station> station_;
  std::unique_ptr<editor::HeadlessEditor> editor_;
  std::unique_ptr<network::TickCounter> ticks_;
  std::unique_ptr<network::HardwarePresets> presets_;
  BusState state_ = BusState::Connecting;
  std::map<std::string, std::set<int>> bandsInDoubt_;  // by machine, bands 1 … 10
  QTimer* connectTimer_ = nullptr;
  QTimer* levelTimer_ = nullptr;
  std::set<std::string> levelWatch_, levelPending_;
  QJsonArray lastSlots_;
  int lastProgressStep_ = -1;
  std::uint32_t presetWaitedMs_ = 0;
};

}  // namespace qubix::service
