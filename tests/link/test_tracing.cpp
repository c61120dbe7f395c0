// The tracing adapter writes each call as one JSON line the moment it returns, on the simulated
// bus's clock, so that a trace can be read while the program still runs (or after it crashed).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "link/TraceFormat.h"
#include "link/TracingAdapter.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"

namespace qubix::test {
using namespace qubix::link;
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(TracingAdapter, EachCallIsOnDiskAsItReturns) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("qubix_trace_" + std::to_string(::getpid()) + ".jsonl"))
                               .string();
  auto* sim = new sim::SimAdapter(sim::makeDemoBus(), sim::ClockMode::Virtual);
  std::string error;
  auto trace = TracingAdapter::open(std::unique_ptr<Adapter>(sim), path, error,
                                    [sim] { return sim->nowMs(); });
  ASSERT_TRUE(trace) << error;
  Handle handle = nullptr;
  ASSERT_EQ(trace->open(0, handle), kOk);
  trace->setTimeouts(handle, 200, 200);
  std::uint32_t done = 0;
  const std::uint8_t e = 'e';
  ASSERT_EQ(trace->write(handle, &e, 1, done), kOk);
  std::uint8_t reply[4] = {};
  ASSERT_EQ(trace->read(handle, reply, 4, done), kOk);  // "O", then the time-out runs out
  sim->faults().writeFails = true;
  const std::uint8_t frame[] = {'T', '0', '1', 'f', 'f'};
  EXPECT_NE(trace->write(handle, frame, 5, done), kOk);

  // Read while the adapter, and its file, are still open.
  EXPECT_EQ(ReadAll(path),
            "{\"t\":0.000,\"dir\":\"start\",\"backend\":\"sim\"}\n"
            "{\"t\":0.000,\"dir\":\"call\",\"call\":\"open\",\"status\":0}\n"
            "{\"t\":0.000,\"dir\":\"call\",\"call\":\"timeouts\",\"read\":200,\"status\":0}\n"
            "{\"t\":0.087,\"dir\":\"tx\",\"hex\":\"65\",\"status\":0}\n"
            "{\"t\":200.087,\"dir\":\"rx\",\"want\":4,\"hex\":\"4f\",\"status\":0}\n"
            "{\"t\":200.087,\"dir\":\"tx\",\"hex\":\"5430316666\",\"status\":4}\n");
  trace.reset();
  std::filesystem::remove(path);
}

// Whatever a text holds (every byte value, the characters JSON escapes), the written line is one
// line and reads back to the same bytes.
TEST(TraceFormat, TextsComeBackByteForByte) {
  std::vector<std::string> texts = {"",  "sim",        "\"",        "\\",
                                    "/", "\b\f\n\r\t", "a\"b\\c\"", "\\u0041"};
  std::string every;
  for (int b = 0; b < 256; ++b) {
    texts.push_back(std::string(1, static_cast<char>(b)) + "x" + static_cast<char>(b));
    every.push_back(static_cast<char>(b));
  }
  texts.push_back(every);
  for (const std::string& text : texts) {
    const std::string line = trace::LineWriter(1.5).text(trace::kBackend, text).line();
    ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
    trace::LineReader reader;
    std::string error;
    ASSERT_TRUE(reader.parse(line.substr(0, line.size() - 1), error)) << error << ": " << line;
    ASSERT_NE(reader.text(trace::kBackend), nullptr) << line;
    EXPECT_EQ(*reader.text(trace::kBackend), text) << line;
  }
}

// Escapes another JSON writer may use read as JSON means them; a broken one names its field.
TEST(TraceFormat, EscapesOfOtherWritersAndBrokenOnes) {
  const struct {
    const char* escaped;
    const char* text;  // nullptr: refused
  } cases[] = {
      {R"(\/\u0041)", "/A"},
      {R"(\u00e9)", "\xc3\xa9"},
      {R"(\u20AC)", "\xe2\x82\xac"},
      {R"(\ud83d\ude00)", "\xf0\x9f\x98\x80"},
      {R"(\q)", nullptr},
      {R"(\u12)", nullptr},
      {R"(\ud83d)", nullptr},
      {R"(\ude00)", nullptr},
      {R"(\)", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escaped);
    trace::LineReader reader;
    std::string error;
    const bool read = reader.parse(std::string(R"({"t":1,"backend":")") + c.escaped + "\"}", error);
    ASSERT_EQ(read, c.text != nullptr) << error;
    if (read)
      EXPECT_EQ(*reader.text(trace::kBackend), c.text);
    else
      EXPECT_TRUE(error == "the text of \"backend\" has a broken escape" ||
                  error == "the text of \"backend\" is not closed")
          << error;
  }
}

}  // namespace
}  // namespace qubix::test
