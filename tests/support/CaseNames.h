// Readable names for parameterised cases, so that ctest lists "Worked/AmpCases.X/p9000_g40"
// rather than a case number and failures do not print the case as raw bytes.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <string_view>

namespace qubix::test {

// A case description made fit for a test name: letters and digits kept, anything else "_".
inline std::string CaseName(std::string_view text) {
  std::string name;
  for (char c : text) name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return name.empty() ? std::string("unnamed") : name;
}

// A number as a name: the shortest form that reads back as the same float, "-" as "m" and "."
// as "_" (-2.25 gives "m2_25").
inline std::string NumberName(double value) {
  char text[32] = {};
  for (int digits = 3; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (static_cast<float>(std::strtod(text, nullptr)) == static_cast<float>(value)) break;
  }
  std::string name;
  for (const char* c = text; *c != '\0'; ++c)
    name += *c == '-' ? std::string("m") : std::string(1, *c);
  return CaseName(name);
}

// Name generator for cases that carry their own `name` field.
struct ByNameField {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
    return CaseName(info.param.name);
  }
};

namespace {
// A case of a table prints as its name when its test fails, never as its raw bytes. Found for
// every case type of a test file's own unnamed namespace (the same one as here).
template <class Case>
requires requires(const Case& c) { std::string_view(c.name); }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
}  // namespace

}  // namespace qubix::test
