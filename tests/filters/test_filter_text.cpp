// Filter text in and out: both forms read into the ten bands, every refusal with its message,
// the limits with each change reported, and the written form read back unchanged.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filters/FilterText.h"
#include "support/CaseNames.h"

using namespace qubix::filters;

namespace qubix::test {
namespace {

// A measurement program's export as it arrives: its header block, two peaking filters, the
// unused filters switched off.
constexpr const char* kMeasuredExport =
    "Filter Settings file\r\n"
    "\r\n"
    "Measurement software V3.1\r\n"
    "Dated: 8 Dec 2026 09:14:02\r\n"
    "\r\n"
    "Notes: front left, 1 m, Filter cut at 300 Hz: see below\r\n"
    "\r\n"
    "Equaliser: Generic\r\n"
    "Average 1\r\n"
    "Filter  1: ON  PK       Fc   63.0 Hz  Gain  -5.0 dB  Q  4.00\r\n"
    "Filter  2: OFF None\r\n"
    "Filter  3: ON  PK       Fc    250 Hz  Gain   2.5 dB  Q  1.20\r\n"
    "Filter  4: OFF PK       Fc   1000 Hz  Gain   6.0 dB  Q  1.00\r\n"
    "Filter  5: ON  None\r\n";

struct ImportCase {
  std::string name;
  std::string text;
  std::vector<FilterBand> bands;  // bands 1 … n; the rest must be flat at the strip starts
  std::optional<double> preamp;
  std::vector<std::string> changes;
  std::string error;  // a refusal: nothing is imported
};

void PrintTo(const ImportCase& c, std::ostream* os) { *os << c.name; }

std::string Peaks(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i)
    s += "Filter " + std::to_string(i) + ": ON PK Fc " + std::to_string(100 * i) +
         " Hz Gain 1 dB Q 1\n";
  return s;
}

constexpr const char* kNoFilters = "no \"Filter\" line: the text holds no filters";

class FilterImportCases : public ::testing::TestWithParam<ImportCase> {};

TEST_P(FilterImportCases, ReadsOrRefuses) {
  const ImportCase& c = GetParam();
  const FilterReadResult r = ParseFilterText(c.text);
  if (!c.error.empty()) {
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.error, c.error);
    return;
  }
  ASSERT_TRUE(r.ok()) << r.error;
  for (std::size_t i = 0; i < r.filters->bands.size(); ++i) {
    const FilterBand want = i < c.bands.size()
                                ? c.bands[i]
                                : FilterBand{kStripStarts[i].freqHz, 0.0F, kStripStarts[i].q};
    EXPECT_EQ(r.filters->bands[i], want) << "band " << i + 1;
  }
  EXPECT_EQ(r.filters->preampDb, c.preamp);
  EXPECT_EQ(r.filters->changes, c.changes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FilterImportCases,
    ::testing::Values(
        ImportCase{"ScriptForm",
                   "# measured at the listening position\n"
                   "Preamp: -6.2 dB\n"
                   "Filter 1: ON PK Fc 105 Hz Gain -3.5 dB Q 1.41\n"
                   "Filter: ON PEQ Fc 2000 Hz Gain +2 dB Q 0.7\n"
                   "Filter 3: ON PK Fc 4 kHz Gain 1 dB BW Oct 1\n",
                   {{105, -3.5F, 1.41F}, {2000, 2, 0.7F}, {4000, 1, 1.41421354F}},
                   -6.2,
                   {},
                   ""},
        ImportCase{"MeasuredExportWithHeader",
                   kMeasuredExport,
                   {{63, -5, 4}, {250, 2.5F, 1.2F}},
                   std::nullopt,
                   {},
                   ""},
        ImportCase{"TenPeaksFillEveryBand",
                   Peaks(10),
                   {{100, 1, 1},
                    {200, 1, 1},
                    {300, 1, 1},
                    {400, 1, 1},
                    {500, 1, 1},
                    {600, 1, 1},
                    {700, 1, 1},
                    {800, 1, 1},
                    {900, 1, 1},
                    {1000, 1, 1}},
                   std::nullopt,
                   {},
                   ""},
        ImportCase{"LimitsReported",
                   "Filter 1: ON PK Fc 20000 Hz Gain -15 dB Q 60\n"
                   "Filter 2: ON PK Fc 99.6 Hz Gain 1 dB Q 0.1\n",
                   {{18000, -12, 50}, {100, 1, 0.2F}},
                   std::nullopt,
                   {"line 1: Fc 20000 Hz limited to 18000 Hz",
                    "line 1: Gain -15 dB limited to -12 dB", "line 1: Q 60 limited to 50",
                    "line 2: Fc 99.6 Hz rounded to 100 Hz", "line 2: Q 0.1 limited to 0.2"},
                   ""},
        ImportCase{"ShelfRefused",
                   "Preamp: -3 dB\nFilter 1: ON PK Fc 100 Hz Gain 3 dB Q 1\n"
                   "Filter 2: ON LSC Fc 100 Hz Gain 3 dB Q 0.71\n",
                   {},
                   std::nullopt,
                   {},
                   "line 3: a LSC filter cannot be imported; only peaking filters (PK) can"},
        ImportCase{"PassFilterRefused",
                   "Filter 1: ON HP Fc 30 Hz\n",
                   {},
                   std::nullopt,
                   {},
                   "line 1: a HP filter cannot be imported; only peaking filters (PK) can"},
        ImportCase{"ElevenPeaksRefused",
                   Peaks(11),
                   {},
                   std::nullopt,
                   {},
                   "line 11: more than 10 peaking filters; the processor has 10 bands"},
        ImportCase{
            "UnreadableNumber",
            "Filter 1: ON PK Fc 1O0 Hz Gain 1 dB Q 1\n",
            {},
            std::nullopt,
            {},
            "line 1: Fc needs a frequency in Hz: \"Filter 1: ON PK Fc 1O0 Hz Gain 1 dB Q 1\""},
        ImportCase{"MissingQ",
                   "Filter 1: ON PK Fc 100 Hz Gain 1 dB\n",
                   {},
                   std::nullopt,
                   {},
                   "line 1: a peaking filter needs Fc, Gain and Q: \"Filter 1: ON PK Fc 100 Hz "
                   "Gain 1 dB\""},
        ImportCase{"UnknownLine",
                   "Filter 1: ON PK Fc 100 Hz Gain 1 dB Q 1\nChannel: L\n",
                   {},
                   std::nullopt,
                   {},
                   "line 2: cannot be read: \"Channel: L\""},
        // A measurement program on a locale with a decimal comma.
        ImportCase{"DecimalCommas",
                   "Filter Settings file\r\n\r\nNotes: 1,5 m\r\n"
                   "Filter  1: ON  PK       Fc   20,0 Hz  Gain   4,0 dB  Q  1,00\r\n"
                   "Filter  2: ON  PK       Fc   1000 Hz  Gain  -2,5 dB  BW Oct 0,167\r\n",
                   {{20, 4, 1},
                    {1000, -2.5F,
                     static_cast<float>(std::sqrt(std::exp2(0.167)) / (std::exp2(0.167) - 1))}},
                   std::nullopt,
                   {},
                   ""},
        ImportCase{"CommaAndPointInOneNumber",
                   "Filter 1: ON PK Fc 1,000.5 Hz Gain 1 dB Q 1\n",
                   {},
                   std::nullopt,
                   {},
                   "line 1: Fc needs a frequency in Hz: \"Filter 1: ON PK Fc 1,000.5 Hz Gain 1 dB "
                   "Q 1\""},
        ImportCase{"TwoCommasInOneNumber",
                   "Filter 1: ON PK Fc 100 Hz Gain 1,2,5 dB Q 1\n",
                   {},
                   std::nullopt,
                   {},
                   "line 1: Gain needs a value in dB: \"Filter 1: ON PK Fc 100 Hz Gain 1,2,5 dB Q "
                   "1\""},
        ImportCase{"PreampLinesAddUp",
                   "Preamp: -3 dB\nFilter 1: ON PK Fc 100 Hz Gain 1 dB Q 1\nPreamp: -2,5 dB\n",
                   {{100, 1, 1}},
                   -5.5,
                   {},
                   ""},
        // Filters that are all off still say "flat".
        ImportCase{"AllOffIsFlat",
                   "Filter Settings file\n\nFilter  1: OFF None\nFilter  2: ON  None\n"
                   "Filter  3: OFF PK Fc 100 Hz Gain 3 dB Q 1\n",
                   {},
                   std::nullopt,
                   {},
                   ""},
        ImportCase{"EmptyRefused", "", {}, std::nullopt, {}, kNoFilters},
        ImportCase{"BlankRefused", "\xEF\xBB\xBF \r\n\t\n\n", {}, std::nullopt, {}, kNoFilters},
        ImportCase{"CommentsOnlyRefused",
                   "# Filter 1: ON PK Fc 100 Hz Gain 3 dB Q 1\n",
                   {},
                   std::nullopt,
                   {},
                   kNoFilters},
        ImportCase{"PreampOnlyRefused", "Preamp: -6 dB\n", {}, std::nullopt, {}, kNoFilters},
        ImportCase{"HeaderOnlyRefused",
                   "Filter Settings file\n\nMeasurement software V3.1\n",
                   {},
                   std::nullopt,
                   {},
                   kNoFilters},
        ImportCase{"BandTheDspCannotRun",
                   "Filter 1: ON PK Fc 5000 Hz Gain 12 dB Q 0.2\n",
                   {},
                   std::nullopt,
                   {},
                   "line 1: Fc 5000 Hz, Gain 12 dB, Q 0.2 does not fit the processor's DSP"}),
    qubix::test::ByNameField{});

TEST(FilterText, WrittenBandsReadBackUnchanged) {
  FilterBands bands{};
  for (std::size_t i = 0; i < bands.size(); ++i)
    bands[i] = {static_cast<float>(31 + 997 * i), -11.9F + 2.37F * static_cast<float>(i),
                0.21F + 4.93F * static_cast<float>(i)};
  const std::string text = WriteFilterText(bands, -4.5);
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1),
            "Preamp: -4.5 dB\nFilter 1: ON PK Fc 31 Hz Gain -11.9 dB Q 0.21\n");
  const FilterReadResult r = ParseFilterText(text);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.filters->bands, bands);
  EXPECT_EQ(r.filters->preampDb, -4.5);
  EXPECT_TRUE(r.filters->changes.empty());
}

// The README's example files read as it describes them.
TEST(FilterText, ExampleFilesRead) {
  const std::pair<const char*, FilterBand> examples[] = {{"room-correction.txt", {42, -6.5F, 5.2F}},
                                                         {"measured-filters.txt", {63, -5, 4}}};
  for (const auto& [name, first] : examples) {
    std::ifstream in(std::string(QUBIX_EXAMPLES_DIR) + "/" + name, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const FilterReadResult r = ParseFilterText(text);
    ASSERT_TRUE(r.ok()) << name << ": " << r.error;
    EXPECT_EQ(r.filters->bands[0], first) << name;
    EXPECT_TRUE(r.filters->changes.empty()) << name;
  }
}

}  // namespace

}  // namespace qubix::test
