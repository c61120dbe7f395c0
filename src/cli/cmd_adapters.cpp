// adapters: what each real backend sees on this machine (path, vendor and product ids,
// description, serial number, latency timer), why a backend cannot be used, and which adapter a
// program started without --link would take. Meant for the
// operator setting up hardware; it opens nothing for longer than it takes to look.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "link/backends/PortReport.h"
#include "link/backends/auto/AutoAdapter.h"
#include "link/backends/d2xx/D2xxAdapter.h"
#include "link/backends/ftdi/FtdiAdapter.h"
#include "link/backends/net/NetAdapter.h"
#include "link/backends/serial/SerialAdapter.h"

namespace qubix::cli {
namespace {

using link::backends::BackendReport;
using link::backends::PortInfo;

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

std::string LinkFor(const BackendReport& report, const PortInfo& port) {
  if (report.backend == "serial") return "serial:" + port.path;
  if (report.backend == "ftdi") return "ftdi:" + port.description;
  return "d2xx:";
}

// Which adapter the default (no --link) takes now, or why it takes none.
struct DefaultChoice {
  std::string takes;
  std::string reason;
};

DefaultChoice LookAsTheDefault() {
  link::backends::AutoAdapter automatic;
  std::uint32_t count = 0;
  automatic.listDevices({}, count);
  return {automatic.firstFound(), automatic.firstFound().empty() ? automatic.lastError() : ""};
}

void PrintText(Invocation& inv, const std::vector<BackendReport>& reports,
               const DefaultChoice& choice) {
  inv.print("default (no --link): " +
            (choice.takes.empty() ? choice.reason : "takes " + choice.takes) + "\n");
  for (const auto& r : reports) {
    if (!r.available) {
      inv.print(r.backend + ": " + r.reason + "\n");
      continue;
    }
    // The network backends list nothing: the device server is named in the link itself.
    if (r.backend == link::backends::NetAdapter::probe().backend) {
      inv.print(r.backend +
                ": --link tcp:HOST:PORT or rfc2217:HOST:PORT for a bus behind a "
                "device server\n");
      continue;
    }
    inv.print(r.backend + ": " + std::to_string(r.ports.size()) + " adapter" +
              (r.ports.size() == 1 ? "" : "s") + "\n");
    for (const auto& p : r.ports) {
      std::string line = "  " + p.path;
      if (p.vendorId || p.productId) line += "  " + Hex4(p.vendorId) + ":" + Hex4(p.productId);
      line += "  \"" + p.description + "\"";
      if (!p.serialNumber.empty()) line += "  serial " + p.serialNumber;
      line += p.latencyTimerMs >= 0 ? "  latency " + std::to_string(p.latencyTimerMs) + " ms"
                                    : std::string("  latency unknown");
      line += "  --link " + LinkFor(r, p);
      if (!p.note.empty()) line += "  (" + p.note + ")";
      inv.print(line + "\n");
    }
  }
}

void PrintJson(Invocation& inv, const std::vector<BackendReport>& reports,
               const DefaultChoice& choice) {
  QJsonArray backends;
  for (const auto& r : reports) {
    QJsonArray adapters;
    for (const auto& p : r.ports) {
      adapters.append(QJsonObject{{"path", JsonText(p.path)},
                                  {"vendor_id", JsonText(Hex4(p.vendorId))},
                                  {"product_id", JsonText(Hex4(p.productId))},
                                  {"description", JsonText(p.description)},
                                  {"serial_number", JsonText(p.serialNumber)},
                                  {"latency_timer_ms", p.latencyTimerMs},
                                  {"link", JsonText(LinkFor(r, p))},
                                  {"note", JsonText(p.note)}});
    }
    backends.append(QJsonObject{{"name", JsonText(r.backend)},
                                {"available", r.available},
                                {"reason", JsonText(r.reason)},
                                {"adapters", adapters}});
  }
  const QJsonObject automatic{{"takes", JsonText(choice.takes)},
                              {"reason", JsonText(choice.reason)}};
  inv.print(JsonLine(QJsonDocument(QJsonObject{{"backends", backends}, {"default", automatic}})));
}

int RunAdapters(Invocation& inv) {
  inv.rejectPositional();
  const std::vector<BackendReport> reports = {
      link::backends::SerialAdapter::probe(),
      link::backends::FtdiAdapter::probe(),
      link::backends::D2xxAdapter::probe(),
      link::backends::NetAdapter::probe(),
  };
  const DefaultChoice choice = LookAsTheDefault();
  if (inv.json)
    PrintJson(inv, reports, choice);
  else
    PrintText(inv, reports, choice);
  return kExitOk;
}

}  // namespace

static RegisterCommand adaptersCommand{
    {QStringLiteral("adapters"),
     QStringLiteral("List the USB adapters each backend sees, or why it cannot look."), nullptr,
     RunAdapters}};

}  // namespace qubix::cli
