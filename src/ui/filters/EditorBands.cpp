#include "ui/filters/EditorBands.h"

#include "ui/filters/EqBandStrip.h"

namespace qubix::ui {

void ConfigureEditorStrip(TParFilter& strip, int index) {
  const EditorBandSetup& s = kEditorBands.at(static_cast<std::size_t>(index));
  strip.setGeometry(s.left, kEditorStripTop, s.width, TParFilter::kHeight);
  strip.SetFBActive(true);
  strip.SetFMin(10);
  strip.SetFMax(18000);
  strip.SetGMax(12);
  strip.SetQMin(0.2F);
  strip.SetQMax(50.0F);
  strip.SetFirst(index == 0);
  strip.SetLast(index == kEditorBandCount - 1);
  strip.SetFilterBlockQF(s.qf);
  strip.SetFilterBlockAddr(kEditorFirstBandAddr + 5 * index);
}

void StartEditorStrip(TParFilter& strip, int index) {
  const EditorBandSetup& s = kEditorBands.at(static_cast<std::size_t>(index));
  strip.SetFPotPos(s.freqHz);
  strip.SetQPotPos(s.q);
  strip.Paint();
}

}  // namespace qubix::ui
