#include "service/web/WebContent.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonValue>
#include <array>
#include <string_view>

#include "files/DataDir.h"
#include "network/Slots.h"
#include "service/BusWorker.h"

namespace qubix::service::web {

namespace {

struct PageFile {
  std::string_view path;
  std::string_view resource;
  std::string_view type;
};

constexpr std::array<PageFile, 11> kFiles{{
    {"/", ":/web/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/web/index.html", "text/html; charset=utf-8"},
    {"/style.css", ":/web/style.css", "text/css; charset=utf-8"},
    {"/app.js", ":/web/app.js", "text/javascript; charset=utf-8"},
    {"/api.js", ":/web/api.js", "text/javascript; charset=utf-8"},
    {"/events.js", ":/web/events.js", "text/javascript; charset=utf-8"},
    {"/patchqueue.js", ":/web/patchqueue.js", "text/javascript; charset=utf-8"},
    {"/controls.js", ":/web/controls.js", "text/javascript; charset=utf-8"},
    {"/overview.js", ":/web/overview.js", "text/javascript; charset=utf-8"},
    {"/curve.js", ":/web/curve.js", "text/javascript; charset=utf-8"},
    {"/meters.js", ":/web/meters.js", "text/javascript; charset=utf-8"},
}};

HttpResponse FileResponse(const QString& file, std::string_view type) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly))
    return ErrorResponse(404, "not_found", "that file is not there");
  HttpResponse r;
  r.contentType = std::string(type);
  const QByteArray bytes = f.readAll();
  r.body.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return r;
}

}  // namespace

std::optional<HttpResponse> ServePage(const HttpRequest& request) {
  if (request.method != "GET" && request.method != "HEAD") return std::nullopt;
  const PageFile* found = nullptr;
  for (const PageFile& f : kFiles)
    if (request.path == f.path) found = &f;
  if (!found) return std::nullopt;
  HttpResponse r = FileResponse(
      QString::fromUtf8(found->resource.data(), static_cast<qsizetype>(found->resource.size())),
      found->type);
  // Always asked for again after a restart (a new build may have new files); nothing from
  // elsewhere runs on the page.
  r.headers.emplace_back("Cache-Control", "no-cache");
  r.headers.emplace_back("X-Content-Type-Options", "nosniff");
  r.headers.emplace_back("Content-Security-Policy",
                         "default-src 'self'; img-src 'self' data:; connect-src 'self'; "
                         "frame-ancestors 'none'");
  return r;
}

std::optional<PictureRequest> ParsePictureRequest(const HttpRequest& request) {
  if (request.method != "GET") return std::nullopt;
  constexpr std::string_view kBuses = "/api/v1/buses/";
  constexpr std::string_view kMachines = "/machines/";
  constexpr std::string_view kPicture = "/picture";
  std::string_view path = request.path;
  if (!path.starts_with(kBuses) || !path.ends_with(kPicture)) return std::nullopt;
  path.remove_prefix(kBuses.size());
  path.remove_suffix(kPicture.size());
  const auto middle = path.find(kMachines);
  if (middle == std::string_view::npos) return std::nullopt;
  PictureRequest p{std::string(path.substr(0, middle)),
                   std::string(path.substr(middle + kMachines.size()))};
  if (p.bus.empty() || p.machine.empty() || p.bus.find('/') != std::string::npos ||
      p.machine.find('/') != std::string::npos)
    return std::nullopt;
  return p;
}

HttpResponse SlotPicture(const std::filesystem::path& dataDir, const QJsonObject& summary) {
  network::SlotState slot;
  slot.identifier = summary.value(QStringLiteral("id")).toString().toStdString();
  const QJsonValue preset = summary.value(QStringLiteral("hardwarePreset"));
  slot.recordUnknown = !preset.isObject();
  slot.record.hardwarePreset = preset.toObject().value(QStringLiteral("number")).toInt(-1);
  slot.extraPresetName = summary.value(QStringLiteral("extraPreset")).toString().toStdString();
  if (!slot.extraPresetName.empty())
    slot.extraPresetPicture =
        network::ExtraPresetPicturePath(dataDir, slot.extraPresetName).string();
  const network::SlotDisplay display = network::ComputeSlotDisplay(
      0, slot, network::DefaultHardwarePresetNames(), network::DefaultUserPresetNames(), dataDir);
  if (!display.picture || display.picture->empty())
    return ErrorResponse(404, "not_found", "the slot shows no picture");
  // A data directory the window never seeded lacks the shipped pictures: those come from the
  // program's own shared data then.
  std::filesystem::path file = *display.picture;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    const std::filesystem::path shared =
        files::SharedDataDir(QCoreApplication::applicationDirPath().toStdString());
    if (!shared.empty()) file = shared / file.lexically_relative(dataDir);
  }
  HttpResponse r = FileResponse(QString::fromStdString(file.string()), "image/jpeg");
  r.headers.emplace_back("Cache-Control", "no-cache");
  return r;
}

std::optional<HttpResponse> ServeSlotPicture(const HttpRequest& request,
                                             const std::vector<ServiceBus*>& buses) {
  const auto wanted = ParsePictureRequest(request);
  if (!wanted) return std::nullopt;
  for (ServiceBus* bus : buses) {
    if (bus->name() != wanted->bus) continue;
    const QString id = QString::fromStdString(bus->resolveMachine(wanted->machine));
    for (const auto& m : bus->summary().machines)
      if (!id.isEmpty() && m.toObject().value(QStringLiteral("id")).toString() == id)
        return SlotPicture(bus->dataDir(), m.toObject());
    return ErrorResponse(404, "not_found", "no machine " + wanted->machine);
  }
  return ErrorResponse(404, "not_found", "no bus " + wanted->bus);
}

}  // namespace qubix::service::web
