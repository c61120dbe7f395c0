#include "editor/BandStrip.h"

namespace qubix::editor {

BandModel::BandModel(float freqHz, float q, std::int32_t address, float filterBlockQF)
    : f_(freqHz), q_(q), qf_(filterBlockQF), address_(address) {
  FBCalc();
}

void BandModel::SetFPotPos(float hz) {
  f_ = hz;
  changed();
}
void BandModel::SetGPotPos(float db) {
  g_ = db;
  changed();
}
void BandModel::SetQPotPos(float q) {
  q_ = q;
  changed();
}
int BandModel::FBCalc() { return band_.FBCalc(f_, g_, q_, 48000); }

void BandModel::changed() {
  FBCalc();
  if (onChangePar) onChangePar();
}

}  // namespace qubix::editor
