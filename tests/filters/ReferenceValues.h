// Reads reference_values.txt and block_reference_values.txt, written by make_reference.py and
// make_block_reference.py from an independent evaluation.
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

// One filter block case of block_reference_values.txt (make_block_reference.py).
struct ReferenceBlock {
  std::string model, slope;
  int freqHz = 0, gainDb = 0, sampleRateHz = 0;
  float q = 0, shelfS = 0, allPassBandwidthHz = 0;
  std::vector<std::array<double, 5>> sections;  // b0 b1 b2 a1 a2 each
};

std::vector<ReferenceBlock> LoadBlockReferenceValues();
