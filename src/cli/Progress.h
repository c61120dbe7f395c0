// What a long command shows while it runs, on standard error: a bar redrawn in place on a
// terminal, a line now and then otherwise (a log, a pipe), nothing with --json. And the stop an
// operator asks for with Ctrl-C or a service manager with SIGTERM, taken at a point where the
// command can still keep what it did.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace qubix::cli {

class Progress {
 public:
  enum class Mode { None, Bar, Lines };
  // Bar when err is a terminal, Lines otherwise, None when quiet (--json).
  Progress(std::FILE* err, bool quiet);
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  Mode mode() const { return mode_; }
  // The bar at done of total with text beside it (terminal only; nothing otherwise).
  void bar(long done, long total, const std::string& text);
  // A line of its own (after the bar's line, which is ended first); nothing when quiet.
  void line(const std::string& text);
  // Ends the bar's line if one is drawn.
  void finish();

 private:
  std::FILE* err_;
  Mode mode_;
  bool barShown_ = false;
  std::string lastBar_;
};

// While it lives, SIGINT and SIGTERM only ask for a stop (requested()); a second signal ends
// the program as the signal would. System calls on the way are restarted, so that no read of
// the adapter fails because of the signal. The handlers before it are put back when it goes.
class StopRequest {
 public:
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  bool requested() const;
  // The signal that asked (SIGINT or SIGTERM), 0 when none did.
  int signal() const;
};

// Seconds counted on a terminal while an operation that reports nothing on the way runs (a
// hardware preset change waits for the processor's silence): "text 7 s" redrawn once a second.
class ElapsedTicker {
 public:
  ElapsedTicker(Progress& progress, std::string text);
  ~ElapsedTicker();
  ElapsedTicker(const ElapsedTicker&) = delete;
  ElapsedTicker& operator=(const ElapsedTicker&) = delete;

 private:
  Progress& progress_;
  std::string text_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace qubix::cli
