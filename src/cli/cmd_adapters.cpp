// adapters: what each real backend sees on this machine (path, vendor and product ids,
// description, serial number, latency timer) and why a backend cannot be used. Meant for the
// operator setting up hardware; it opens nothing for longer than it takes to look.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/Json.h"
#include "link/backends/PortReport.h"
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

void PrintText(Invocation& inv, const std::vector<BackendReport>& reports) {
  for (const auto& r : reports) {
    if (!r.available) {
      inv.print(r.backend + ": " + r.reason + "\n");
      continue;
    }
    // The network backends list nothing: the device server is named in the link itself.
    if (r.backend == link::backends::NetAdapter::probe().backend) {
      inv.print(r.backend + ": --link tcp:HOST:PORT or rfc2217:HOST:PORT for a bus behind a "
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

void PrintJson(Invocation& inv, const std::vector<BackendReport>& reports) {
  JsonWriter w;
  w.beginObject().key("backends").beginArray();
  for (const auto& r : reports) {
    w.beginObject().key("name").value(r.backend).key("available").value(r.available);
    w.key("reason").value(r.reason).key("adapters").beginArray();
    for (const auto& p : r.ports) {
      w.beginObject()
          .key("path").value(p.path)
          .key("vendor_id").value(Hex4(p.vendorId))
          .key("product_id").value(Hex4(p.productId))
          .key("description").value(p.description)
          .key("serial_number").value(p.serialNumber)
          .key("latency_timer_ms").value(p.latencyTimerMs)
          .key("link").value(LinkFor(r, p))
          .key("note").value(p.note)
          .endObject();
    }
    w.endArray().endObject();
  }
  w.endArray().endObject();
  inv.print(w.text());
}

int RunAdapters(Invocation& inv) {
  inv.rejectPositional();
  const std::vector<BackendReport> reports = {
      link::backends::SerialAdapter::probe(),
      link::backends::FtdiAdapter::probe(),
      link::backends::D2xxAdapter::probe(),
      link::backends::NetAdapter::probe(),
  };
  if (inv.json)
    PrintJson(inv, reports);
  else
    PrintText(inv, reports);
  return kExitOk;
}

}  // namespace

static RegisterCommand adaptersCommand{
    {QStringLiteral("adapters"),
     QStringLiteral("List the USB adapters each backend sees, or why it cannot look."), nullptr,
     RunAdapters}};

}  // namespace qubix::cli
