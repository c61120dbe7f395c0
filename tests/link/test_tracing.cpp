// The tracing adapter writes each call as one JSON line the moment it returns, on the simulated
// bus's clock, so that a trace can be read while the program still runs (or after it crashed).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace
}  // namespace qubix::test
