// One band strip of the editor as the editor's core sees it: the strip on screen (TParFilter)
// or a BandModel without a display (the command-line tool, the tests).
#pragma once

#include <cstdint>
#include <functional>

#include "filters/Biquad.h"
#include "filters/EqBands.h"
#include "filters/ParametricBand.h"

namespace qubix::editor {

inline constexpr int kBandCount = filters::kBandCount;

// What the editor needs of one band strip (a TParFilter on screen, a BandModel in tests). The
// pot setters compute the coefficients and raise the strip's change event.
class BandStrip {
 public:
  virtual ~BandStrip() = default;
  virtual float FPotPos() const = 0;
  virtual float GPotPos() const = 0;
  virtual float QPotPos() const = 0;
  virtual void SetFPotPos(float hz) = 0;
  virtual void SetGPotPos(float db) = 0;
  virtual void SetQPotPos(float q) = 0;
  virtual float FilterBlockQF() const = 0;
  virtual void SetFilterBlockQF(float qf) = 0;
  virtual std::int32_t FilterBlockAddr() const = 0;
  virtual int FBCalc() = 0;
  virtual filters::BiquadCoefficients Coefficients() const = 0;
  virtual void SetActive(bool active) = 0;
  virtual void Repaint() {}
};

// A strip without a display: its values, the parametric computation and the change event.
class BandModel final : public BandStrip {
 public:
  BandModel(float freqHz, float q, std::int32_t address, float filterBlockQF = 0.5F);
  float FPotPos() const override { return f_; }
  float GPotPos() const override { return g_; }
  float QPotPos() const override { return q_; }
  void SetFPotPos(float hz) override;
  void SetGPotPos(float db) override;
  void SetQPotPos(float q) override;
  float FilterBlockQF() const override { return qf_; }
  void SetFilterBlockQF(float qf) override { qf_ = qf; }
  std::int32_t FilterBlockAddr() const override { return address_; }
  int FBCalc() override;
  filters::BiquadCoefficients Coefficients() const override { return band_.Coefficients(); }
  void SetActive(bool active) override { active_ = active; }
  bool active() const { return active_; }

  // The strip's change event. Whoever assembles the editor joins it to BandChanged(index), as
  // the window joins its strips' events: band and editor are two core objects.
  std::function<void()> onChangePar;

 private:
  void changed();
  filters::ParametricBand band_;
  float f_, g_ = 0.0F, q_, qf_;
  std::int32_t address_;
  bool active_ = true;
};

}  // namespace qubix::editor
