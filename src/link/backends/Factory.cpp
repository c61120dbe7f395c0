#include "link/backends/Factory.h"

#include "link/backends/NoDeviceAdapter.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"

namespace qubix::link::backends {

namespace {
std::unique_ptr<Adapter> notAvailable(std::string_view backend, std::string& error) {
  error = notAvailableText(backend, "not built into this program yet");
  return nullptr;
}
}  // namespace

std::string notAvailableText(std::string_view backend, std::string_view reason) {
  std::string text = "the ";
  text += backend;
  text += " adapter is not available: ";
  text += reason;
  return text;
}

std::unique_ptr<Adapter> makeAdapter(std::string_view uri, std::string& error) {
  error.clear();
  const auto colon = uri.find(':');
  const std::string_view scheme = uri.substr(0, colon);
  const std::string_view rest =
      colon == std::string_view::npos ? std::string_view{} : uri.substr(colon + 1);
  (void)rest;

  if (uri.empty() || scheme == "none") return std::make_unique<NoDeviceAdapter>();
  if (scheme == "sim")
    return std::make_unique<sim::SimAdapter>(sim::makeDemoBus(), sim::ClockMode::Real);
  if (scheme == "serial") return notAvailable("serial", error);
  if (scheme == "ftdi") return notAvailable("ftdi", error);
  if (scheme == "d2xx") return notAvailable("d2xx", error);

  error = "unknown link \"" + std::string(uri) +
          "\": use sim:, serial:DEVICE, ftdi:[DESCRIPTION] or d2xx:";
  return nullptr;
}

}  // namespace qubix::link::backends
