// The global options --link URI and --data-dir DIR, and a Station opened from them with a
// console frontend: what every command that talks to the bus or the data directory shares.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cli/Command.h"
#include "frontend/Frontend.h"
#include "network/Station.h"

namespace qubix::cli {

// Message boxes go to stderr as "qubix24ctl: <text>"; questions are answered "cancel"; the
// status line keeps its last text for error reports.
class ConsoleFrontend : public link::Frontend {
 public:
  explicit ConsoleFrontend(std::FILE* err) : err_(err) {}
  void setStatusText(std::string_view text) override { status = std::string(text); }
  void setStatusColour(link::Rgb colour) override { statusColour = colour; }
  void setStatusDetail(std::string_view detail) override { statusDetail = std::string(detail); }
  void setBusyCursor(bool) override {}
  link::Answer messageBox(std::string_view text, std::string_view caption,
                          link::Buttons buttons) override;
  void processEvents() override {}
  std::optional<std::string> askOpenFile(std::string_view, std::string_view,
                                         std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> askSaveFile(std::string_view, std::string_view,
                                         std::string_view) override {
    return std::nullopt;
  }
  std::optional<int> askLocation(std::string_view) override { return std::nullopt; }
  std::optional<std::string> askText(std::string_view, std::string_view) override {
    return std::nullopt;
  }

  std::string status;
  link::Rgb statusColour = link::kLime;
  std::string statusDetail;
  int boxes = 0;

 private:
  std::FILE* err_;
};

// --data-dir, or the current directory.
std::filesystem::path DataDir(const Invocation& inv);

struct StationSession {
  explicit StationSession(std::FILE* err) : frontend(err) {}
  ConsoleFrontend frontend;
  std::unique_ptr<network::Station> station;
};

// The station on the adapter --link names (the adapter that lists no device without it), with
// the hardware preset names loaded. A link text no backend knows throws UsageError.
std::unique_ptr<StationSession> OpenStation(const Invocation& inv);

// Connects; false (with the reason on stderr) when the adapter cannot be opened.
bool ConnectStation(const Invocation& inv, StationSession& session);

}  // namespace qubix::cli
