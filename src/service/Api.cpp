#include "service/Api.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <chrono>
#include <cmath>
#include <map>

#include "editor/FilterImport.h"
#include "filters/FilterText.h"
#include "filters/Response.h"
#include "network/NetworkTexts.h"
#include "service/BusWorker.h"
#include "showfile/ShowJson.h"

namespace qubix::service {

HttpResponse JsonReply(int status, const QJsonObject& body) {
  HttpResponse r;
  r.status = status;
  r.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
  return r;
}

namespace {

using Respond = std::function<void(HttpResponse)>;

HttpResponse Error(int status, const char* code, const std::string& message) {
  return JsonReply(status,
                   QJsonObject{{"error", code}, {"message", QString::fromStdString(message)}});
}
HttpResponse Refused(const showfile::JsonError& e) { return JsonReply(400, e.toJson()); }

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) out.push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return out;
}

// {"key": integer within lo … hi} and nothing else; the key may be optional with a default.
std::optional<showfile::JsonError> IntegerBody(const std::string& body, const char* key, int lo,
                                               int hi, std::optional<int> fallback, int& out) {
  QJsonObject json;
  if (body.empty() && fallback) {
    out = *fallback;
    return std::nullopt;
  }
  if (auto e = showfile::ParseObject(body, json)) return e;
  for (auto it = json.begin(); it != json.end(); ++it)
    if (it.key() != QLatin1String(key))
      return showfile::JsonError{"unknown_field", it.key().toStdString() + ": no such field",
                                 it.key().toStdString(), std::nullopt, std::nullopt};
  if (!json.contains(QLatin1String(key))) {
    if (!fallback)
      return showfile::JsonError{"bad_json", std::string(key) + ": missing", key, std::nullopt,
                                 std::nullopt};
    out = *fallback;
    return std::nullopt;
  }
  const QJsonValue v = json.value(QLatin1String(key));
  const editor::Limit limit{static_cast<double>(lo), static_cast<double>(hi), 1};
  if (!v.isDouble())
    return showfile::JsonError{"bad_json", std::string(key) + ": a number is wanted", key,
                               std::nullopt, std::nullopt};
  if (!limit.contains(v.toDouble()))
    return showfile::JsonError{"out_of_range",
                               std::string(key) + ": " + protocol::ShortNumber(v.toDouble()) +
                                   " is outside " + std::to_string(lo) + " … " + std::to_string(hi),
                               key, lo, hi};
  out = v.toInt();
  return std::nullopt;
}

// The machine as an operation finds it: 404 when it left the bus meanwhile, else its slot held
// by the editor.
std::optional<HttpResponse> Hold(BusWorker& w, const std::string& id, bool fresh) {
  const int slot = w.slotOf(id);
  if (slot < 0) return Error(404, "not_found", "no machine " + id + " on this bus");
  const protocol::Outcome held = editor::HoldMachine(w.editor(), slot, fresh);
  if (!held.ok) {
    w.forgetMachine(id);
    return w.failure(held);
  }
  return std::nullopt;
}

HttpResponse TextReply(std::string text) {
  HttpResponse r;
  r.contentType = "text/plain; charset=utf-8";
  r.body = std::move(text);
  return r;
}

// The response of the table's ten bands at n frequencies spread evenly on the graph's
// logarithmic axis.
QJsonObject ResponseJson(const filters::BandCoefficientTable& table, int n) {
  QJsonArray points;
  const double lo = std::log10(filters::ColumnFrequencyHz(1));
  const double hi = std::log10(filters::ColumnFrequencyHz(filters::kResponseColumns));
  for (int i = 0; i < n; ++i) {
    const double f = std::pow(10.0, lo + (hi - lo) * i / (n - 1));
    const double omega = 2.0 * M_PI * f / filters::kResponseSampleRateHz;
    double magnitude = 1.0;
    for (int b = 0; b < filters::kResponseBands; ++b)
      magnitude *= filters::BiquadMagnitude(table.Band(b), omega);
    points.append(QJsonObject{{"frequency", f}, {"db", 20.0 * std::log10(magnitude)}});
  }
  return QJsonObject{{"points", points}};
}

// A request matched to its route, with the parameters its pattern names resolved.
struct ApiCall {
  const Api& api;
  const HttpRequest& request;
  Access access;
  ServiceBus* bus = nullptr;  // {bus}
  std::string machine;        // {machine}: the machine's identifier
  Respond respond;

  QUrlQuery query() const { return QUrlQuery(QString::fromStdString(request.query)); }
  void run(const char* operation, const std::string& on, ServiceBus::Op op) const {
    bus->run(operation, on, std::move(op), respond);
  }
};

// ---- the handlers, one per route

void GetOpenApi(const ApiCall& c) {
  QFile file(QStringLiteral(":/service/openapi.json"));
  file.open(QIODevice::ReadOnly);
  HttpResponse r;
  r.body = file.readAll().toStdString();
  c.respond(r);
}

// Sessions are opened in front of the API (ServeHttp), where tokens become sessions; a request
// that reaches the API here comes by a transport without them.
void PostSession(const ApiCall& c) {
  c.respond(
      Error(405, "method_not_allowed", c.request.method + " is not allowed on " + c.request.path));
}

// The slots' pictures and the events' WebSocket are served in front of the API as well.
void ServedInFront(const ApiCall& c) {
  c.respond(Error(404, "not_found", "no such resource: " + c.request.path));
}

void GetBuses(const ApiCall& c) {
  QJsonArray list;
  for (ServiceBus* b : c.api.buses()) {
    const ServiceBus::Summary s = b->summary();
    list.append(QJsonObject{
        {"name", QString::fromStdString(b->name())},
        {"link", QString::fromStdString(b->link())},
        {"state", BusStateName(s.state)},
        {"reason", s.reason.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(s.reason))},
        {"machines", s.machines.size()},
        {"busy", s.busy.isEmpty() ? QJsonValue() : QJsonValue(s.busy)}});
  }
  const ApiInfo& info = c.api.info();
  QJsonObject body{{"buses", list}, {"tls", info.tls}};
  if (!info.warning.empty()) body.insert("warning", QString::fromStdString(info.warning));
  if (c.api.statusSource()) body.insert("service", c.api.statusSource()());
  c.respond(JsonReply(200, body));
}

void GetMachines(const ApiCall& c) {
  const ServiceBus::Summary s = c.bus->summary();
  if (s.state == BusState::Locked) return c.respond(Error(409, "data_dir_locked", s.lockError));
  c.respond(JsonReply(200, QJsonObject{{"machines", s.machines}}));
}

// A refresh reads the machine list the processors keep; a scan looks for up to max machines.
void RefreshOrScan(const ApiCall& c, bool scan) {
  int max = 8;
  if (scan)
    if (auto e = IntegerBody(c.request.body, "max", 1, network::kSlotCount, 8, max))
      return c.respond(Refused(*e));
  c.run(scan ? "scan" : "refresh", {}, [scan, max](BusWorker& w) {
    network::Station& st = *w.station();
    if (!w.editor().state.selectedMachineId().empty()) w.editor().state.CloseEditor();
    protocol::FaultWatch watch(st.bus);
    const int boxesBefore = w.boxes().count;
    bool ok = true;
    if (scan) {
      st.network.SetMaxSearch(max);
      st.network.StartOrStopScan();
      ok = !st.network.scanLostAdapter();
    } else {
      const network::RefreshOutcome r = st.network.RefreshMachines();
      ok = r == network::RefreshOutcome::Done || r == network::RefreshOutcome::NoListFile;
    }
    w.afterOperation();
    if (!ok || !st.link.state().Connected) {
      protocol::Outcome o = watch.outcome();
      if (o.ok) o = protocol::Outcome::Failed("the adapter failed");
      return w.failure(o);
    }
    // The scan ends by storing the list; a list that could not be stored (or a machine found
    // that could not be let go) is no success, and what was found is said all the same.
    const BusWorker::Boxes boxes = w.boxes();
    const bool notStored = boxes.last == network::texts::kFileWriteError;
    if (scan && boxes.count != boxesBefore &&
        (notStored || boxes.last == network::texts::kNoWriteS)) {
      QJsonArray found;
      for (int i = 0; i < std::min<int>(st.network.foundCount(), network::kListEntries); ++i)
        found.append(showfile::Latin1(st.network.list().entry(i)));
      QJsonObject body{{"error", notStored ? "not_stored" : "exchange_failed"},
                       {"message", QString::fromStdString(
                                       notStored ? "the machine list could not be written" +
                                                       (boxes.detail.empty() ? std::string()
                                                                             : ": " + boxes.detail)
                                                 : boxes.last)},
                       {"found", found}};
      return JsonReply(notStored ? 500 : 502, body);
    }
    QJsonArray faults;
    for (const auto& f : st.network.readFaults())
      faults.append(QString::fromStdString(network::ReadFaultText(f)));
    return JsonReply(200, QJsonObject{{"machines", w.slotSummaries()}, {"readFaults", faults}});
  });
}
void PostRefresh(const ApiCall& c) { RefreshOrScan(c, false); }
void PostScan(const ApiCall& c) { RefreshOrScan(c, true); }

void GetSnapshot(const ApiCall& c) {
  c.run("snapshot", {}, [](BusWorker& w) {
    const editor::SnapshotTake take = editor::TakeShowSnapshot(w.editor(), w.station()->network);
    if (!take.outcome.ok) return w.failure(take.outcome);
    QJsonArray machines;
    for (const editor::MachineValues& m : take.machines)
      machines.append(w.withDoubts(showfile::MachineToJson(m), m.id));
    return JsonReply(200, QJsonObject{{"machines", machines}});
  });
}

void PutSnapshot(const ApiCall& c) {
  QJsonObject json;
  editor::ShowSnapshot show;
  if (auto e = showfile::ParseObject(c.request.body, json)) return c.respond(Refused(*e));
  if (auto e = showfile::SnapshotFromJson(json, show)) return c.respond(Refused(*e));
  c.run("snapshot", {}, [show](BusWorker& w) {
    const editor::RestoreReport report = editor::RestoreShowSnapshot(
        w.editor(), w.presets(), w.station()->network, show,
        [&w](int done, int total) { w.progress(static_cast<double>(done) / total); });
    // Fields come as "ID: field", each machine's in the order they went out.
    std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>> fields;
    const auto split = [&fields](const std::vector<std::string>& list, bool applied) {
      for (const auto& f : list) {
        const auto colon = f.find(": ");
        if (colon == std::string::npos) continue;
        auto& entry = fields[f.substr(0, colon)];
        (applied ? entry.first : entry.second).push_back(f.substr(colon + 2));
      }
    };
    split(report.applied, true);
    split(report.notApplied, false);
    for (const auto& [machine, lists] : fields)
      w.noteBandWrites(machine, lists.first, lists.second);
    // Every machine's values are read again when asked for; the one held is published.
    w.forgetAllMachines();
    if (w.station()->bus.MachineSelected) w.publishHeldMachine();
    if (!report.outcome.ok) return w.failure(report.outcome, report.applied, report.notApplied);
    QJsonArray differences;
    for (const auto& d : report.differences) differences.append(QString::fromStdString(d));
    return JsonReply(200, QJsonObject{{"differences", differences}});
  });
}

void GetMachine(const ApiCall& c) {
  const bool fresh = c.query().queryItemValue("fresh") == QLatin1String("true");
  if (!fresh)
    if (auto cached = c.bus->cachedMachine(c.machine)) return c.respond(JsonReply(200, *cached));
  c.run("", c.machine, [id = c.machine, fresh](BusWorker& w) {
    if (auto failed = Hold(w, id, fresh)) return *failed;
    return JsonReply(200, w.publishHeldMachine());
  });
}

void PatchMachine(const ApiCall& c) {
  QJsonObject json;
  editor::MachineChange change;
  if (auto e = showfile::ParseObject(c.request.body, json)) return c.respond(Refused(*e));
  if (auto e = showfile::ChangeFromJson(json, change)) return c.respond(Refused(*e));
  c.run("patch", c.machine, [id = c.machine, change](BusWorker& w) {
    if (auto failed = Hold(w, id, false)) return *failed;
    const editor::ChangeResult result = editor::ApplyMachineChange(w.editor(), change);
    w.noteBandWrites(id, result.applied, result.notApplied);
    if (!result.outcome.ok) {
      w.forgetMachine(id);
      return w.failure(result.outcome, result.applied, result.notApplied);
    }
    return JsonReply(200, w.publishHeldMachine());
  });
}

void PostHardwarePreset(const ApiCall& c) {
  int number = 0;
  if (auto e = IntegerBody(c.request.body, "number", 0, network::kHardwarePresetCount - 1,
                           std::nullopt, number))
    return c.respond(Refused(*e));
  c.run("hardware-preset", c.machine, [id = c.machine, number](BusWorker& w) {
    const int slot = w.slotOf(id);
    if (slot < 0) return Error(404, "not_found", "no machine " + id + " on this bus");
    w.forgetMachine(id);
    protocol::FaultWatch watch(w.station()->bus);
    const network::PresetChangeOutcome o = w.presets().ApplyHardwarePreset(slot, number);
    if (o != network::PresetChangeOutcome::Done) {
      // The bus's own account says whether the processor fell silent.
      const protocol::Outcome bus = watch.outcome();
      return w.failure(protocol::Outcome::Failed(std::string(network::PresetChangeText(o)) +
                                                 (bus.ok ? "" : ": " + bus.reason)));
    }
    const int running = w.station()->network.slotAt(slot).record.hardwarePreset;
    if (running != number)
      return w.failure(protocol::Outcome::Failed("the processor runs hardware preset " +
                                                 std::to_string(running)));
    return JsonReply(200, QJsonObject{{"hardwarePreset", running}});
  });
}

void RecallOrStore(const ApiCall& c, bool recall) {
  int location = 0;
  if (auto e = IntegerBody(c.request.body, "location", 0, 7, std::nullopt, location))
    return c.respond(Refused(*e));
  c.run(recall ? "recall" : "store", c.machine, [id = c.machine, location, recall](BusWorker& w) {
    if (auto failed = Hold(w, id, false)) return *failed;
    editor::HeadlessEditor& ed = w.editor();
    protocol::Outcome outcome;
    if (recall) {
      const editor::RecallResult r = ed.presets.RecallFromLocation(location);
      outcome = r.outcome;
      if (!r.unread.empty())
        outcome.also(
            protocol::Outcome::Failed("the processor did not report all the "
                                      "recalled settings"));
      w.noteAllBandsWritten(r.outcome.ok);
    } else {
      outcome = ed.presets.StoreToLocation(location);
    }
    if (!outcome.ok) {
      w.forgetMachine(id);
      return w.failure(outcome);
    }
    return JsonReply(200, w.publishHeldMachine());
  });
}
void PostRecall(const ApiCall& c) { RecallOrStore(c, true); }
void PostStore(const ApiCall& c) { RecallOrStore(c, false); }

void GetEq(const ApiCall& c) {
  c.run("", c.machine, [id = c.machine](BusWorker& w) {
    if (auto failed = Hold(w, id, false)) return *failed;
    return TextReply(filters::WriteFilterText(editor::EditorFilterBands(w.editor().state)));
  });
}

void PostEq(const ApiCall& c) {
  filters::FilterReadResult read = filters::ParseFilterText(c.request.body);
  if (!read.ok()) return c.respond(Error(400, "bad_filter_text", read.error));
  const bool preamp = c.query().queryItemValue("preamp") == QLatin1String("true");
  if (preamp && !read.filters->preampDb)
    return c.respond(
        Error(400, "bad_filter_text", "the text has no Preamp line: nothing was sent"));
  c.run("eq", c.machine, [id = c.machine, filters = *read.filters, preamp](BusWorker& w) {
    if (auto failed = Hold(w, id, false)) return *failed;
    const editor::ImportOutcome out =
        editor::ApplyImportedFilters(w.editor().state, filters, preamp);
    w.noteAllBandsWritten(out.sent);
    if (!out.sent) {
      w.forgetMachine(id);
      return w.failure(protocol::Outcome::Failed(out.reason));
    }
    QJsonArray changes;
    for (const auto& ch : out.changes) changes.append(QString::fromStdString(ch));
    return JsonReply(200, QJsonObject{{"changes", changes}, {"state", w.publishHeldMachine()}});
  });
}

void GetResponse(const ApiCall& c) {
  const QUrlQuery query = c.query();
  bool ok = true;
  int points = 200;
  if (query.hasQueryItem("points")) points = query.queryItemValue("points").toInt(&ok);
  if (!ok || points < 2 || points > 2000)
    return c.respond(JsonReply(400, QJsonObject{{"error", "out_of_range"},
                                                {"message", "points: 2 … 2000"},
                                                {"field", "points"},
                                                {"min", 2},
                                                {"max", 2000}}));
  const bool quantized = query.queryItemValue("quantized") == QLatin1String("true");
  c.run("", c.machine, [id = c.machine, points, quantized](BusWorker& w) {
    if (auto failed = Hold(w, id, false)) return *failed;
    const filters::BandCoefficientTable& table = w.editor().state.coefficientTable();
    return JsonReply(200, ResponseJson(quantized ? filters::QuantizedTable(table) : table, points));
  });
}

// ---- the route table

struct Route {
  const char* method;
  const char* pattern;
  void (*handler)(const ApiCall&);
};

// Every route, the ones served in front of the API included, so that the table is the API's
// whole surface. A segment in braces is a parameter: {bus} a bus's name, {machine} a machine's
// identifier or slot number.
constexpr Route kRoutes[] = {
    {"GET", "/api/v1/openapi.json", GetOpenApi},
    {"POST", "/api/v1/session", PostSession},
    {"GET", "/api/v1/events", ServedInFront},
    {"GET", "/api/v1/buses", GetBuses},
    {"GET", "/api/v1/buses/{bus}/machines", GetMachines},
    {"POST", "/api/v1/buses/{bus}/refresh", PostRefresh},
    {"POST", "/api/v1/buses/{bus}/scan", PostScan},
    {"GET", "/api/v1/buses/{bus}/snapshot", GetSnapshot},
    {"PUT", "/api/v1/buses/{bus}/snapshot", PutSnapshot},
    {"GET", "/api/v1/buses/{bus}/machines/{machine}", GetMachine},
    {"PATCH", "/api/v1/buses/{bus}/machines/{machine}", PatchMachine},
    {"POST", "/api/v1/buses/{bus}/machines/{machine}/hardware-preset", PostHardwarePreset},
    {"POST", "/api/v1/buses/{bus}/machines/{machine}/user-preset/recall", PostRecall},
    {"POST", "/api/v1/buses/{bus}/machines/{machine}/user-preset/store", PostStore},
    {"GET", "/api/v1/buses/{bus}/machines/{machine}/eq", GetEq},
    {"POST", "/api/v1/buses/{bus}/machines/{machine}/eq", PostEq},
    {"GET", "/api/v1/buses/{bus}/machines/{machine}/response", GetResponse},
    {"GET", "/api/v1/buses/{bus}/machines/{machine}/picture", ServedInFront},
};

bool IsParameter(const std::string& segment) {
  return segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
}

// The table's patterns in segments, in the table's order.
const std::vector<std::vector<std::string>>& PatternSegments() {
  static const std::vector<std::vector<std::string>> patterns = [] {
    std::vector<std::vector<std::string>> out;
    for (const Route& r : kRoutes) out.push_back(Segments(r.pattern));
    return out;
  }();
  return patterns;
}

// Whether the first n segments of the path fit the pattern's.
bool FitsUpTo(const std::vector<std::string>& pattern, const std::vector<std::string>& path,
              std::size_t n) {
  if (pattern.size() < n || path.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (!IsParameter(pattern[i]) && pattern[i] != path[i]) return false;
  return true;
}

// A GET route answers HEAD as well.
bool Takes(const Route& route, const std::string& method) {
  return method == route.method || (method == "HEAD" && std::string_view(route.method) == "GET");
}

}  // namespace

Api::Api(std::vector<ServiceBus*> buses, ApiInfo info, QObject* parent)
    : QObject(parent), buses_(std::move(buses)), info_(std::move(info)) {}

ServiceBus* Api::bus(const std::string& name) const {
  for (ServiceBus* b : buses_)
    if (b->name() == name) return b;
  return nullptr;
}

std::vector<ApiRoute> Api::routes() {
  std::vector<ApiRoute> out;
  for (const Route& r : kRoutes) out.push_back({r.method, r.pattern});
  return out;
}

void Api::handle(const HttpRequest& request, Access access, Respond respond) {
  const std::vector<std::string> seg = Segments(request.path);
  const std::string& method = request.method;
  const bool get = method == "GET" || method == "HEAD";
  if (seg.size() < 2 || seg[0] != "api" || seg[1] != "v1") {
    respond(Error(404, "not_found", "no such resource: " + request.path));
    return;
  }
  if (access == Access::None) {
    respond(Error(401, "unauthorized", "a token is needed"));
    return;
  }
  if (!get && access != Access::Control) {
    respond(Error(403, "forbidden", "this token may only read"));
    return;
  }
  // The parameters from left to right, each as soon as a pattern names it there: an unknown
  // bus or machine is said as such, whatever follows it in the path.
  ApiCall call{*this, request, access, nullptr, {}, std::move(respond)};
  const auto& patterns = PatternSegments();
  for (std::size_t i = 0; i < seg.size(); ++i) {
    std::string named;
    for (const auto& p : patterns)
      if (named.empty() && FitsUpTo(p, seg, i + 1) && IsParameter(p[i])) named = p[i];
    if (named == "{bus}") {
      call.bus = bus(seg[i]);
      if (!call.bus) return call.respond(Error(404, "not_found", "no bus named " + seg[i]));
    } else if (named == "{machine}") {
      call.machine = call.bus->resolveMachine(seg[i]);
      if (call.machine.empty()) {
        const ServiceBus::Summary s = call.bus->summary();
        if (s.state == BusState::Locked)
          return call.respond(Error(409, "data_dir_locked", s.lockError));
        return call.respond(
            Error(404, "not_found", "no machine " + seg[i] + " on bus " + call.bus->name()));
      }
    }
  }
  std::string allow;
  for (std::size_t r = 0; r < patterns.size(); ++r) {
    if (patterns[r].size() != seg.size() || !FitsUpTo(patterns[r], seg, seg.size())) continue;
    if (Takes(kRoutes[r], method)) return kRoutes[r].handler(call);
    allow += (allow.empty() ? "" : ", ") + std::string(kRoutes[r].method);
    if (std::string_view(kRoutes[r].method) == "GET") allow += ", HEAD";
  }
  if (allow.empty())
    return call.respond(Error(404, "not_found", "no such resource: " + request.path));
  HttpResponse refused =
      Error(405, "method_not_allowed", method + " is not allowed on " + request.path);
  refused.headers.emplace_back("Allow", allow);
  call.respond(refused);
}

HttpServer::Handler ServeHttp(Api& api, AccessControl& access, HttpRoutes routes) {
  return [&api, &access, routes = std::move(routes)](
             const HttpRequest& request, const ClientInfo& client, HttpServer::Respond respond) {
    if (routes.beforeAccess)
      if (auto page = routes.beforeAccess(request)) return respond(*page);
    Access level = Access::None;
    if (auto refused = access.admit(request, client.address.toString().toStdString(),
                                    std::chrono::steady_clock::now(), &level))
      return respond(*refused);
    if (request.path == "/api/v1/session" && request.method == "POST")
      return respond(access.openSession(request));
    if (routes.afterAccess)
      if (auto content = routes.afterAccess(request)) return respond(*content);
    api.handle(request, level, std::move(respond));
  };
}

HttpServer::UpgradeCheck ServeUpgrade(AccessControl& access) {
  return [&access](const HttpRequest& request, const ClientInfo&) -> std::optional<HttpResponse> {
    if (request.path != "/api/v1/events")
      return ErrorResponse(404, "not_found", "no WebSocket at " + request.path);
    return access.admitUpgrade(request);
  };
}

}  // namespace qubix::service
