// The ten band strips as the editor window places and configures them, so the editor and the
// widgets demo set them up the same way.
#pragma once

#include <array>

#include "filters/EqBands.h"

namespace qubix::ui {

class TParFilter;

// Where a strip sits in the editor window; its limits, start values and band address are the
// core's (filters/EqBands.h).
struct EditorBandPlace {
  int left;
  int width;
};

inline constexpr int kEditorBandCount = filters::kBandCount;
inline constexpr int kEditorStripTop = 20;

inline constexpr std::array<EditorBandPlace, kEditorBandCount> kEditorBands{{
    {284, 62},
    {348, 38},
    {388, 38},
    {428, 38},
    {468, 38},
    {508, 38},
    {548, 38},
    {588, 38},
    {628, 38},
    {668, 62},
}};

// Geometry, the core's limits (10 … 18000 Hz, ±12 dB, Q 0.2 … 50), First/Last, FilterBlockQF
// and the band address of band index 0 … 9; FBActive set. Raises no change event.
void ConfigureEditorStrip(TParFilter& strip, int index);
// The start frequency and Q through the pot setters: computes and raises ChangePar twice,
// so connect the strip's handler first. Ends with a full repaint.
void StartEditorStrip(TParFilter& strip, int index);

}  // namespace qubix::ui
