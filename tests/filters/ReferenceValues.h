// Reads reference_values.txt, written by make_reference.py from an independent evaluation.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

struct ReferenceCoefficient {
  float freqHz, gainDb, q;
  double expected[5];  // b0 b1 b2 a1 a2
};

struct ReferenceTable {
  std::vector<std::array<float, 3>> bands;  // F, G, Q
  std::vector<double> response;             // columns 1 … 500
};

struct ReferenceValues {
  std::vector<ReferenceCoefficient> coefficients;
  std::map<std::string, ReferenceTable> tables;
};

// Empty on a missing file (the test then fails on its size checks).
ReferenceValues LoadReferenceValues();
