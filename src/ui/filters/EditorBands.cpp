#include "ui/filters/EditorBands.h"

#include "ui/filters/EqBandStrip.h"

namespace qubix::ui {

void ConfigureEditorStrip(TParFilter& strip, int index) {
  const auto i = static_cast<std::size_t>(index);
  const EditorBandPlace& place = kEditorBands.at(i);
  strip.setGeometry(place.left, kEditorStripTop, place.width, TParFilter::kHeight);
  strip.SetFBActive(true);
  strip.SetFMin(filters::kBandFreqMinHz);
  strip.SetFMax(filters::kBandFreqMaxHz);
  strip.SetGMax(filters::kBandGainMaxDb);
  strip.SetQMin(filters::kBandQMin);
  strip.SetQMax(filters::kBandQMax);
  strip.SetFirst(index == 0);
  strip.SetLast(index == kEditorBandCount - 1);
  strip.SetFilterBlockQF(filters::kStripStarts.at(i).qf);
  strip.SetFilterBlockAddr(filters::BandAddressAt(index));
}

void StartEditorStrip(TParFilter& strip, int index) {
  const filters::StripStart& s = filters::kStripStarts.at(static_cast<std::size_t>(index));
  strip.SetFPotPos(s.freqHz);
  strip.SetQPotPos(s.q);
  strip.Paint();
}

}  // namespace qubix::ui
