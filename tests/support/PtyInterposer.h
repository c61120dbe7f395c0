// Re-runs this program with the pseudo-terminal interposer (QUBIX_PTY_SHIM) preloaded, unless it
// already is: libserialport opens a pseudo-terminal only through it. Returns only when it is
// preloaded, or false when the re-run could not start.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qubix::test {

inline bool PreloadPtyInterposer(char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload && std::strstr(preload, QUBIX_PTY_SHIM)) return true;
  ::setenv("LD_PRELOAD", QUBIX_PTY_SHIM, 1);
  ::execv("/proc/self/exe", argv);
  std::perror("re-running with the pseudo-terminal interposer");
  return false;
}

}  // namespace qubix::test
