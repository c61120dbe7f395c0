#include "ReferenceValues.h"

#include <fstream>
#include <sstream>

ReferenceValues LoadReferenceValues() {
  ReferenceValues ref;
  std::ifstream in(std::string(QUBIX_TEST_DATA) + "/reference_values.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string kind;
    s >> kind;
    if (kind == "coef") {
      ReferenceCoefficient c{};
      s >> c.freqHz >> c.gainDb >> c.q;
      for (double& v : c.expected) s >> v;
      ref.coefficients.push_back(c);
    } else if (kind == "table") {
      std::string name, band;
      int count = 0;
      s >> name >> count;
      ReferenceTable& t = ref.tables[name];
      while (s >> band) {
        std::array<float, 3> b{};
        char comma = 0;
        std::istringstream bs(band);
        bs >> b[0] >> comma >> b[1] >> comma >> b[2];
        t.bands.push_back(b);
      }
    } else if (kind == "resp") {
      std::string name;
      int x = 0;
      double m = 0;
      s >> name >> x >> m;
      ref.tables[name].response.push_back(m);
    }
  }
  return ref;
}

std::vector<ReferenceBlock> LoadBlockReferenceValues() {
  std::vector<ReferenceBlock> blocks;
  std::ifstream in(std::string(QUBIX_TEST_DATA) + "/block_reference_values.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string kind;
    s >> kind;
    if (kind != "block") continue;
    ReferenceBlock b;
    int count = 0;
    s >> b.model >> b.slope >> b.freqHz >> b.gainDb >> b.q >> b.shelfS >> b.allPassBandwidthHz >>
        b.sampleRateHz >> count;
    for (int i = 0; i < count; ++i) {
      std::array<double, 5> section{};
      for (double& v : section) s >> v;
      b.sections.push_back(section);
    }
    blocks.push_back(b);
  }
  return blocks;
}
