#include "filters/FilterText.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "filters/ParametricBand.h"

namespace qubix::filters {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool Same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Same(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> words;
  for (;;) {
    s = Trim(s);
    if (s.empty()) return words;
    const auto end = s.find_first_of(" \t");
    words.push_back(s.substr(0, end));
    if (end == std::string_view::npos) return words;
    s.remove_prefix(end);
  }
}

// A number word. Measurement programs write the decimal separator of the user's locale
// ("20,0", "0,167"); the words of a filter line are separated by blanks, so a lone comma inside
// a word can only be that separator. A word with both marks, or with several commas, is refused.
std::optional<double> Number(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::string point;
  if (const auto comma = s.find(','); comma != std::string_view::npos) {
    if (s.find_first_of(",.", comma + 1) != std::string_view::npos ||
        s.find('.') != std::string_view::npos)
      return std::nullopt;
    point = s;
    point[comma] = '.';
    s = point;
  }
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc{} || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

// "Filter 12:" or "Filter:" at the start of a line: the text after the colon.
std::optional<std::string_view> FilterBody(std::string_view line) {
  if (!StartsWith(line, "Filter")) return std::nullopt;
  std::string_view rest = Trim(line.substr(6));
  while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') rest.remove_prefix(1);
  rest = Trim(rest);
  if (rest.empty() || rest.front() != ':') return std::nullopt;
  return rest.substr(1);
}

// The shortest decimal text that reads back as the same float.
std::string FloatText(double v) {
  const float f = static_cast<float>(v);
  char text[64];
  bool exact = false;
  for (int decimals = 0; decimals <= 9 && !exact; ++decimals) {
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(f));
    exact = std::strtof(text, nullptr) == f;
  }
  if (!exact) std::snprintf(text, sizeof text, "%.9g", static_cast<double>(f));
  return std::string(text) == "-0" ? "0" : text;
}

struct Peak {
  int line = 0;
  double freqHz = 0, gainDb = 0, q = 0;
};

std::string At(int line) { return "line " + std::to_string(line) + ": "; }

// Reads the words after ON/OFF and the type of a peaking filter; an empty text on success.
std::string ReadPeak(const std::vector<std::string_view>& w, Peak& p) {
  std::optional<double> fc, gain, q;
  for (std::size_t i = 2; i < w.size();) {
    const auto value = [&](std::size_t at) { return at < w.size() ? Number(w[at]) : std::nullopt; };
    if (Same(w[i], "Fc")) {
      fc = value(i + 1);
      if (!fc || i + 2 >= w.size()) return "Fc needs a frequency in Hz";
      if (Same(w[i + 2], "kHz"))
        *fc *= 1000.0;
      else if (!Same(w[i + 2], "Hz"))
        return "Fc needs a frequency in Hz";
      i += 3;
    } else if (Same(w[i], "Gain")) {
      gain = value(i + 1);
      if (!gain || i + 2 >= w.size() || !Same(w[i + 2], "dB")) return "Gain needs a value in dB";
      i += 3;
    } else if (Same(w[i], "Q")) {
      q = value(i + 1);
      if (!q) return "Q needs a number";
      i += 2;
    } else if (Same(w[i], "BW") && i + 1 < w.size() && Same(w[i + 1], "Oct")) {
      // A bandwidth of N octaves is the Q √(2^N) / (2^N − 1).
      const auto n = value(i + 2);
      if (!n || *n <= 0) return "BW Oct needs a positive number of octaves";
      q = std::sqrt(std::exp2(*n)) / (std::exp2(*n) - 1.0);
      i += 3;
    } else {
      return "\"" + std::string(w[i]) + "\" is not part of a peaking filter";
    }
  }
  if (!fc || !gain || !q) return "a peaking filter needs Fc, Gain and Q";
  p.freqHz = *fc;
  p.gainDb = *gain;
  p.q = *q;
  return {};
}

// Limits a value to a strip's range, reporting the change.
double Limit(double v, double lo, double hi, int line, std::string_view what, std::string_view unit,
             std::vector<std::string>& changes) {
  const double limited = std::clamp(v, lo, hi);
  if (limited != v)
    changes.push_back(At(line) + std::string(what) + " " + FloatText(v) + std::string(unit) +
                      " limited to " + FloatText(limited) + std::string(unit));
  return limited;
}

}  // namespace

FilterReadResult ParseFilterText(std::string_view text) {
  if (StartsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
  FilterReadResult result;
  const auto refuse = [&](int line, const std::string& why) {
    result.error = At(line) + why;
    return result;
  };
  std::vector<Peak> peaks;
  std::optional<double> preamp;
  bool header = false;  // inside the free-text header block of a "Filter Settings file"
  bool first = true;
  bool anyFilter = false;  // a "Filter" line, even one that is off
  int number = 0;
  while (!text.empty()) {
    const auto eol = text.find('\n');
    const std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    ++number;
    if (line.empty()) continue;
    if (first) header = Same(line, "Filter Settings file");
    first = false;
    const auto body = FilterBody(line);
    if (body) header = false;
    if (header || line.front() == '#') continue;

    if (StartsWith(line, "Preamp:")) {
      const auto w = Words(line.substr(7));
      const auto v = w.size() == 2 && Same(w[1], "dB") ? Number(w[0]) : std::nullopt;
      if (!v) return refuse(number, "Preamp needs a value in dB: \"" + std::string(line) + "\"");
      preamp = preamp.value_or(0.0) + *v;  // several Preamp lines add up
      continue;
    }
    if (!body) return refuse(number, "cannot be read: \"" + std::string(line) + "\"");
    anyFilter = true;
    const auto w = Words(*body);
    if (w.empty() || !(Same(w[0], "ON") || Same(w[0], "OFF")))
      return refuse(number, "a filter is either ON or OFF: \"" + std::string(line) + "\"");
    if (Same(w[0], "OFF") || (w.size() >= 2 && Same(w[1], "None"))) continue;
    if (w.size() < 2)
      return refuse(number, "the filter has no type: \"" + std::string(line) + "\"");
    if (!Same(w[1], "PK") && !Same(w[1], "PEQ"))
      return refuse(number, "a " + std::string(w[1]) +
                                " filter cannot be imported; only peaking filters (PK) can");
    if (peaks.size() == static_cast<std::size_t>(kBandCount))
      return refuse(number, "more than " + std::to_string(kBandCount) +
                                " peaking filters; the processor has " +
                                std::to_string(kBandCount) + " bands");
    Peak p;
    p.line = number;
    if (const std::string why = ReadPeak(w, p); !why.empty())
      return refuse(number, why + ": \"" + std::string(line) + "\"");
    peaks.push_back(p);
  }

  // An empty or foreign text would otherwise flatten every band.
  if (!anyFilter) {
    result.error = "no \"Filter\" line: the text holds no filters";
    return result;
  }

  FilterImport out;
  out.preampDb = preamp;
  for (std::size_t i = 0; i < out.bands.size(); ++i)
    out.bands[i] = {kStripStarts[i].freqHz, 0.0F, kStripStarts[i].q};
  for (std::size_t i = 0; i < peaks.size(); ++i) {
    const Peak& p = peaks[i];
    double f = Limit(p.freqHz, kBandFreqMinHz, kBandFreqMaxHz, p.line, "Fc", " Hz", out.changes);
    // The equaliser file keeps whole hertz.
    if (std::round(f) != f) {
      out.changes.push_back(At(p.line) + "Fc " + FloatText(f) + " Hz rounded to " +
                            FloatText(std::round(f)) + " Hz");
      f = std::round(f);
    }
    const double g =
        Limit(p.gainDb, -kBandGainMaxDb, kBandGainMaxDb, p.line, "Gain", " dB", out.changes);
    const double q = Limit(p.q, kBandQMin, kBandQMax, p.line, "Q", "", out.changes);
    FilterBand& b = out.bands[i];
    b = {static_cast<float>(f), static_cast<float>(g), static_cast<float>(q)};
    BiquadCoefficients c;
    if (!ComputeParametric({b.freqHz, b.gainDb, b.q, 48000}, c))
      return refuse(p.line, "Fc " + FloatText(b.freqHz) + " Hz, Gain " + FloatText(b.gainDb) +
                                " dB, Q " + FloatText(b.q) + " does not fit the processor's DSP");
  }
  result.filters = std::move(out);
  return result;
}

std::string WriteFilterText(const FilterBands& bands, std::optional<double> preampDb) {
  std::string text;
  if (preampDb) text += "Preamp: " + FloatText(*preampDb) + " dB\n";
  for (std::size_t i = 0; i < bands.size(); ++i) {
    const FilterBand& b = bands[i];
    text += "Filter " + std::to_string(i + 1) + ": ON PK Fc " + FloatText(b.freqHz) + " Hz Gain " +
            FloatText(b.gainDb) + " dB Q " + FloatText(b.q) + "\n";
  }
  return text;
}

}  // namespace qubix::filters
