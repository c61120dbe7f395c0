#include "ui/filters/ResponseGraphWindow.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "ui/filters/Drawing.h"
#include "ui/filters/FilterTexts.h"

namespace qubix::ui {

namespace {
const QColor kGridColour(91, 91, 0);
// Vertical grid lines, Hz; 10 Hz lies left of the first column and is not seen.
constexpr std::array<double, 29> kGridFrequencies{
    10,  20,  30,  40,   50,   60,   70,   80,   90,   100,  200,  300,  400,   500,  600,
    700, 800, 900, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 20000};
constexpr int kGridTop = 5;
// Label order in labels_.
enum LabelIndex { kPlus24, kPlus12, kZero, kMinus12, kMinus24, k100Hz, k1kHz, k10kHz };
constexpr std::array<QStringView, 8> kLabelTexts{
    texts::kLabelPlus24,  texts::kLabelPlus12, texts::kLabelZero, texts::kLabelMinus12,
    texts::kLabelMinus24, texts::kLabel100Hz,  texts::kLabel1kHz, texts::kLabel10kHz};
}  // namespace

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowDoesNotAcceptFocus) {
  setWindowTitle(texts::kGraphCaption.toString());
  setFixedSize(kClientWidth, kClientHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_ShowWithoutActivating);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(5, screen->geometry().height() - 250);

  decadePixels_ = height() / 3;
  zeroLine_ = height() / 2;
  bitmap_ = QImage(size(), QImage::Format_RGB32);
  bitmap_.fill(Qt::black);

  QPalette labelPalette;
  labelPalette.setColor(QPalette::WindowText, kLime);
  labelPalette.setColor(QPalette::Window, Qt::black);
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    labels_[i] = new QLabel(kLabelTexts[i].toString(), this);
    labels_[i]->setPalette(labelPalette);
    labels_[i]->setAutoFillBackground(true);  // lime on black: grid and curve pass behind
    labels_[i]->setFont(ControlFont(10));
    labels_[i]->adjustSize();
    labels_[i]->hide();
  }

  menu_ = new QMenu(this);
  connect(menu_->addAction(texts::kImportFilters.toString()), &QAction::triggered, this,
          &TForm3::ImportFiltersRequested);
  connect(menu_->addAction(texts::kExportFilters.toString()), &QAction::triggered, this,
          &TForm3::ExportFiltersRequested);
}

void TForm3::contextMenuEvent(QContextMenuEvent* event) {
  // Not modal: the editor's timers keep running while the menu is open.
  menu_->popup(event->globalPos());
  event->accept();
}

TForm3::~TForm3() = default;

void TForm3::SetInput(const filters::BandCoefficientTable* table, int bandCount,
                      std::function<bool()> graphRedrawEnabled) {
  table_ = table;
  bandCount_ = bandCount;
  redrawEnabled_ = std::move(graphRedrawEnabled);
}

QLabel* TForm3::Label(QStringView text) const {
  for (std::size_t i = 0; i < labels_.size(); ++i)
    if (kLabelTexts[i] == text) return labels_[i];
  return nullptr;
}

int TForm3::MagnitudeY(double magnitude) const {
  // A magnitude of 0 (or a broken one) would give log10 = −inf: pin it far below the window
  // instead of converting an infinity to an integer.
  double decades = magnitude > 0.0 ? std::log10(magnitude) : -100.0;
  if (!std::isfinite(decades)) decades = decades > 0 ? 100.0 : -100.0;
  decades = std::clamp(decades, -100.0, 100.0);
  return zeroLine_ - static_cast<int>(decades * decadePixels_);
}

void TForm3::DrawGrid() {
  const int w = width();
  const int h = height();
  grid_ = QImage(size(), QImage::Format_RGB32);
  grid_.fill(Qt::black);
  QPainter p(&grid_);
  QPen pen(kGridColour, 1, Qt::SolidLine);
  p.setPen(pen);
  p.drawLine(0, zeroLine_, w, zeroLine_);
  for (int i = 1; i <= 5; ++i) {
    // Multiples of about 6 dB.
    const int c = static_cast<int>(std::log10(std::pow(2.0, i)) * decadePixels_);
    if (zeroLine_ - c >= 0) p.drawLine(0, zeroLine_ - c, w, zeroLine_ - c);
    if (zeroLine_ + c <= h) p.drawLine(0, zeroLine_ + c, w, zeroLine_ + c);
  }
  // About ±3 dB, dotted.
  pen.setStyle(Qt::DotLine);
  p.setPen(pen);
  const double half = std::log10(2.0) * decadePixels_ * 0.5;
  p.drawLine(0, static_cast<int>(zeroLine_ - half), w, static_cast<int>(zeroLine_ - half));
  p.drawLine(0, static_cast<int>(zeroLine_ + half), w, static_cast<int>(zeroLine_ + half));
  pen.setStyle(Qt::SolidLine);
  p.setPen(pen);
  for (double f : kGridFrequencies) {
    const int x = filters::FrequencyColumn(f);
    p.drawLine(x, kGridTop, x, h - 2);
  }
}

void TForm3::Redraw() {
  if (table_ == nullptr || !redrawEnabled_ || !redrawEnabled_()) return;
  // The grid depends only on the size: drawn once, copied under every curve.
  if (grid_.size() != size()) DrawGrid();
  if (bitmap_.size() != grid_.size() || bitmap_.format() != grid_.format())
    bitmap_ = QImage(grid_.size(), grid_.format());
  std::memcpy(bitmap_.bits(), grid_.constBits(), static_cast<std::size_t>(grid_.sizeInBytes()));

  QPainter p(&bitmap_);
  filters::ComputeResponse(*table_, response_, bandCount_);
  if (response_[0] != 0.0) {
    // One polyline: 499 segments from column 1 to column 500.
    std::array<QPoint, filters::kResponseColumns> curve;
    for (int k = 1; k <= filters::kResponseColumns; ++k)
      curve[static_cast<std::size_t>(k - 1)] =
          QPoint(k, MagnitudeY(response_[static_cast<std::size_t>(k - 1)]));
    p.setPen(QPen(kLime, 1));
    p.drawPolyline(curve.data(), static_cast<int>(curve.size()));
  }
  p.end();
  update();
}

void TForm3::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, bitmap_);
}

void TForm3::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  PlaceLabels();
  Redraw();
  // The graph is only looked at: the keyboard stays with the editor.
  if (focusReturn_) {
    QTimer::singleShot(0, focusReturn_.data(), [editor = focusReturn_] {
      if (editor) editor->activateWindow();
    });
  }
}

void TForm3::PlaceLabels() {
  const int h = height();
  const auto placeDb = [&](LabelIndex index, int top, bool shown) {
    labels_[index]->move(4, top);
    labels_[index]->setVisible(shown);
  };
  placeDb(kZero, zeroLine_ - 5, zeroLine_ > 15 && zeroLine_ - 5 < h - 15);
  const int offset12 = static_cast<int>(std::log10(4.0) * decadePixels_);
  const int offset24 = static_cast<int>(std::log10(16.0) * decadePixels_);
  const auto inside = [h](int top) { return top > 10 && top < h - 15; };
  placeDb(kPlus12, zeroLine_ - offset12 - 5, inside(zeroLine_ - offset12 - 5));
  placeDb(kPlus24, zeroLine_ - offset24 - 5, inside(zeroLine_ - offset24 - 5));
  placeDb(kMinus12, zeroLine_ + offset12 - 5, inside(zeroLine_ + offset12 - 5));
  placeDb(kMinus24, zeroLine_ + offset24 - 5, inside(zeroLine_ + offset24 - 5));
  const std::array<std::pair<LabelIndex, double>, 3> hz{
      {{k100Hz, 100.0}, {k1kHz, 1000.0}, {k10kHz, 10000.0}}};
  for (const auto& [index, f] : hz) {
    labels_[index]->move(static_cast<int>(std::log10(f) / filters::FreqStep()) - 205, h - 15);
    labels_[index]->show();
  }
}

}  // namespace qubix::ui
