#include <gtest/gtest.h>

#include "app/Options.h"

using qubix::app::ParseOptions;

namespace {

TEST(Options, AdapterChoice) {
  struct Case {
    std::vector<std::string> args;
    const char* link;
    bool ok;
  };
  const Case cases[] = {
      {{}, "", true},
      {{"--simulator"}, "sim:", true},
      {{"--link", "sim:"}, "sim:", true},
      {{"--link=serial:/dev/ttyUSB0"}, "serial:/dev/ttyUSB0", true},
      {{"--link", "ftdi:"}, "ftdi:", true},
      {{"--link", "d2xx:"}, "d2xx:", true},
      {{"--link"}, "", false},
      {{"--link", "sim"}, "sim", false},
      {{"--speed"}, "", false},
  };
  for (const auto& c : cases) {
    const auto o = ParseOptions(c.args);
    EXPECT_EQ(o.error.empty(), c.ok) << o.error;
    if (c.ok) {
      EXPECT_EQ(o.link, c.link);
    }
  }
  EXPECT_TRUE(ParseOptions({"--help"}).help);
}

}  // namespace
