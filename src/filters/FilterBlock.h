// The computation of one filter block of a DSP chain: crossover high-/low-pass of several
// families and slopes, shelving, parametric, all-pass, pass-through or host-supplied sections.
// No display here; the image control wraps this class.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "filters/Biquad.h"
#include "filters/ParametricBand.h"

namespace qubix::filters {

enum FBModel : int {
  FBMLnkR_LPF,
  FBMButt_LPF,
  FBMBess_LPF,
  FBMShlv_LPF,
  FBMLnkR_HPF,
  FBMButt_HPF,
  FBMBess_HPF,
  FBMShlv_HPF,
  FBMPara,
  FBMAllp,
  FBMNone,
  FBMGeneric,
};
inline constexpr int kFBModelCount = 12;

enum FBSlope : int { FBSlope06, FBSlope12, FBSlope24, FBSlope36, FBSlope48 };
inline constexpr int kFBSlopeCount = 5;

// Enumerator names as text ("FBMButt_LPF", "FBSlope24") and back; empty on an unknown name.
std::string_view ModelName(FBModel model);
std::string_view SlopeName(FBSlope slope);
std::optional<FBModel> ModelFromName(std::string_view name);
std::optional<FBSlope> SlopeFromName(std::string_view name);

// FBCalc result codes.
namespace fbcode {
inline constexpr int kOk = 0;
inline constexpr int kGenericA1 = 95;
inline constexpr int kGenericA2 = 96;
inline constexpr int kGenericB0 = 97;
inline constexpr int kGenericB1 = 98;
inline constexpr int kGenericB2 = 99;
inline constexpr int kLinkwitzLowSlope = 101;
inline constexpr int kLinkwitzLowFailed = 102;
inline constexpr int kButterworthLowFailed = 103;
inline constexpr int kBesselLowSlope = 104;
inline constexpr int kBesselLowFailed = 105;
inline constexpr int kLowShelfFailed = 106;
inline constexpr int kLinkwitzHighSlope = 111;
inline constexpr int kLinkwitzHighFailed = 112;
inline constexpr int kButterworthHighFailed = 113;
inline constexpr int kBesselHighSlope = 114;
inline constexpr int kBesselHighFailed = 115;
inline constexpr int kHighShelfFailed = 116;
using filters::kParametricFailed;  // one code for the parametric band, wherever it is computed
inline constexpr int kAllPassFailed = 122;
}  // namespace fbcode

inline constexpr int kMaxSections = 4;

class FilterBlock {
 public:
  // Model and slope setters: store, then a Linkwitz-Riley model forces FBSlope24, a Bessel
  // model turns FBSlope06 into FBSlope12, SectionCount follows the slope (1, 1, 2, 3, 4) and
  // then the model (1 for parametric, all-pass, shelving and generic; the model setter gives
  // 0 for FBMNone). Both update FilterBlockNextAddr and set FBChanged.
  void SetFilterBlockModel(FBModel model);
  void SetFilterBlockSlope(FBSlope slope);
  // Stores and sets FilterBlockNextAddr = address + 5 · SectionCount.
  void SetFilterBlockAddr(std::int32_t address);
  // Inactive blocks occupy no sections: false sets SectionCount to 0.
  void SetFBActive(bool active);

  void SetFilterBlockShelfS(float s);
  void SetFilterBlockFreq(std::int32_t freqHz);
  void SetFilterBlockGain(std::int32_t gainDb);
  void SetFilterBlockQF(float q);
  void SetFilterBlockAPB(float bandwidthHz);
  void SetFilterBlockSR(std::int32_t sampleRateHz);

  FBModel FilterBlockModel() const { return model_; }
  FBSlope FilterBlockSlope() const { return slope_; }
  float FilterBlockQF() const { return q_; }
  std::int32_t FilterBlockSR() const { return sampleRateHz_; }
  std::int32_t FilterBlockAddr() const { return addr_; }
  std::int32_t FilterBlockNextAddr() const { return nextAddr_; }
  bool FBActive() const { return active_; }
  std::int32_t SectionCount() const { return sectionCount_; }
  std::int32_t FilterOrder() const { return order_; }

  // Change flags; the host clears them after it has sent the block.
  bool FBChanged = false;
  bool FBAddrChanged = false;

  // Clears the sections to flat (for FBMGeneric only sections 1 … 3), derives FilterOrder
  // from the slope, takes float working copies of the parameters and runs the model's
  // computation. Returns 0 or the first failure code; a failed computation keeps what it wrote.
  int FBCalc();

  // Section i (0 … 3). Hosts write section 0 directly for FBMGeneric.
  BiquadCoefficients Section(int i) const;
  void SetSection(int i, const BiquadCoefficients& c);

  // The coefficient store, section i at index i.
  std::array<double, kMaxSections> b0{1.0, 1.0, 1.0, 1.0};
  std::array<double, kMaxSections> b1{};
  std::array<double, kMaxSections> b2{};
  std::array<double, kMaxSections> a1{};
  std::array<double, kMaxSections> a2{};

  // One computation per model, from the working copies FBCalc took; true on success.
  bool CompLLinkw();
  bool CompHLinkw();
  bool CompLButt();
  bool CompHButt();
  bool CompLBessel();
  bool CompHBessel();
  bool CompLShelv();
  bool CompHShelv();
  bool CompParametric();
  bool CompAllPass();

 private:
  struct WorkingCopies {
    float freqHz = 0, gainDb = 0, q = 0, sampleRateHz = 0, shelfS = 0, bandwidthHz = 0;
  };
  void applySlopeRules();
  void updateNextAddr();
  bool butterworth(bool highPass);
  bool linkwitz(bool highPass);
  bool bessel(bool highPass);
  bool shelf(bool highPass);
  bool sectionsInRange(int count) const;

  FBModel model_ = FBMLnkR_LPF;
  FBSlope slope_ = FBSlope06;
  float shelfS_ = 0.5F;
  std::int32_t freqHz_ = 1000;
  std::int32_t gainDb_ = 0;
  float q_ = 0.5F;
  float allPassBandwidthHz_ = 0.0F;
  std::int32_t sampleRateHz_ = 48000;
  std::int32_t addr_ = 0;
  std::int32_t nextAddr_ = 0;
  bool active_ = false;
  std::int32_t sectionCount_ = 1;
  std::int32_t order_ = 1;
  WorkingCopies work_;
};

}  // namespace qubix::filters
