// Each window as the program draws it, with the program's look applied: the pixels that make it
// legible — tool tips, the graph's scale labels, the chosen radio button, captions that fit their
// buttons, bevelled frames, and band gain figures all in one font.
#include <QApplication>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "editor/AmpCalculator.h"
#include "network/HardwarePreset.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/EditorWindowRig.h"
#include "ui/common/CaptionButton.h"
#include "ui/common/ProgramLook.h"
#include "ui/common/QtFrontend.h"
#include "ui/editor/AmpCalculatorDialog.h"
#include "ui/filters/EditorBands.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/ResponseGraphWindow.h"
#include "ui/network/HardwarePresetDialog.h"
#include "ui/network/MainWindow.h"

using namespace qubix;

namespace {

double Luminance(QColor c) {
  const auto channel = [](double v) {
    v /= 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double Contrast(QColor a, QColor b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool Lime(QRgb p) { return qGreen(p) > 150 && qRed(p) < 100 && qBlue(p) < 100; }

// Pixels of a caption drawn in the last two columns inside a button's frame: the text ran over.
int OverrunPixels(ui::CaptionButton& b) {
  const QImage image = b.grab().toImage();
  int n = 0;
  for (int x = image.width() - 3; x < image.width() - 1; ++x)
    for (int y = 2; y < image.height() - 2; ++y)
      n += std::max({qRed(image.pixel(x, y)), qGreen(image.pixel(x, y)),
                     qBlue(image.pixel(x, y))}) > 100;
  return n;
}

}  // namespace

class TestProgramLook : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { ui::ApplyProgramLook(); }

  void toolTipsAreReadable() {
    const network::HardwarePresetNames names = network::DefaultHardwarePresetNames();
    ui::TForm7 form(QUBIX_DATA_DIR, names);
    form.FormShow();
    form.show();
    QWidget* picture = form.Images[2];
    QToolTip::showText(picture->mapToGlobal(QPoint(10, 10)), picture->toolTip(), picture);
    QWidget* tip = nullptr;
    QTRY_VERIFY((tip = [] {
                  for (QWidget* w : QApplication::topLevelWidgets())
                    if (w->inherits("QTipLabel") && w->isVisible()) return w;
                  return static_cast<QWidget*>(nullptr);
                }()) != nullptr);
    const QImage image = tip->grab().toImage();
    const QColor ground = image.pixelColor(image.width() / 2, 2);
    double best = 1.0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        best = std::max(best, Contrast(ground, image.pixelColor(x, y)));
    QVERIFY2(best >= 4.5, qPrintable(QString::number(best)));
    QToolTip::hideText();
  }

  void graphScaleLabelsAreLimeOnBlack() {
    filters::BandCoefficientTable table;
    ui::TForm3 graph;
    graph.SetInput(&table, 10, [] { return true; });
    graph.show();
    graph.Redraw();
    const QImage image = graph.grab().toImage();
    const QRgb grid = graph.Bitmap().pixel(graph.width() - 3, graph.height() / 2);  // the 0 dB line
    QVERIFY(grid != qRgb(0, 0, 0));
    for (const char* text : {"0db", "+12", "100Hz"}) {
      QLabel* label = graph.Label(QString::fromLatin1(text));
      QVERIFY(label && label->isVisible());
      int ground = 0;
      for (int y = label->y(); y <= label->geometry().bottom(); ++y)
        for (int x = label->x(); x <= label->geometry().right(); ++x) {
          const QRgb p = image.pixel(x, y);
          QVERIFY2(p == qRgb(0, 0, 0) || qRed(p) == 0, text);  // black, or lime text over it
          ground += p == qRgb(0, 0, 0);
        }
      QVERIFY(ground > 0);
    }
  }

  void chosenRadioButtonIsUnmistakable() {
    editor::AmpCalculator calc;
    ui::TForm9 dialog(calc);
    dialog.show();
    const auto radios = dialog.findChildren<QRadioButton*>();
    QCOMPARE(radios.size(), 2);
    const auto limeInIndicator = [](QRadioButton* r) {
      QStyleOptionButton opt;
      opt.initFrom(r);
      const QRect ring = r->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &opt, r);
      const QImage image = r->grab().toImage();
      int n = 0;
      for (int y = ring.top(); y <= ring.bottom(); ++y)
        for (int x = ring.left(); x <= ring.right(); ++x) n += Lime(image.pixel(x, y));
      return n;
    };
    for (QRadioButton* chosen : radios) {
      chosen->click();
      QRadioButton* other = chosen == radios[0] ? radios[1] : radios[0];
      QVERIFY(limeInIndicator(chosen) >= 4);
      QCOMPARE(limeInIndicator(other), 0);
    }
  }

  void captionsFitAndFramesAreBevelled() {
    test::EditorWindowRig rig("qubix_look_editor");
    rig.form.show();
    for (auto* b : rig.form.findChildren<ui::CaptionButton*>())
      QVERIFY2(OverrunPixels(*b) == 0, qPrintable(b->text()));

    ui::Tmainform main(
        std::make_unique<sim::SimAdapter>(sim::makeDemoBus(), sim::ClockMode::Virtual));
    main.show();
    for (auto* b : main.findChildren<ui::CaptionButton*>())
      if (b->isVisible()) QVERIFY2(OverrunPixels(*b) == 0, qPrintable(b->text()));
    // A lowered bevel: a grey shadow line with a white highlight line inside it, both on
    // the top edge, not one flat line.
    const QImage frame = main.Bevel1->grab().toImage();
    const int x = frame.width() / 2;
    QCOMPARE(frame.pixelColor(x, 0), QColor(128, 128, 128));
    QCOMPARE(frame.pixelColor(x, 1), QColor(255, 255, 255));
  }

  void gainFiguresShareOneFont() {
    QWidget panel;
    std::array<ui::TParFilter*, 2> strips{new ui::TParFilter(&panel), new ui::TParFilter(&panel)};
    for (int i = 0; i < 2; ++i) {
      ui::ConfigureEditorStrip(*strips[static_cast<std::size_t>(i)], 3 + i);
      strips[static_cast<std::size_t>(i)]->move(i * 60, 0);
    }
    panel.show();
    // The middle button sets a band's gain to 0 dB, redrawing its gain zone only.
    QTest::mousePress(strips[1], Qt::MiddleButton, {}, QPoint(19, 110));
    QTest::mouseRelease(strips[1], Qt::MiddleButton, {}, QPoint(19, 110));
    QCOMPARE(strips[1]->GPotPos(), strips[0]->GPotPos());
    const QRect figure(0, 165, strips[0]->width(), 50);  // the gain figure, under the fader
    QCOMPARE(strips[1]->grab(figure).toImage(), strips[0]->grab(figure).toImage());
  }

  void openDialogsStartWhereADoubleClickOpens_data() {
    QTest::addColumn<QString>("lastFile");
    QTest::addColumn<QString>("startDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder exists") << ""
                                   << "data/presets"
                                   << "data/presets/";
    QTest::newRow("folder missing: its parent, no name") << ""
                                                         << "data/missing"
                                                         << "data/";
    QTest::newRow("last file opened") << "data/presets/a.vup"
                                      << "data/presets"
                                      << "data/presets/a.vup";
    QTest::newRow("last file gone") << "data/presets/gone.vup"
                                    << "data/presets"
                                    << "data/presets/";
  }
  void openDialogsStartWhereADoubleClickOpens() {
    QFETCH(QString, lastFile);
    QFETCH(QString, startDir);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("data/presets")));
    QFile file(dir.filePath(QStringLiteral("data/presets/a.vup")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const auto at = [&](const QString& p) { return p.isEmpty() ? p : dir.filePath(p); };
    QCOMPARE(ui::OpenDialogStart(at(lastFile), at(startDir)),
             QDir(dir.path()).absoluteFilePath(expected));
  }
};

QTEST_MAIN(TestProgramLook)
#include "test_program_look.moc"
