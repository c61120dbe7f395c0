// TForm3: the response graph tool window — the combined magnitude response of the equaliser bands
// on a logarithmic frequency axis, drawn into an off-screen bitmap and copied to the window. It
// reads the editor's band coefficient table, never the band strips.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

#include "filters/Response.h"

class QLabel;
class QMenu;

namespace qubix::ui {

class TForm3 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 492;
  static constexpr int kClientHeight = 166;

  explicit TForm3(QWidget* parent = nullptr);
  ~TForm3() override;

  // What the editor lends the graph: its band coefficient table, how many bands to combine and
  // its GraphRedrawEnabled flag. Without a table (or a flag) Redraw does nothing.
  void SetInput(const filters::BandCoefficientTable* table, int bandCount,
                std::function<bool()> graphRedrawEnabled);
  // The window the keyboard focus goes back to after the graph has been painted.
  void SetFocusReturn(QWidget* editor) { focusReturn_ = editor; }

  // Recomputes the response and repaints the bitmap, unless GraphRedrawEnabled is cleared.
  void Redraw();

  const QImage& Bitmap() const { return bitmap_; }
  const filters::ResponseArray& Response() const { return response_; }
  int DecadePixels() const { return decadePixels_; }
  int ZeroLine() const { return zeroLine_; }
  // y of a linear magnitude: ZeroLine − trunc(log10(m) · DecadePixels).
  int MagnitudeY(double magnitude) const;
  // The label with this text (nullptr if there is none).
  QLabel* Label(QStringView text) const;
  // The right-click menu: "Import Filters…", "Export Filters…".
  QMenu* ContextMenu() const { return menu_; }

 signals:
  void ImportFiltersRequested();
  void ExportFiltersRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void PlaceLabels();
  void DrawGrid();

  const filters::BandCoefficientTable* table_ = nullptr;
  int bandCount_ = filters::kResponseBands;
  std::function<bool()> redrawEnabled_;
  QPointer<QWidget> focusReturn_;
  QImage bitmap_;
  QImage grid_;
  filters::ResponseArray response_{};
  int decadePixels_ = 0;
  int zeroLine_ = 0;
  std::array<QLabel*, 8> labels_{};
  QMenu* menu_ = nullptr;
};

}  // namespace qubix::ui
