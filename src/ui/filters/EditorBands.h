// The ten band strips as the editor window places and configures them, so the editor and the
// widgets demo set them up the same way.
#pragma once

#include <array>

namespace qubix::ui {

class TParFilter;

struct EditorBandSetup {
  int left;
  int width;
  float freqHz;  // FPotPos = FValue at start
  float q;       // QPotPos = QValue at start
  float qf;      // FilterBlockQF
};

inline constexpr int kEditorBandCount = 10;
inline constexpr int kEditorStripTop = 20;
inline constexpr int kEditorFirstBandAddr = 799;  // band n at 799 + 5 · (n − 1)

inline constexpr std::array<EditorBandSetup, kEditorBandCount> kEditorBands{{
    {284, 62, 32, 1.8F, 0.5F},   {348, 38, 63, 1.4F, 0.5F},   {388, 38, 125, 1.4F, 0.5F},
    {428, 38, 250, 1.4F, 0.5F},  {468, 38, 500, 1.4F, 0.5F},  {508, 38, 1000, 1.4F, 0.5F},
    {548, 38, 2000, 1.4F, 0.5F}, {588, 38, 4000, 1.4F, 0.5F}, {628, 38, 8000, 1.8F, 2.0F},
    {668, 62, 16000, 3.0F, 0.5F},
}};

// Geometry, limits (10 … 18000 Hz, ±12 dB, Q 0.2 … 50), First/Last, FilterBlockQF and the
// band address of band index 0 … 9; FBActive set. Raises no change event.
void ConfigureEditorStrip(TParFilter& strip, int index);
// The start frequency and Q through the pot setters: computes and raises ChangePar twice,
// so connect the strip's handler first. Ends with a full repaint.
void StartEditorStrip(TParFilter& strip, int index);

}  // namespace qubix::ui
