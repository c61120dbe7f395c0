// eq import / export and the quantized response of qubix24ctl: an import puts ten band writes on
// the simulated bus and keeps them in the machine's equaliser file, from which export writes them
// back; a refused file selects nothing; --compare measures what the 24-bit words cost.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "CliRunner.h"
#include "cli/StationSession.h"
#include "files/DurableFile.h"
#include "filters/CoefficientWord.h"
#include "filters/FilterText.h"
#include "filters/ParametricBand.h"
#include "network/EqFile.h"
#include "protocol/Commands.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/NamedPipe.h"
#include "support/TempDir.h"

namespace qubix::test {
namespace {

using qubix::test::TempDir;
using namespace qubix;

constexpr const char* kMachine = "H000000010001";

struct EqRun {
  std::shared_ptr<sim::SimBus> bus = sim::makeDemoBus();
  TempDir dir;
  EqRun() {
    cli::SetAdapterForTesting([this] {
      return compose::withSimulatorClock(
          std::make_unique<sim::SimAdapter>(bus, sim::ClockMode::Virtual));
    });
  }
  ~EqRun() { cli::SetAdapterForTesting({}); }
  CliResult run(std::vector<std::string> args) {
    args.insert(args.end(), {"--data-dir", dir.path().string()});
    return RunCli(args);
  }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir.file(name), std::ios::binary) << text;
    return dir.file(name);
  }
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliEq, ImportSendsTenBandsAndExportWritesThemBack) {
  EqRun eq;
  std::string text;
  for (int i = 1; i <= 10; ++i)
    text += "Filter " + std::to_string(i) + ": ON PK Fc " + std::to_string(37 * i * i) +
            " Hz Gain " + std::to_string(i - 5) + " dB Q 2\n";
  const CliResult in = eq.run({"eq", "import", "--machine", kMachine, eq.write("in.txt", text)});
  ASSERT_EQ(in.status, 0) << in.err;
  const auto read = filters::ParseFilterText(text);
  ASSERT_TRUE(read.ok());
  const std::string wire = eq.bus->pcBytes();
  for (int i = 0; i < 10; ++i) {
    const auto& b = read.filters->bands[static_cast<std::size_t>(i)];
    filters::BiquadCoefficients c;
    ASSERT_TRUE(filters::ComputeParametric({b.freqHz, b.gainDb, b.q, 48000}, c));
    const auto address = filters::BandAddressAt(i);
    EXPECT_NE(wire.find(protocol::frames::BandCoefficients(address, filters::SendingOrder(c)) +
                        protocol::frames::BandCoefficients(filters::MirrorAddress(address),
                                                           filters::SendingOrder(c))),
              std::string::npos)
        << "band " << i + 1;
  }
  const std::string out = eq.dir.file("out.txt");
  const CliResult ex = eq.run({"eq", "export", "--machine", kMachine, out});
  ASSERT_EQ(ex.status, 0) << ex.err;
  EXPECT_EQ(ReadText(out), filters::WriteFilterText(read.filters->bands));
}

TEST(CliEq, RefusedFileSelectsNothing) {
  EqRun eq;
  const CliResult r = eq.run({"eq", "import", "--machine", kMachine,
                              eq.write("bad.txt",
                                       "Filter 1: ON PK Fc 100 Hz Gain 3 dB Q 1\n"
                                       "Filter 2: ON HS Fc 8000 Hz Gain 2 dB Q 0.7\n")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 2: a HS filter cannot be imported"), std::string::npos) << r.err;
  EXPECT_EQ(eq.bus->pcBytes(), "");
  const CliResult noPreamp =
      eq.run({"eq", "import", "--preamp", "--machine", kMachine,
              eq.write("ok.txt", "Filter 1: ON PK Fc 100 Hz Gain 3 dB Q 1\n")});
  EXPECT_EQ(noPreamp.status, 1);
  EXPECT_EQ(eq.bus->pcBytes(), "");
}

TEST(CliEq, ExportWithoutAnEqualiserFileFails) {
  EqRun eq;
  const CliResult r = eq.run({"eq", "export", "--machine", kMachine, eq.dir.file("out.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no equaliser file"), std::string::npos) << r.err;
}

TEST(CliResponse, CompareMeasuresTheWords) {
  const CliResult fine = RunCli({"response", "--band", "1000,6,1.4", "--compare", "--json"});
  ASSERT_EQ(fine.status, 0) << fine.err;
  const CliResult narrow = RunCli({"response", "--band", "25,12,50", "--compare", "--json"});
  ASSERT_EQ(narrow.status, 0) << narrow.err;
  const auto db = [](const CliResult& r) {
    const auto at = r.out.find("\"largestDifferenceDb\":");
    return at == std::string::npos ? -1.0 : std::stod(r.out.substr(at + 22));
  };
  EXPECT_GT(db(fine), 0.0);
  EXPECT_LT(db(fine), 0.01);
  EXPECT_GT(db(narrow), 1.0);
  // --quantized draws that curve: its 25 Hz column is not the exact one.
  const CliResult exact = RunCli({"response", "--band", "25,12,50"});
  const CliResult quantized = RunCli({"response", "--band", "25,12,50", "--quantized"});
  EXPECT_NE(exact.out, quantized.out);
}

// The machine's last-edit file as the import can neither read nor replace it: the bands go out,
// but no file records them, so the import has failed; the file is as it was.
struct LastEditCase {
  const char* name;
  void (*make)(const std::filesystem::path& file);
  bool fullDisk;
};

void PrintTo(const LastEditCase& c, std::ostream* os) { *os << c.name; }

const LastEditCase kLastEditCases[] = {
    {"NamedPipe", [](const std::filesystem::path& file) { MakeNamedPipe(file); }, false},
    {"Folder", [](const std::filesystem::path& file) { std::filesystem::create_directory(file); },
     false},
    {"FullDisk",
     [](const std::filesystem::path& file) {
       ASSERT_TRUE(network::WriteEqFile(file, network::DefaultEqRecord()));
     },
     true},
};

class CliEqLastEdit : public ::testing::TestWithParam<LastEditCase> {};

TEST_P(CliEqLastEdit, AnImportItCannotRecordFails) {
  EqRun eq;
  const auto file = network::LastEditEqPath(eq.dir.path(), kMachine);
  GetParam().make(file);
  const auto before = std::filesystem::status(file).type();
  const std::string held =
      before == std::filesystem::file_type::regular ? ReadText(file.string()) : "";
  const std::string in = eq.write("in.txt", "Filter 1: ON PK Fc 100 Hz Gain 3 dB Q 2\n");
  if (GetParam().fullDisk) files::SimulateFullDiskAfter(0);
  const auto err = ReadWithWatchdog(file, [&] {
    const CliResult r = eq.run({"eq", "import", "--machine", kMachine, in});
    files::SimulateFullDiskAfter(std::nullopt);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out.find("imported"), std::string::npos) << r.out;
    return r.err;
  });
  ASSERT_TRUE(err) << "the import waited on the file";
  EXPECT_NE(err->find(file.string()), std::string::npos) << *err;
  EXPECT_EQ(std::filesystem::status(file).type(), before);
  if (before == std::filesystem::file_type::regular) {
    EXPECT_EQ(ReadText(file.string()), held);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CliEqLastEdit, ::testing::ValuesIn(kLastEditCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace qubix::test
