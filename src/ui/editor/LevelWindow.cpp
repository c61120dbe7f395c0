#include "ui/editor/LevelWindow.h"

#include <QGuiApplication>
#include <QScreen>

#include "ui/editor/EditorTexts.h"
#include "ui/editor/EditorWidgets.h"

namespace qubix::ui {
namespace {

constexpr std::array<int, editor::kMeterCount> kColumnX{32, 108, 186, 264, 342, 420};
constexpr int kGaugeWidth = 17;

struct Section {
  int top, height;
  editor::GaugeRange range;
  QColor bar, background;
};
const std::array<Section, 3> kSections{{
    {60, 150, editor::kGreenRange, QColor(0, 255, 0), QColor(0, 51, 0)},
    {50, 12, editor::kYellowRange, QColor(255, 255, 0), QColor(62, 62, 0)},
    {26, 26, editor::kRedRange, QColor(255, 0, 0), QColor(60, 0, 0)},
}};

// Scale marks beside each column: text and y; " +6" and " 0db" sit 2 px lower from column 2 on.
struct Mark {
  int index, y, yLater;
};
constexpr std::array<Mark, 7> kMarks{{{0, 28, 28},
                                      {1, 42, 44},
                                      {2, 54, 56},
                                      {3, 72, 72},
                                      {4, 90, 90},
                                      {5, 124, 124},
                                      {6, 194, 194}}};

}  // namespace

TForm8::TForm8(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QString::fromUtf8(editor::leveltexts::kCaption.data(),
                                   static_cast<int>(editor::leveltexts::kCaption.size())));
  setFixedSize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  QFont small = font();
  small.setPixelSize(10);
  setFont(small);
  int screenHeight = 768;
  if (auto* screen = QGuiApplication::primaryScreen()) screenHeight = screen->geometry().height();
  move(5, screenHeight - 310);

  for (int c = 0; c < editor::kMeterCount; ++c) {
    const int x = kColumnX[static_cast<std::size_t>(c)];
    const auto& title = editor::leveltexts::kTitles[static_cast<std::size_t>(c)];
    ColouredLabel(QString::fromLatin1(title.data(), static_cast<int>(title.size())),
                  editortexts::kAqua, this, x - 8, 6);
    for (std::size_t s = 0; s < kSections.size(); ++s) {
      const Section& sec = kSections[s];
      auto* g = new TCGauge(this);
      g->setGeometry(x, sec.top, kGaugeWidth, sec.height);
      g->SetRange(sec.range.min, sec.range.max);
      g->SetProgress(sec.range.min);
      g->SetForeColor(sec.bar);
      g->SetBackColor(sec.background);
      gauges_[s * editor::kMeterCount + static_cast<std::size_t>(c)] = g;
    }
    for (const Mark& m : kMarks) {
      const auto& text = editor::leveltexts::kScale[static_cast<std::size_t>(m.index)];
      auto* label =
          ColouredLabel(QString::fromLatin1(text.data(), static_cast<int>(text.size())),
                        editortexts::kAqua, this, x + kGaugeWidth + 2, c == 0 ? m.y : m.yLater);
      QFont scale = label->font();
      scale.setPixelSize(9);
      label->setFont(scale);
      label->adjustSize();
    }
  }
}

void TForm8::SetMeters(const std::array<editor::MeterSections, editor::kMeterCount>& meters) {
  // Green first for all columns, then yellow, then red.
  for (std::size_t c = 0; c < meters.size(); ++c) gauges_[c]->SetProgress(meters[c].green);
  for (std::size_t c = 0; c < meters.size(); ++c) gauges_[6 + c]->SetProgress(meters[c].yellow);
  for (std::size_t c = 0; c < meters.size(); ++c) gauges_[12 + c]->SetProgress(meters[c].red);
}

}  // namespace qubix::ui
