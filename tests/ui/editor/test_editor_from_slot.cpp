// The editor in the whole program: the main window on the simulated bus, a click on a slot's
// edit picture, live edits, a switch to another machine, and a second start that shows the
// same bands again from the equaliser files.
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/EditorWindows.h"
#include "network/EqFile.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/QtInput.h"
#include "support/WidgetTest.h"
#include "ui/filters/EqBandStrip.h"
#include "ui/filters/ResponseGraphWindow.h"
#include "ui/network/MachineSlots.h"
#include "ui/network/MainWindow.h"

using namespace qubix;

namespace {

void WriteList(const std::filesystem::path& dir) {
  std::string image(132, '\0');
  const char* ids[] = {"H000000010001", "H000000010002", "H000000010005"};
  for (std::size_t i = 0; i < 3; ++i) image.replace(i * 13, 13, ids[i]);
  image[130] = 3;
  std::ofstream(dir / "maclist.dat", std::ios::binary) << image;
}

// A data directory of its own, with the pictures and a three-machine list, as the current
// directory for as long as the test runs.
struct DataDir {
  DataDir() : before(QDir::currentPath()) {
    const std::filesystem::path data = path();
    for (const auto& entry : std::filesystem::directory_iterator(QUBIX_DATA_DIR))
      if (entry.path().extension() == ".jpg")
        std::filesystem::copy_file(entry.path(), data / entry.path().filename());
    WriteList(data);
    QDir::setCurrent(dir.path());
  }
  ~DataDir() { QDir::setCurrent(before); }
  std::filesystem::path path() const { return dir.path().toStdString(); }
  QTemporaryDir dir;
  QString before;
};

struct Program {
  explicit Program(std::shared_ptr<sim::SimBus> bus)
      : adapter(new sim::SimAdapter(std::move(bus), sim::ClockMode::Virtual)),
        mainform(std::unique_ptr<link::Adapter>(adapter)),
        editor(mainform) {
    mainform.show();
    mainform.Timer1Timer();  // connects and refreshes the list
  }
  void clickEdit(int k) {
    QTest::mouseClick(mainform.Slots->slot(k).editPicture, Qt::LeftButton, {}, QPoint(5, 5));
  }
  sim::SimAdapter* adapter;
  ui::Tmainform mainform;
  app::EditorWindows editor;
};

}  // namespace

class TestEditorFromSlot : public QObject {
  Q_OBJECT

 private slots:
  void openEditSwitchCloseAndStartAgain() {
    DataDir scratch;
    QVERIFY(scratch.dir.isValid());
    const std::filesystem::path data = scratch.path();
    auto bus = sim::makeDemoBus();
    {
      Program p(bus);
      QVERIFY(p.mainform.station().link.state().Connected);
      auto names = p.mainform.station().network.hardwarePresetNames();
      names[3] = "TQ40+TQ40 A&&B";
      p.mainform.station().network.UseHardwarePresetNames(names);
      p.clickEdit(1);
      auto& form = p.editor.Form1();
      QVERIFY(form.isVisible());
      QVERIFY(form.Graph().isVisible());
      QCOMPARE(form.Label11()->text(), QStringLiteral("H000000010002"));
      QCOMPARE(form.Label13()->text(), QStringLiteral("TQ40+TQ40 A&B"));
      QCOMPARE(form.Label15()->text(), QStringLiteral("User Config 2"));
      QCOMPARE(p.mainform.ListBox1->currentRow(), 1);
      bus->clearTranscript();
      form.ParFilter(4)->SetGPotPos(5.0F);
      QVERIFY(bus->pcBytes().find("Q032e") != std::string::npos);
      QVERIFY(bus->pcBytes().find("Q03a2") != std::string::npos);

      // Another slot: the first machine is ended and what it runs is kept in its last-edit file.
      bus->clearTranscript();
      p.clickEdit(0);
      QCOMPARE(bus->pcBytes().substr(0, 6), std::string("T02feR"));
      QVERIFY(std::filesystem::exists(network::LastEditEqPath(data, "H000000010002")));
      QVERIFY(!std::filesystem::exists(network::PresetEqPath(data, "H000000010002", 2)));
      QCOMPARE(form.Label11()->text(), QStringLiteral("H000000010001"));
      QCOMPARE(form.ParFilter(4)->GPotPos(), 0.0F);

      form.ParFilter(7)->SetGPotPos(-6.0F);
      form.StaticText5Click();  // " Close"
      QVERIFY(!form.isVisible());
      QCOMPARE(p.mainform.ListBox1->currentRow(), -1);
    }
    {
      Program again(bus);
      again.clickEdit(0);
      QCOMPARE(again.editor.Form1().ParFilter(7)->GPotPos(), -6.0F);
      again.clickEdit(1);
      QCOMPARE(again.editor.Form1().ParFilter(4)->GPotPos(), 5.0F);
    }
  }

  void adapterThatDoesNotAnswerStopsTheOpeningAndReconnects() {
    DataDir scratch;
    QVERIFY(scratch.dir.isValid());
    auto bus = sim::makeDemoBus();
    {
      Program p(bus);
      QVERIFY(p.mainform.station().link.state().Connected);
      p.mainform.Timer1->stop();
      p.adapter->faults().infoFails = true;
      bus->clearTranscript();
      QString text, caption;
      test::WhenModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        QVERIFY(box);
        text = box->text();
        caption = box->windowTitle();
        box->accept();
      });
      p.clickEdit(1);
      QCOMPARE(text, QStringLiteral(" Connection Fail"));
      QCOMPARE(caption, QString());
      QCOMPARE(p.mainform.ListBox1->currentRow(), 1);
      QCOMPARE(QString::fromStdString(bus->pcBytes()), QString());
      QVERIFY(!p.editor.Form1().isVisible());
      QVERIFY(!p.mainform.station().link.state().Connected);
      QVERIFY(p.mainform.Timer1->isActive());
    }
  }
};

QUBIX_WIDGET_TEST_MAIN(TestEditorFromSlot)
#include "test_editor_from_slot.moc"
