// An import on the simulated bus: the ten bands reach the strips and the processor as ten band
// writes (each with its mirror copy), the preamp only when asked, and a refused file sends nothing.
#include <gtest/gtest.h>

#include <fstream>

#include "editor/FilterImport.h"
#include "filters/CoefficientWord.h"
#include "support/EditorRig.h"

namespace qubix::test {
namespace {

namespace frames = protocol::frames;
using EditorImport = EditorRig;

constexpr const char* kTenPeaks =
    "Preamp: -6.2 dB\n"
    "Filter 1: ON PK Fc 40 Hz Gain -6 dB Q 4\n"
    "Filter 2: ON PK Fc 80 Hz Gain 3 dB Q 2\n"
    "Filter 3: ON PK Fc 160 Hz Gain -2.5 dB Q 1.41\n"
    "Filter 4: ON PK Fc 315 Hz Gain 1.5 dB Q 3\n"
    "Filter 5: ON PK Fc 630 Hz Gain -4 dB Q 5\n"
    "Filter 6: ON PK Fc 1250 Hz Gain 2 dB Q 1\n"
    "Filter 7: ON PK Fc 2500 Hz Gain -1 dB Q 0.7\n"
    "Filter 8: ON PK Fc 5000 Hz Gain 3.5 dB Q 2.5\n"
    "Filter 9: ON PK Fc 10000 Hz Gain -8 dB Q 6\n"
    "Filter 10: ON PK Fc 14000 Hz Gain 4 dB Q 1.2\n";

std::string Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

// Each band once, to its address and to its mirror copy, in band order.
std::string BandWrites(const filters::FilterBands& bands) {
  std::string wire;
  for (int i = 0; i < editor::kBandCount; ++i) {
    const auto& b = bands[static_cast<std::size_t>(i)];
    filters::BiquadCoefficients c;
    EXPECT_TRUE(filters::ComputeParametric({b.freqHz, b.gainDb, b.q, 48000}, c));
    const auto address = filters::BandAddressAt(i);
    for (auto a : {address, filters::MirrorAddress(address)})
      wire += frames::BandCoefficients(a, filters::SendingOrder(c));
  }
  return wire;
}

TEST_F(EditorImport, TenPeaksReachStripsAndProcessor) {
  open(0);
  state.ToggleFlat();  // an import shows its own bands, not a flat editor
  rig.clearRecords();
  const auto read = filters::ParseFilterText(kTenPeaks);
  ASSERT_TRUE(read.ok()) << read.error;
  const editor::ImportOutcome outcome = editor::ApplyImportedFilters(state, *read.filters, false);
  EXPECT_TRUE(outcome.sent);
  EXPECT_EQ(pc(), BandWrites(read.filters->bands));  // no input gains without the preamp
  EXPECT_FALSE(state.flatMode());
  EXPECT_EQ(editor::EditorFilterBands(state), read.filters->bands);
  auto& machine = rig.processor("H000000010001");
  for (int i = 0; i < editor::kBandCount; ++i) {
    const auto want = filters::BandWordBytes(state.coefficientTable().Band(i));
    for (auto a : {filters::BandAddressAt(i), filters::MirrorAddress(filters::BandAddressAt(i))}) {
      const auto& held = machine.coefficients.at(static_cast<std::uint16_t>(a));
      EXPECT_TRUE(std::equal(want.begin(), want.end(), held.begin())) << "address " << a;
    }
  }
}

TEST_F(EditorImport, PreampOnlyWhenAskedAndInHalfDecibels) {
  open(0);
  const auto read = filters::ParseFilterText(kTenPeaks);
  ASSERT_TRUE(read.ok());
  const editor::ImportOutcome outcome = editor::ApplyImportedFilters(state, *read.filters, true);
  EXPECT_TRUE(outcome.sent);
  EXPECT_EQ(pc(), BandWrites(read.filters->bands) + frames::InputGains(168, 168));
  EXPECT_EQ(outcome.changes,
            std::vector<std::string>{"Preamp -6.2 dB set as -6 dB on both input gains"});
  EXPECT_EQ(rig.processor("H000000010001").live.gainA, 168);
}

// Where rounding to half-dB steps and cutting the fraction off part ways.
TEST_F(EditorImport, PreampRoundsToTheNearestHalfDecibel) {
  open(0);
  const struct {
    const char* preamp;
    int code;
    const char* change;
  } cases[] = {{"-6.8", 166, "Preamp -6.8 dB set as -7 dB on both input gains"},
               {"1.3", 183, "Preamp 1.3 dB set as 1.5 dB on both input gains"},
               {"-0.3", 179, "Preamp -0.3 dB set as -0.5 dB on both input gains"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.preamp);
    const auto read = filters::ParseFilterText(std::string("Preamp: ") + c.preamp +
                                               " dB\nFilter 1: ON PK Fc 100 Hz Gain 1 dB Q 1\n");
    ASSERT_TRUE(read.ok()) << read.error;
    rig.clearRecords();
    const editor::ImportOutcome outcome = editor::ApplyImportedFilters(state, *read.filters, true);
    EXPECT_TRUE(outcome.sent);
    EXPECT_TRUE(pc().ends_with(frames::InputGains(c.code, c.code))) << pc();
    EXPECT_EQ(outcome.changes, std::vector<std::string>{c.change});
    EXPECT_EQ(rig.processor("H000000010001").live.gainA, c.code);
  }
}

// A file that is not a filter text at all, or holds a filter the bands cannot take, changes
// nothing: no frame, the bands as they were, and a box saying why.
TEST_F(EditorImport, RefusedFileSendsNothingAndSaysWhy) {
  open(0);
  const auto before = editor::EditorFilterBands(state);
  const std::pair<std::string, std::string> cases[] = {
      {"Filter 1: ON PK Fc 100 Hz Gain 3 dB Q 1\nFilter 2: ON LS Fc 80 Hz Gain 4 dB\n",
       "line 2: a LS filter cannot be imported; only peaking filters (PK) can"},
      {"", "no \"Filter\" line"},
      {"# exported by hand\n\n", "no \"Filter\" line"}};
  for (const auto& [text, why] : cases) {
    SCOPED_TRACE(text);
    rig.frontend.boxes.clear();
    rig.frontend.openFileAnswers.push_back(Write(dir / "in.txt", text));
    editor::ImportFiltersFromFile(state);
    EXPECT_EQ(pc(), "");
    EXPECT_EQ(editor::EditorFilterBands(state), before);
    ASSERT_EQ(rig.frontend.boxes.size(), 1U);
    EXPECT_NE(rig.frontend.boxes[0].text.find(why), std::string::npos)
        << rig.frontend.boxes[0].text;
  }
}

TEST_F(EditorImport, ExportedBandsImportBackTheSame) {
  open(0);
  strip(2).SetGPotPos(-7.5F);
  strip(6).SetQPotPos(3.3F);
  const auto bands = editor::EditorFilterBands(state);
  const auto path = dir / "out.txt";
  rig.frontend.saveFileAnswers.push_back(path.string());
  editor::ExportFiltersToFile(state);
  const auto read = editor::ReadFilterFile(path);
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.filters->bands, bands);
}

}  // namespace
}  // namespace qubix::test
