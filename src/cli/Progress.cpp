#include "cli/Progress.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>

namespace qubix::cli {

Progress::Progress(std::FILE* err, bool quiet)
    : err_(err),
      mode_(quiet                      ? Mode::None
            : isatty(fileno(err)) != 0 ? Mode::Bar
                                       : Mode::Lines) {}

void Progress::bar(long done, long total, const std::string& text) {
  if (mode_ != Mode::Bar) return;
  std::string shown;
  if (total > 0) {
    constexpr long kWidth = 30;
    const long filled = std::clamp(done, 0L, total) * kWidth / total;
    shown = "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] ";
  }
  shown += text;
  if (shown == lastBar_) return;
  // Spaces over what a longer text before left behind.
  std::string padded = shown;
  if (lastBar_.size() > shown.size()) padded.append(lastBar_.size() - shown.size(), ' ');
  std::fprintf(err_, "\r%s", padded.c_str());
  std::fflush(err_);
  lastBar_ = shown;
  barShown_ = true;
}

void Progress::line(const std::string& text) {
  if (mode_ == Mode::None) return;
  finish();
  std::fprintf(err_, "%s\n", text.c_str());
  std::fflush(err_);
}

void Progress::finish() {
  if (!barShown_) return;
  std::fputc('\n', err_);
  std::fflush(err_);
  barShown_ = false;
  lastBar_.clear();
}

namespace {
volatile sig_atomic_t stopSignal = 0;
struct sigaction previousInt {};
struct sigaction previousTerm {};

extern "C" void AskToStop(int signo) {
  if (stopSignal != 0) {
    // Asked twice: the operator means it.
    ::signal(signo, SIG_DFL);
    ::raise(signo);
    return;
  }
  stopSignal = signo;
}
}  // namespace

StopRequest::StopRequest() {
  stopSignal = 0;
  struct sigaction action {};
  action.sa_handler = AskToStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previousInt);
  ::sigaction(SIGTERM, &action, &previousTerm);
}

StopRequest::~StopRequest() {
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  stopSignal = 0;
}

bool StopRequest::requested() const { return stopSignal != 0; }
int StopRequest::signal() const { return static_cast<int>(stopSignal); }

ElapsedTicker::ElapsedTicker(Progress& progress, std::string text)
    : progress_(progress), text_(std::move(text)) {
  if (progress_.mode() == Progress::Mode::Lines) progress_.line(text_);
  if (progress_.mode() != Progress::Mode::Bar) return;
  thread_ = std::thread([this] {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    do {
      const auto seconds =
          std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
              .count();
      progress_.bar(0, 0, text_ + " " + std::to_string(seconds) + " s");
    } while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; }));
  });
}

ElapsedTicker::~ElapsedTicker() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  progress_.finish();
}

}  // namespace qubix::cli
