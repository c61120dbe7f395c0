// The page the service serves at / (its files are Qt resources, see web.qrc) and the pictures
// of the slots it shows, read from the bus's data directory.
#pragma once

#include <QJsonObject>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "service/http/HttpMessage.h"

namespace qubix::service {
class ServiceBus;
}

namespace qubix::service::web {

// GET or HEAD of "/" or one of the page's files: the file. Anything else: nullopt. The page
// needs no token (it asks for one itself); its requests to the API are checked as any other.
std::optional<HttpResponse> ServePage(const HttpRequest& request);

struct PictureRequest {
  std::string bus;
  std::string machine;  // identifier or slot number, as in the path
};

// GET /api/v1/buses/{bus}/machines/{machine}/picture (any query): what it names.
std::optional<PictureRequest> ParsePictureRequest(const HttpRequest& request);

// The picture the main window shows for a slot with this summary (GET …/machines): its
// hardware preset's picture, or the Extra preset's; 404 when there is none.
HttpResponse SlotPicture(const std::filesystem::path& dataDir, const QJsonObject& summary);

// GET /api/v1/buses/{bus}/machines/{machine}/picture answered from that bus's slots and data
// directory; nullopt for any other request.
std::optional<HttpResponse> ServeSlotPicture(const HttpRequest& request,
                                             const std::vector<ServiceBus*>& buses);

}  // namespace qubix::service::web
