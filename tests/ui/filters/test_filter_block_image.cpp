// Filter block image and the named pictures: every bitmap and cursor the controls load by name
// is in the resources at its size, and the block shows the picture of its state.
#include <QPixmap>
#include <QTest>

#include "Resources.h"
#include "support/WidgetTest.h"
#include "ui/filters/FilterBlockImage.h"

using qubix::ui::TFilterBlock;

class FilterBlockTest : public QObject {
  Q_OBJECT

 private slots:
  void namedPictures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    using qubix::resources::bitmapPath;
    using qubix::resources::cursorPath;
    QTest::newRow("EQ_KNOBPAR") << bitmapPath(u"EQ_KNOBPAR") << QSize(32, 18);
    QTest::newRow("EQ_SCALEDXPAR") << bitmapPath(u"EQ_SCALEDXPAR") << QSize(35, 114);
    QTest::newRow("EQ_SCALESXPAR") << bitmapPath(u"EQ_SCALESXPAR") << QSize(24, 114);
    QTest::newRow("EQ_GRIDPAR") << bitmapPath(u"EQ_GRIDPAR") << QSize(14, 114);
    QTest::newRow("EQ_PUNCHPAR") << bitmapPath(u"EQ_PUNCHPAR") << QSize(6, 114);
    QTest::newRow("GRAYSMKPAR") << bitmapPath(u"GRAYSMKPAR") << QSize(38, 34);
    for (const char* knob : {"GRAYKNOBSS", "BLUEKNOBSS", "WHITEKNOBSS", "GREENKNOBSS", "REDKNOBSS",
                             "ORANGEKNOBSS", "YELLOWKNOBSS"})
      QTest::newRow(knob) << bitmapPath(QString::fromLatin1(knob)) << QSize(76, 70);
    QTest::newRow("ACTIVEBMP") << bitmapPath(u"ACTIVEBMP") << QSize(32, 32);
    QTest::newRow("INACTIVEBMP") << bitmapPath(u"INACTIVEBMP") << QSize(32, 32);
    for (const char* cursor : {"CURSORPLUSPAR", "CURSORMINUSPAR", "CURSOR_1PAR", "CURSORPLUS",
                               "CURSORMINUS", "CURSOR_0"})
      QTest::newRow(cursor) << cursorPath(QString::fromLatin1(cursor)) << QSize(32, 32);
  }

  void namedPictures() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QPixmap pixmap(path);
    QVERIFY2(!pixmap.isNull(), qPrintable(path));
    QCOMPARE(pixmap.size(), size);
  }

  void blockShowsThePictureOfItsState() {
    const QImage active = QPixmap(qubix::resources::bitmapPath(u"ACTIVEBMP")).toImage();
    const QImage inactive = QPixmap(qubix::resources::bitmapPath(u"INACTIVEBMP")).toImage();
    QVERIFY(active != inactive);
    TFilterBlock block;
    QCOMPARE(block.size(), QSize(32, 32));
    // A new block shows the active picture although it is not yet active.
    QVERIFY(!block.FBActive());
    QCOMPARE(block.Picture().toImage(), active);
    block.Block().SetFilterBlockModel(qubix::filters::FBMPara);
    block.SetFBActive(true);
    QCOMPARE(block.Picture().toImage(), active);
    QCOMPARE(block.Block().SectionCount(), 1);
    block.SetFBActive(false);
    QCOMPARE(block.Picture().toImage(), inactive);
    QCOMPARE(block.Block().SectionCount(), 0);
    const QImage shown = block.grab().toImage().convertToFormat(inactive.format());
    QCOMPARE(shown.pixelColor(16, 16), inactive.pixelColor(16, 16));
  }
};

QUBIX_WIDGET_TEST_MAIN(FilterBlockTest)
#include "test_filter_block_image.moc"
