// The main of test programs that drive pseudo-terminals through libserialport: re-runs the
// program with the pseudo-terminal interposer (QUBIX_PTY_SHIM) preloaded unless it already is,
// then runs the tests.
#pragma once

#include <gtest/gtest.h>

#include "support/PtyInterposer.h"

namespace qubix::test {

inline int RunWithPtyInterposer(int argc, char** argv) {
  if (!PreloadPtyInterposer(argv)) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace qubix::test
