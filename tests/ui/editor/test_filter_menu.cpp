// The response graph's menu on the simulated bus: a right click and a click on "Import
// Filters…" put the file's bands into the strips and the processor; "Export Filters…" writes them;
// Ctrl+Z in the graph window takes the whole import back, on the wire too.
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <fstream>

#include "editor/FilterImport.h"
#include "filters/ParametricBand.h"
#include "protocol/Commands.h"
#include "support/EditorWindowRig.h"
#include "support/WidgetTest.h"
#include "ui/filters/FilterTexts.h"
#include "ui/filters/ResponseGraphWindow.h"

using namespace qubix;

namespace {

constexpr const char* kFilters =
    "Filter 1: ON PK Fc 45 Hz Gain -4 dB Q 3\n"
    "Filter 2: ON PK Fc 900 Hz Gain 2.5 dB Q 1.5\n";

// Right-clicks the graph and clicks the menu entry with this text. The offscreen platform turns
// no right button into a context menu request, so the request is delivered as the window system
// would after the click.
void ChooseFromMenu(ui::TForm3& graph, QStringView text) {
  const QPoint at(200, 60);
  QTest::mouseClick(&graph, Qt::RightButton, {}, at);
  QContextMenuEvent request(QContextMenuEvent::Mouse, at, graph.mapToGlobal(at));
  QApplication::sendEvent(&graph, &request);
  QMenu* menu = graph.ContextMenu();
  QTRY_VERIFY(menu->isVisible());
  for (QAction* action : menu->actions())
    if (action->text() == text)
      QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

}  // namespace

class FilterMenuTest : public QObject {
  Q_OBJECT

 private slots:
  void importPutsBandsOnTheWireAndExportWritesThem() {
    test::EditorWindowRig rig("ui_filter_menu");
    rig.form.show();
    ui::TForm3& graph = rig.form.Graph();
    QVERIFY(QTest::qWaitForWindowExposed(&graph));
    const auto in = rig.dir / "measured.txt";
    std::ofstream(in) << kFilters;
    const filters::FilterBands before = editor::EditorFilterBands(rig.form.State());
    rig.rig.frontend.openFileAnswers.push_back(in.string());
    ChooseFromMenu(graph, ui::texts::kImportFilters);

    const auto read = filters::ParseFilterText(kFilters);
    QVERIFY(read.ok());
    QCOMPARE(editor::EditorFilterBands(rig.form.State()), read.filters->bands);
    filters::BiquadCoefficients c;
    QVERIFY(filters::ComputeParametric({900, 2.5F, 1.5F, 48000}, c));
    const std::string band2 =
        protocol::frames::BandCoefficients(filters::BandAddressAt(1), filters::SendingOrder(c));
    QVERIFY(rig.pc().find(band2) != std::string::npos);
    QVERIFY(rig.rig.frontend.boxes.empty());

    const auto out = rig.dir / "exported.txt";
    rig.rig.frontend.saveFileAnswers.push_back(out.string());
    ChooseFromMenu(graph, ui::texts::kExportFilters);
    const auto back = editor::ReadFilterFile(out);
    QVERIFY2(back.ok(), back.error.c_str());
    QCOMPARE(back.filters->bands, read.filters->bands);

    rig.rig.clearRecords();
    // Taken back from the window the import was chosen in.
    graph.activateWindow();
    QApplication::setActiveWindow(&graph);
    QTest::keyClick(&graph, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(editor::EditorFilterBands(rig.form.State()), before);
    const filters::FilterBand& was = before[1];
    QVERIFY(filters::ComputeParametric({was.freqHz, was.gainDb, was.q, 48000}, c));
    QVERIFY(rig.pc().find(protocol::frames::BandCoefficients(
                filters::BandAddressAt(1), filters::SendingOrder(c))) != std::string::npos);
  }
};

QUBIX_WIDGET_TEST_MAIN(FilterMenuTest)
#include "test_filter_menu.moc"
