// selftest: the first thing to run with a real adapter and bus. It opens the adapter --link
// names, reports what it found (backend, description, serial number, latency timer, event
// character), selects one machine - the first listed in maclist.dat, or the first a short scan
// finds -, queries its hardware preset and releases it, timing a one-byte acknowledgement and
// a multi-byte reply against their wire time, and ends with a verdict and advice. It changes
// nothing on any processor and writes no file.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/JsonOut.h"
#include "cli/StationSession.h"
#include "cli/UdevRule.h"
#include "link/backends/Latency.h"
#include "network/MachineList.h"
#include "network/NetworkTexts.h"
#include "network/Slots.h"
#include "protocol/Hex.h"

namespace qubix::cli {
namespace {

using link::backends::kDefaultLatencyTimerMs;
using link::backends::kEventCharacter;

constexpr int kDefaultScanTo = 32;
// Replies later than their wire time by more than a latency period and this much are slow.
constexpr double kSlackMs = 5.0;

struct Report {
  std::string link;
  std::string backend;
  bool connected = false;
  std::string openError;
  std::string description;
  std::string serialNumber;
  int latencyMs = -1;  // -1: this backend cannot read it back
  bool eventCharacterSet = false;
  std::string machine;
  std::string foundBy;  // "list" or "scan"
  int scannedTo = 0;
  double ackMs = -1, ackWireMs = 0, replyMs = -1, replyWireMs = 0;
  bool released = false;
  std::string verdict;  // "pass", "slow", "fail"
  std::vector<std::string> advice;
};

double ByteMs() { return 1000.0 * 10 / link::kBaudRate; }

template <typename F>
double TimedMs(F&& f, bool& ok) {
  const auto start = std::chrono::steady_clock::now();
  ok = f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// What a failed open most likely means, from the backend's reason.
std::string OpenAdvice(const std::string& reason) {
  const auto has = [&](const char* text) { return reason.find(text) != std::string::npos; };
  if (has("ermission") || has("not permitted") || has("libusb_open") || has("EACCES"))
    return PermissionAdvice(UdevRuleFolders());
  if (has(" is in use by ") && !has("kernel"))
    return "another program has the adapter open (named above): only one program may use an "
           "adapter at a time, so stop that one first";
  if (has("claim") || has("driver") || has("busy") || has("in use"))
    return "the kernel's serial driver holds the chip: use --link serial:, or unbind ftdi_sio for "
           "ftdi: and d2xx:";
  return "no adapter opened: check the USB cable; `qubix24ctl adapters` shows what each backend "
         "sees";
}

void Judge(Report& r) {
  if (!r.connected) {
    r.verdict = "fail";
    r.advice.push_back(OpenAdvice(r.openError));
    return;
  }
  if (r.machine.empty() || r.ackMs < 0 || r.replyMs < 0) {
    r.verdict = "fail";
    r.advice.push_back(
        "no machine answered: check the bus termination and wiring, and that the "
        "machines are powered" +
        std::string(r.foundBy.empty() && r.scannedTo > 0
                        ? " (addresses 1 ... " + std::to_string(r.scannedTo) +
                              " scanned; list the machines or use --scan-to)"
                        : ""));
    return;
  }
  r.verdict = "pass";
  const double latency = r.latencyMs > 0 ? r.latencyMs : link::backends::kLatencyTimerMs;
  // Over a device server the delay is the server's, not a USB chip's: its own two settings.
  const bool network = r.backend == "tcp" || r.backend == "rfc2217";
  const bool slowAck = r.ackMs > r.ackWireMs + latency + kSlackMs;
  const bool slowReply = r.replyMs > r.replyWireMs + latency + kSlackMs;
  if (network && (slowAck || slowReply)) {
    r.verdict = "slow";
    r.advice.push_back(
        "replies wait in the device server: give its accepter tcp(nodelay) and its connection "
        "chardelay: false (ser2net), both together");
  } else if (!network) {
    if (r.latencyMs == kDefaultLatencyTimerMs || slowAck) {
      r.verdict = "slow";
      r.advice.push_back(
          "one-byte replies wait for the chip's latency timer (still 16 ms?): the "
          "udev rule sets it to 2 ms for serial:, ftdi: and d2xx: set it themselves");
    }
    if (slowReply) {
      r.verdict = "slow";
      r.advice.push_back(
          "multi-byte replies wait for the latency timer: the event character \"O\" "
          "is not in effect");
    }
  }
  if (!r.released) {
    r.verdict = "fail";
    r.advice.push_back("the release \"R\" could not be written: the adapter stopped answering");
  }
}

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", ms);
  return text;
}

void PrintText(Invocation& inv, const Report& r) {
  const auto line = [&](const char* label, const std::string& value) {
    char head[16];
    std::snprintf(head, sizeof head, "%-13s", label);
    inv.print(head + value + "\n");
  };
  line("link", r.link.empty() ? std::string("none given: the default adapter") : r.link);
  line("backend", r.backend);
  if (!r.connected) {
    line("open", "failed: " + r.openError);
  } else {
    line("description", r.description);
    line("serial", r.serialNumber);
    line("latency", r.latencyMs >= 0 ? std::to_string(r.latencyMs) + " ms (read back)"
                                     : std::string("unknown (this backend cannot read it)"));
    line("event char", r.eventCharacterSet ? "\"O\" (set)" : "not available on this backend");
    if (r.machine.empty()) {
      line("machine", "none answered");
    } else {
      line("machine",
           r.machine + (r.foundBy == "list" ? " (first listed)" : " (found by scanning)"));
      if (r.ackMs >= 0) line("select", Ms(r.ackMs) + " for \"O\" (wire " + Ms(r.ackWireMs) + ")");
      if (r.replyMs >= 0)
        line("query", Ms(r.replyMs) + " for 7 bytes (wire " + Ms(r.replyWireMs) + ")");
    }
  }
  line("verdict", r.verdict);
  for (const auto& a : r.advice) line("advice", a);
}

void PrintJson(Invocation& inv, const Report& r) {
  QJsonArray advice;
  for (const auto& a : r.advice) advice.append(JsonText(a));
  const QJsonObject o{{"link", JsonText(r.link)},
                      {"backend", JsonText(r.backend)},
                      {"connected", r.connected},
                      {"open_error", JsonText(r.openError)},
                      {"description", JsonText(r.description)},
                      {"serial_number", JsonText(r.serialNumber)},
                      {"latency_timer_ms", r.latencyMs},
                      {"event_character_set", r.eventCharacterSet},
                      {"machine", JsonText(r.machine)},
                      {"found_by", JsonText(r.foundBy)},
                      {"ack_ms", JsonNumber(r.ackMs)},
                      {"ack_wire_ms", JsonNumber(r.ackWireMs)},
                      {"reply_ms", JsonNumber(r.replyMs)},
                      {"reply_wire_ms", JsonNumber(r.replyWireMs)},
                      {"verdict", JsonText(r.verdict)},
                      {"advice", advice}};
  inv.print(JsonLine(QJsonDocument(o)));
}

void AddSelfTestOptions(QCommandLineParser& p) {
  p.addOption(QCommandLineOption(
      QStringLiteral("scan-to"),
      QStringLiteral("With no machine listed, scan addresses 1 … N (default 32)."),
      QStringLiteral("N")));
}

// The timed round trip on one machine: select, one query, release.
void RoundTrip(network::Station& st, const std::string& frame, Report& r) {
  bool ok = false;
  r.ackMs = TimedMs([&] { return st.bus.SelectExchange(frame); }, ok);
  r.ackWireMs = static_cast<double>(protocol::FrameLength('H') + 1) * ByteMs();
  if (!ok) {
    r.ackMs = -1;
    return;
  }
  r.replyMs = TimedMs([&] { return st.bus.ReadParameter(protocol::param::kHardwarePreset); }, ok);
  r.replyWireMs =
      static_cast<double>(protocol::FrameLength('I') + protocol::kQueryReplyLength) * ByteMs();
  if (!ok) r.replyMs = -1;
  st.bus.ReleaseMachine();
  r.released = !st.bus.MachineSelected;
}

int RunSelfTest(Invocation& inv) {
  inv.rejectPositional();
  const int scanTo = inv.optionalInt(QStringLiteral("scan-to"), 1, 2048).value_or(kDefaultScanTo);
  auto session = OpenStation(inv, files::DirUse::Read);
  network::Station& st = *session->station;
  Report r;
  r.link = inv.value(QStringLiteral("link")).toStdString();

  st.Connect();
  // After connecting: the default adapter names the device it took.
  r.backend = st.link.adapter().backendName();
  r.connected = st.link.state().Connected;
  if (!r.connected) {
    r.openError = session->frontend.status;
    if (!session->frontend.statusDetail.empty())
      r.openError += " (" + session->frontend.statusDetail + ")";
  } else {
    auto& adapter = st.link.adapter();
    const link::Handle h = st.link.state().handle;
    if (st.link.QueryDeviceInfo()) {
      r.description = st.link.state().deviceInfo.description.data();
      r.serialNumber = std::string(st.link.state().deviceInfo.serialNumber.data(),
                                   strnlen(st.link.state().deviceInfo.serialNumber.data(),
                                           st.link.state().deviceInfo.serialNumber.size()));
    }
    std::uint8_t ms = 0;
    if (adapter.getLatencyTimer(h, ms) == link::kOk) r.latencyMs = ms;
    r.eventCharacterSet = adapter.setEventCharacter(h, kEventCharacter, true) == link::kOk;

    st.link.DrainInput();
    network::MachineList list;
    if (network::ReadMachineListFile(st.machineListPath(), list) == network::ReadResult::Ok &&
        list.count > 0) {
      r.machine = list.entry(0);
      r.foundBy = "list";
      st.bus.SendPreamble();
      RoundTrip(st, network::SlotSelectFrame(r.machine), r);
    } else {
      // Probes by select frame alone, as the bus scan does; the first machine to answer is timed.
      for (int address = 1; address <= scanTo && r.machine.empty(); ++address) {
        r.scannedTo = address;
        const std::string id = std::string(network::texts::kScanPrefix) +
                               protocol::ByteToHex(address / 256) +
                               protocol::ByteToHex(address % 256);
        RoundTrip(st, network::SlotSelectFrame(id), r);
        if (r.ackMs >= 0) {
          r.machine = id;
          r.foundBy = "scan";
        }
      }
    }
  }
  Judge(r);
  if (inv.json)
    PrintJson(inv, r);
  else
    PrintText(inv, r);
  st.Close();
  return r.verdict == "fail" ? kExitFailure : kExitOk;
}

}  // namespace

static RegisterCommand selftestCommand{
    {QStringLiteral("selftest"),
     QStringLiteral(
         "Check the adapter and the bus: what was opened, one timed round trip, a verdict."),
     AddSelfTestOptions, RunSelfTest}};

}  // namespace qubix::cli
