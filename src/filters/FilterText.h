// Parametric filters as text, the way measurement tools hand them over: the equaliser-script
// form ("Preamp: -6.2 dB", "Filter 1: ON PK Fc 105 Hz Gain -3.5 dB Q 1.41") and the measurement
// program's "Filter Settings file" export (a header block, then one "Filter  N: …" line per
// filter, "OFF None" for unused ones). Both read into the editor's ten bands; the writer gives
// the equaliser-script form, which both read back.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filters/EqBands.h"

namespace qubix::filters {

struct FilterBand {
  float freqHz = 1000.0F;
  float gainDb = 0.0F;
  float q = 1.0F;
  friend bool operator==(const FilterBand&, const FilterBand&) = default;
};
using FilterBands = std::array<FilterBand, kBandCount>;

struct FilterImport {
  // The peaking filters in file order on bands 1 … n; the bands after them are flat (0 dB) at
  // the strips' starting frequency and Q.
  FilterBands bands{};
  std::optional<double> preampDb;
  // Every value that had to be changed to fit a band strip, one line each, naming the line.
  std::vector<std::string> changes;
};

struct FilterReadResult {
  std::optional<FilterImport> filters;
  // Why nothing can be imported, naming the line ("line 7: …") where one is at fault; empty
  // when filters is set.
  std::string error;
  bool ok() const { return filters.has_value(); }
};

// Reads either form, with "." or the locale's "," as the decimal separator; several "Preamp"
// lines add up. Any filter that is not a peaking one, more peaking filters than bands, a band
// the DSP cannot run, a line that cannot be read or a text without any "Filter" line (an empty
// or foreign file) refuses the whole text; filters that are all off or "None" mean flat bands.
FilterReadResult ParseFilterText(std::string_view text);

// All ten bands in the equaliser-script form, one "Filter N: ON PK …" line each; a "Preamp"
// line first when preampDb is given.
std::string WriteFilterText(const FilterBands& bands,
                            std::optional<double> preampDb = std::nullopt);

}  // namespace qubix::filters
