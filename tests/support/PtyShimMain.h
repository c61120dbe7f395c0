// The main of test programs that drive pseudo-terminals through libserialport: re-runs the
// program with the pseudo-terminal interposer (QUBIX_PTY_SHIM) preloaded unless it already is,
// then runs the tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qubix::test {

inline int RunWithPtyInterposer(int argc, char** argv) {
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, QUBIX_PTY_SHIM)) {
    ::setenv("LD_PRELOAD", QUBIX_PTY_SHIM, 1);
    ::execv("/proc/self/exe", argv);
    std::perror("re-running with the pseudo-terminal interposer");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace qubix::test
