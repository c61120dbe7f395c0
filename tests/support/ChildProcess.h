// Child: a program run beside a test or benchmark (the simulator, ser2net, qubix24), with the
// first lines it printed; killed and reaped when it goes. FreeLoopbackPort: a port to give it.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace qubix::test {

class Child {
 public:
  Child() = default;
  // Runs argv and keeps the first `lines` lines of its standard output. The pipe stays open, so
  // that what the child prints later does not end it.
  Child(const std::vector<std::string>& argv, int lines) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
    for (int i = 0; i < lines; ++i) {
      std::string text;
      char c = 0;
      while (::read(out_, &c, 1) == 1 && c != '\n') text += c;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      lines_.push_back(text);
    }
  }
  Child(Child&& other) noexcept { *this = std::move(other); }
  Child& operator=(Child&& other) noexcept {
    stop();
    pid_ = std::exchange(other.pid_, -1);
    out_ = std::exchange(other.out_, -1);
    lines_ = std::move(other.lines_);
    return *this;
  }
  ~Child() { stop(); }
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
    pid_ = -1;
    out_ = -1;
  }
  std::string line(std::size_t i) const { return i < lines_.size() ? lines_[i] : std::string(); }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::vector<std::string> lines_;
};

// A loopback port that nothing listens on right now.
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace qubix::test
