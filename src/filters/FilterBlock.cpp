#include "filters/FilterBlock.h"

#include <cmath>

#include "filters/ParametricBand.h"

namespace qubix::filters {

namespace {

constexpr double kPi = 3.141592653589793;

constexpr std::array<std::string_view, kFBModelCount> kModelNames{
    "FBMLnkR_LPF", "FBMButt_LPF", "FBMBess_LPF", "FBMShlv_LPF", "FBMLnkR_HPF", "FBMButt_HPF",
    "FBMBess_HPF", "FBMShlv_HPF", "FBMPara",     "FBMAllp",     "FBMNone",     "FBMGeneric"};
constexpr std::array<std::string_view, kFBSlopeCount> kSlopeNames{
    "FBSlope06", "FBSlope12", "FBSlope24", "FBSlope36", "FBSlope48"};

constexpr std::array<std::int32_t, kFBSlopeCount> kOrderOfSlope{1, 2, 4, 6, 8};
constexpr std::array<std::int32_t, kFBSlopeCount> kSectionsOfSlope{1, 1, 2, 3, 4};

// Pole angles of the Butterworth second-order sections, per order 2, 4, 6, 8.
constexpr std::array<std::array<double, 4>, 4> kButterworthTheta{{
    {kPi / 4, 0, 0, 0},
    {3 * kPi / 8, kPi / 8, 0, 0},
    {5 * kPi / 12, kPi / 4, kPi / 12, 0},
    {7 * kPi / 16, 5 * kPi / 16, 3 * kPi / 16, kPi / 16},
}};

struct BesselOrder {
  std::array<std::array<double, 2>, 4> ab;  // (A, B) per section
  double nLow;
  double nHigh;
};
constexpr std::array<BesselOrder, 4> kBessel{{
    {{{{0.618034, 1.361654}}}, 1.447, 0.69},
    {{{{0.388991, 0.774254}, {0.488904, 1.339664}}}, 1.36, 0.734},
    {{{{0.275641, 0.513054}, {0.350473, 0.968607}, {0.388718, 1.221734}}}, 1.374, 0.727},
    {{{{0.208745, 0.372765}, {0.262125, 0.720236}, {0.297924, 0.975366}, {0.316161, 1.11125}}},
     1.388,
     0.719},
}};

bool IsLinkwitz(FBModel m) { return m == FBMLnkR_LPF || m == FBMLnkR_HPF; }
bool IsBessel(FBModel m) { return m == FBMBess_LPF || m == FBMBess_HPF; }
bool IsSingleSection(FBModel m) {
  return m == FBMPara || m == FBMAllp || m == FBMShlv_LPF || m == FBMShlv_HPF || m == FBMGeneric;
}

// One Butterworth-shaped second-order section with damping d.
BiquadCoefficients ButterworthSection(double d, double omega, bool highPass) {
  const double sw = (d / 2.0) * std::sin(omega);
  const double beta = 0.5 * (1.0 - sw) / (1.0 + sw);
  const double gamma = (0.5 + beta) * std::cos(omega);
  const double alpha = highPass ? (0.5 + beta + gamma) / 4.0 : (0.5 + beta - gamma) / 4.0;
  return {2.0 * alpha, highPass ? -4.0 * alpha : 4.0 * alpha, 2.0 * alpha, -2.0 * gamma,
          2.0 * beta};
}

}  // namespace

std::string_view ModelName(FBModel model) {
  return model >= 0 && model < kFBModelCount ? kModelNames[model] : std::string_view{};
}
std::string_view SlopeName(FBSlope slope) {
  return slope >= 0 && slope < kFBSlopeCount ? kSlopeNames[slope] : std::string_view{};
}
std::optional<FBModel> ModelFromName(std::string_view name) {
  for (int i = 0; i < kFBModelCount; ++i)
    if (kModelNames[i] == name) return static_cast<FBModel>(i);
  return std::nullopt;
}
std::optional<FBSlope> SlopeFromName(std::string_view name) {
  for (int i = 0; i < kFBSlopeCount; ++i)
    if (kSlopeNames[i] == name) return static_cast<FBSlope>(i);
  return std::nullopt;
}

void FilterBlock::applySlopeRules() {
  if (IsLinkwitz(model_)) slope_ = FBSlope24;
  if (IsBessel(model_) && slope_ == FBSlope06) slope_ = FBSlope12;
  sectionCount_ = kSectionsOfSlope[slope_];
  if (IsSingleSection(model_)) sectionCount_ = 1;
}

void FilterBlock::updateNextAddr() { nextAddr_ = addr_ + 5 * sectionCount_; }

void FilterBlock::SetFilterBlockModel(FBModel model) {
  if (model < 0 || model >= kFBModelCount) return;
  model_ = model;
  applySlopeRules();
  if (model_ == FBMNone) sectionCount_ = 0;
  updateNextAddr();
  FBChanged = true;
}

void FilterBlock::SetFilterBlockSlope(FBSlope slope) {
  if (slope < 0 || slope >= kFBSlopeCount) return;
  slope_ = slope;
  applySlopeRules();
  updateNextAddr();
  FBChanged = true;
}

void FilterBlock::SetFilterBlockAddr(std::int32_t address) {
  addr_ = address;
  updateNextAddr();
  FBAddrChanged = true;
}

void FilterBlock::SetFBActive(bool active) {
  active_ = active;
  if (!active) sectionCount_ = 0;
}

void FilterBlock::SetFilterBlockShelfS(float s) {
  shelfS_ = s;
  FBChanged = true;
}
void FilterBlock::SetFilterBlockFreq(std::int32_t freqHz) {
  freqHz_ = freqHz;
  FBChanged = true;
}
void FilterBlock::SetFilterBlockGain(std::int32_t gainDb) {
  gainDb_ = gainDb;
  FBChanged = true;
}
void FilterBlock::SetFilterBlockQF(float q) {
  q_ = q;
  FBChanged = true;
}
void FilterBlock::SetFilterBlockAPB(float bandwidthHz) {
  allPassBandwidthHz_ = bandwidthHz;
  FBChanged = true;
}
void FilterBlock::SetFilterBlockSR(std::int32_t sampleRateHz) {
  sampleRateHz_ = sampleRateHz;
  FBChanged = true;
}

BiquadCoefficients FilterBlock::Section(int i) const {
  if (i < 0 || i >= kMaxSections) return kFlatBiquad;
  return {b0[i], b1[i], b2[i], a1[i], a2[i]};
}

void FilterBlock::SetSection(int i, const BiquadCoefficients& c) {
  if (i < 0 || i >= kMaxSections) return;
  b0[i] = c.b0;
  b1[i] = c.b1;
  b2[i] = c.b2;
  a1[i] = c.a1;
  a2[i] = c.a2;
}

bool FilterBlock::sectionsInRange(int count) const {
  for (int i = 0; i < count; ++i)
    if (!BiquadInRange(Section(i))) return false;
  return true;
}

int FilterBlock::FBCalc() {
  for (int i = model_ == FBMGeneric ? 1 : 0; i < kMaxSections; ++i) SetSection(i, kFlatBiquad);
  order_ = kOrderOfSlope[slope_];
  work_ = WorkingCopies{static_cast<float>(freqHz_),
                        static_cast<float>(gainDb_),
                        q_,
                        static_cast<float>(sampleRateHz_),
                        shelfS_,
                        allPassBandwidthHz_};
  using namespace fbcode;
  switch (model_) {
    case FBMLnkR_LPF:
      if (slope_ != FBSlope24) return kLinkwitzLowSlope;
      return CompLLinkw() ? kOk : kLinkwitzLowFailed;
    case FBMButt_LPF:
      return CompLButt() ? kOk : kButterworthLowFailed;
    case FBMBess_LPF:
      if (slope_ == FBSlope06) return kBesselLowSlope;
      return CompLBessel() ? kOk : kBesselLowFailed;
    case FBMShlv_LPF:
      return CompLShelv() ? kOk : kLowShelfFailed;
    case FBMLnkR_HPF:
      if (slope_ != FBSlope24) return kLinkwitzHighSlope;
      return CompHLinkw() ? kOk : kLinkwitzHighFailed;
    case FBMButt_HPF:
      return CompHButt() ? kOk : kButterworthHighFailed;
    case FBMBess_HPF:
      if (slope_ == FBSlope06) return kBesselHighSlope;
      return CompHBessel() ? kOk : kBesselHighFailed;
    case FBMShlv_HPF:
      return CompHShelv() ? kOk : kHighShelfFailed;
    case FBMPara:
      return CompParametric() ? kOk : fbcode::kParametricFailed;
    case FBMAllp:
      return CompAllPass() ? kOk : kAllPassFailed;
    case FBMNone:
      sectionCount_ = 0;
      return kOk;
    case FBMGeneric: {
      sectionCount_ = 1;
      const std::array<std::pair<double, int>, 5> checks{{{b2[0], kGenericB2},
                                                          {b1[0], kGenericB1},
                                                          {b0[0], kGenericB0},
                                                          {a2[0], kGenericA2},
                                                          {a1[0], kGenericA1}}};
      for (const auto& [value, code] : checks)
        if (!CoefficientInRange(value)) return code;
      return kOk;
    }
  }
  return kOk;
}

bool FilterBlock::butterworth(bool highPass) {
  if (!(work_.sampleRateHz > 0)) return false;
  const double omega = kTwoPi * static_cast<double>(work_.freqHz) / work_.sampleRateHz;
  if (order_ == 1) {
    const double den = omega + 2.0;
    const BiquadCoefficients c{highPass ? 2.0 / den : omega / den,
                               highPass ? -2.0 / den : omega / den, 0.0, (omega - 2.0) / den, 0.0};
    SetSection(0, c);
    if (!sectionsInRange(1)) return false;
    sectionCount_ = 1;
    return true;
  }
  const int row = order_ / 2 - 1;
  if (order_ % 2 != 0 || row < 0 || row >= 4) return false;
  const int sections = order_ / 2;
  for (int k = 0; k < sections; ++k)
    SetSection(k, ButterworthSection(2.0 * std::sin(kButterworthTheta[row][k]), omega, highPass));
  if (!sectionsInRange(sections)) return false;
  sectionCount_ = sections;
  return true;
}

bool FilterBlock::CompLButt() { return butterworth(false); }
bool FilterBlock::CompHButt() { return butterworth(true); }

// Two identical second-order Butterworth sections: the crossover sums flat with its partner.
bool FilterBlock::linkwitz(bool highPass) {
  if (order_ != 4 || !(work_.sampleRateHz > 0)) return false;
  const double omega = kTwoPi * static_cast<double>(work_.freqHz) / work_.sampleRateHz;
  const BiquadCoefficients c = ButterworthSection(2.0 * std::sin(kPi / 4), omega, highPass);
  SetSection(0, c);
  SetSection(1, c);
  if (!sectionsInRange(2)) return false;
  sectionCount_ = 2;
  return true;
}

bool FilterBlock::CompLLinkw() { return linkwitz(false); }
bool FilterBlock::CompHLinkw() { return linkwitz(true); }

bool FilterBlock::bessel(bool highPass) {
  if (!(work_.sampleRateHz > 0)) return false;
  if (order_ % 2 != 0 || order_ < 2 || order_ > 8) return false;
  const BesselOrder& table = kBessel[order_ / 2 - 1];
  const double n = highPass ? table.nHigh : table.nLow;
  const double p = (static_cast<double>(work_.freqHz) / n) * kPi / work_.sampleRateHz;
  const double p2 = p * p;
  const int sections = order_ / 2;
  for (int k = 0; k < sections; ++k) {
    const double a = table.ab[k][0];
    const double b = table.ab[k][1];
    BiquadCoefficients c;
    if (highPass) {
      const double d = 1.0 / (a * p2 + b * p + 1.0);
      c = {d, -2.0 * d, d, 2.0 * (a * p2 - 1.0) * d, (a * p2 - b * p + 1.0) * d};
    } else {
      const double d = 1.0 / (p2 + b * p + a);
      const double lb0 = p2 * d;
      c = {lb0, 2.0 * lb0, lb0, 2.0 * (p2 - a) * d, (p2 - b * p + a) * d};
    }
    SetSection(k, c);
  }
  if (!sectionsInRange(sections)) return false;
  sectionCount_ = sections;
  return true;
}

bool FilterBlock::CompLBessel() { return bessel(false); }
bool FilterBlock::CompHBessel() { return bessel(true); }

bool FilterBlock::shelf(bool highPass) {
  if (!(work_.sampleRateHz > 0) || !(work_.shelfS > 0)) return false;
  const double a = std::pow(10.0, 0.025 * static_cast<double>(work_.gainDb));
  const double omega = kTwoPi * static_cast<double>(work_.freqHz) / work_.sampleRateHz;
  const double c = std::cos(omega);
  const double s = static_cast<double>(work_.shelfS);
  const double alpha = (std::sin(omega) / 2.0) * std::sqrt((a + 1.0 / a) * (1.0 / s - 1.0) + 2.0);
  const double h = 2.0 * std::sqrt(a) * alpha;
  BiquadCoefficients r;
  if (highPass) {
    const double a0 = (a + 1) - (a - 1) * c + h;
    r = {a * ((a + 1) + (a - 1) * c + h) / a0, -2.0 * a * ((a - 1) + (a + 1) * c) / a0,
         a * ((a + 1) + (a - 1) * c - h) / a0, 2.0 * ((a - 1) - (a + 1) * c) / a0,
         ((a + 1) - (a - 1) * c - h) / a0};
  } else {
    const double a0 = (a + 1) + (a - 1) * c + h;
    r = {a * ((a + 1) - (a - 1) * c + h) / a0, 2.0 * a * ((a - 1) - (a + 1) * c) / a0,
         a * ((a + 1) - (a - 1) * c - h) / a0, -2.0 * ((a - 1) + (a + 1) * c) / a0,
         ((a + 1) + (a - 1) * c - h) / a0};
  }
  SetSection(0, r);
  if (!sectionsInRange(1)) return false;
  sectionCount_ = 1;
  return true;
}

bool FilterBlock::CompLShelv() { return shelf(false); }
bool FilterBlock::CompHShelv() { return shelf(true); }

bool FilterBlock::CompParametric() {
  BiquadCoefficients c;
  const bool ok =
      ComputeParametric(ParametricInputs{work_.freqHz, work_.gainDb, work_.q, sampleRateHz_}, c);
  SetSection(0, c);
  if (!ok) return false;
  sectionCount_ = 1;
  return true;
}

bool FilterBlock::CompAllPass() {
  if (!(work_.sampleRateHz > 0)) return false;
  const double t = std::tan(kPi * static_cast<double>(work_.bandwidthHz) / work_.sampleRateHz);
  const double c = (t - 1.0) / (t + 1.0);
  const double middle =
      -(1.0 - c) * std::cos(kTwoPi * static_cast<double>(work_.freqHz) / work_.sampleRateHz);
  SetSection(0, {-c, middle, 1.0, middle, -c});
  if (!sectionsInRange(1)) return false;
  sectionCount_ = 1;
  return true;
}

}  // namespace qubix::filters
