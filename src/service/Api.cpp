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

}  // namespace

Api::Api(std::vector<ServiceBus*> buses, ApiInfo info, QObject* parent)
    : QObject(parent), buses_(std::move(buses)), info_(std::move(info)) {}

ServiceBus* Api::bus(const std::string& name) const {
  for (ServiceBus* b : buses_)
    if (b->name() == name) return b;
  return nullptr;
}

void Api::handle(const HttpRequest& request, Access access, Respond respond) {
  const std::vector<std::string> seg = Segments(request.path);
  const std::string& method = request.method;
  const bool get = method == "GET" || method == "HEAD";
  const QUrlQuery query(QString::fromStdString(request.query));
  const auto notAllowed = [&] {
    respond(Error(405, "method_not_allowed", method + " is not allowed on " + request.path));
  };
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
  if (seg.size() == 3 && seg[2] == "openapi.json") {
    if (!get) return notAllowed();
    QFile file(QStringLiteral(":/service/openapi.json"));
    file.open(QIODevice::ReadOnly);
    HttpResponse r;
    r.body = file.readAll().toStdString();
    respond(r);
    return;
  }
  // POST /api/v1/session is answered before the API (where tokens become sessions).
  if (seg.size() == 3 && seg[2] == "session") return notAllowed();
  if (seg.size() < 3 || seg[2] != "buses") {
    respond(Error(404, "not_found", "no such resource: " + request.path));
    return;
  }
  if (seg.size() == 3) {
    if (!get) return notAllowed();
    QJsonArray list;
    for (ServiceBus* b : buses_) {
      const ServiceBus::Summary s = b->summary();
      list.append(
          QJsonObject{{"name", QString::fromStdString(b->name())},
                      {"link", QString::fromStdString(b->link())},
                      {"state", BusStateName(s.state)},
                      {"reason", s.reason.empty() ? QJsonValue()
                                                  : QJsonValue(QString::fromStdString(s.reason))},
                      {"machines", s.machines.size()},
                      {"busy", s.busy.isEmpty() ? QJsonValue() : QJsonValue(s.busy)}});
    }
    QJsonObject body{{"buses", list}, {"tls", info_.tls}};
    if (!info_.warning.empty()) body.insert("warning", QString::fromStdString(info_.warning));
    if (status_) body.insert("service", status_());
    respond(JsonReply(200, body));
    return;
  }
  ServiceBus* bus = this->bus(seg[3]);
  if (!bus) {
    respond(Error(404, "not_found", "no bus named " + seg[3]));
    return;
  }
  const auto run = [&](const char* operation, const std::string& machine, ServiceBus::Op op) {
    bus->run(operation, machine, std::move(op), respond);
  };
  if (seg.size() == 4) return respond(Error(404, "not_found", "no such resource: " + request.path));
  const std::string& what = seg[4];

  if (seg.size() == 5 && what == "machines") {
    if (!get) return notAllowed();
    const ServiceBus::Summary s = bus->summary();
    if (s.state == BusState::Locked) return respond(Error(409, "data_dir_locked", s.lockError));
    return respond(JsonReply(200, QJsonObject{{"machines", s.machines}}));
  }
  if (seg.size() == 5 && (what == "refresh" || what == "scan")) {
    if (method != "POST") return notAllowed();
    int max = 8;
    if (what == "scan")
      if (auto e = IntegerBody(request.body, "max", 1, network::kSlotCount, 8, max))
        return respond(Refused(*e));
    const bool scan = what == "scan";
    return run(scan ? "scan" : "refresh", {}, [scan, max](BusWorker& w) {
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
        QJsonObject body{
            {"error", notStored ? "not_stored" : "exchange_failed"},
            {"message",
             QString::fromStdString(
                 notStored ? "the machine list could not be written" +
                                 (boxes.detail.empty() ? std::string() : ": " + boxes.detail)
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
  if (seg.size() == 5 && what == "snapshot") {
    if (get) {
      return run("snapshot", {}, [](BusWorker& w) {
        const editor::SnapshotTake take =
            editor::TakeShowSnapshot(w.editor(), w.station()->network);
        if (!take.outcome.ok) return w.failure(take.outcome);
        QJsonArray machines;
        for (const editor::MachineValues& m : take.machines)
          machines.append(w.withDoubts(showfile::MachineToJson(m), m.id));
        return JsonReply(200, QJsonObject{{"machines", machines}});
      });
    }
    if (method != "PUT") return notAllowed();
    QJsonObject json;
    editor::ShowSnapshot show;
    if (auto e = showfile::ParseObject(request.body, json)) return respond(Refused(*e));
    if (auto e = showfile::SnapshotFromJson(json, show)) return respond(Refused(*e));
    return run("snapshot", {}, [show](BusWorker& w) {
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
  if (what != "machines" || seg.size() < 6)
    return respond(Error(404, "not_found", "no such resource: " + request.path));

  const std::string id = bus->resolveMachine(seg[5]);
  if (id.empty()) {
    const ServiceBus::Summary s = bus->summary();
    if (s.state == BusState::Locked) return respond(Error(409, "data_dir_locked", s.lockError));
    return respond(Error(404, "not_found", "no machine " + seg[5] + " on bus " + seg[3]));
  }
  const std::string sub = seg.size() > 6 ? seg[6] : std::string();

  if (seg.size() == 6) {
    if (get) {
      const bool fresh = query.queryItemValue("fresh") == QLatin1String("true");
      if (!fresh)
        if (auto cached = bus->cachedMachine(id)) return respond(JsonReply(200, *cached));
      return run("", id, [id, fresh](BusWorker& w) {
        if (auto failed = Hold(w, id, fresh)) return *failed;
        return JsonReply(200, w.publishHeldMachine());
      });
    }
    if (method != "PATCH") return notAllowed();
    QJsonObject json;
    editor::MachineChange change;
    if (auto e = showfile::ParseObject(request.body, json)) return respond(Refused(*e));
    if (auto e = showfile::ChangeFromJson(json, change)) return respond(Refused(*e));
    return run("patch", id, [id, change](BusWorker& w) {
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
  if (seg.size() == 7 && sub == "hardware-preset") {
    if (method != "POST") return notAllowed();
    int number = 0;
    if (auto e = IntegerBody(request.body, "number", 0, network::kHardwarePresetCount - 1,
                             std::nullopt, number))
      return respond(Refused(*e));
    return run("hardware-preset", id, [id, number](BusWorker& w) {
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
  if (seg.size() == 8 && sub == "user-preset" && (seg[7] == "recall" || seg[7] == "store")) {
    if (method != "POST") return notAllowed();
    int location = 0;
    if (auto e = IntegerBody(request.body, "location", 0, 7, std::nullopt, location))
      return respond(Refused(*e));
    const bool recall = seg[7] == "recall";
    return run(recall ? "recall" : "store", id, [id, location, recall](BusWorker& w) {
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
  if (seg.size() == 7 && sub == "eq") {
    if (get) {
      return run("", id, [id](BusWorker& w) {
        if (auto failed = Hold(w, id, false)) return *failed;
        return TextReply(filters::WriteFilterText(editor::EditorFilterBands(w.editor().state)));
      });
    }
    if (method != "POST") return notAllowed();
    filters::FilterReadResult read = filters::ParseFilterText(request.body);
    if (!read.ok()) return respond(Error(400, "bad_filter_text", read.error));
    const bool preamp = query.queryItemValue("preamp") == QLatin1String("true");
    if (preamp && !read.filters->preampDb)
      return respond(
          Error(400, "bad_filter_text", "the text has no Preamp line: nothing was sent"));
    return run("eq", id, [id, filters = *read.filters, preamp](BusWorker& w) {
      if (auto failed = Hold(w, id, false)) return *failed;
      const editor::ImportOutcome out =
          editor::ApplyImportedFilters(w.editor().state, filters, preamp);
      w.noteAllBandsWritten(out.sent);
      if (!out.sent) {
        w.forgetMachine(id);
        return w.failure(protocol::Outcome::Failed(out.reason));
      }
      QJsonArray changes;
      for (const auto& c : out.changes) changes.append(QString::fromStdString(c));
      return JsonReply(200, QJsonObject{{"changes", changes}, {"state", w.publishHeldMachine()}});
    });
  }
  if (seg.size() == 7 && sub == "response") {
    if (!get) return notAllowed();
    bool ok = true;
    int points = 200;
    if (query.hasQueryItem("points")) points = query.queryItemValue("points").toInt(&ok);
    if (!ok || points < 2 || points > 2000)
      return respond(JsonReply(400, QJsonObject{{"error", "out_of_range"},
                                                {"message", "points: 2 … 2000"},
                                                {"field", "points"},
                                                {"min", 2},
                                                {"max", 2000}}));
    const bool quantized = query.queryItemValue("quantized") == QLatin1String("true");
    return run("", id, [id, points, quantized](BusWorker& w) {
      if (auto failed = Hold(w, id, false)) return *failed;
      const filters::BandCoefficientTable& table = w.editor().state.coefficientTable();
      return JsonReply(200,
                       ResponseJson(quantized ? filters::QuantizedTable(table) : table, points));
    });
  }
  respond(Error(404, "not_found", "no such resource: " + request.path));
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
