// What an operation came to: done, or the reason it was not. Every operation of the core that
// talks to a processor or writes a file returns one; the windows, the tool and the status line
// report it, they never work it out for themselves.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace qubix::protocol {

struct Outcome {
  bool ok = true;
  std::string reason;  // empty when ok

  static Outcome Done() { return {}; }
  static Outcome Failed(std::string why) { return {false, std::move(why)}; }
  explicit operator bool() const { return ok; }
  // The first failure of the two (this one when both failed).
  Outcome& also(const Outcome& other) {
    if (ok && !other.ok) *this = other;
    return *this;
  }
};

}  // namespace qubix::protocol
