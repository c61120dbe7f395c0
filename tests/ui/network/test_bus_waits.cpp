// The whole program on the simulated bus while it waits on it: the windows keep painting and
// the busy clip moves, clicks elsewhere are dropped rather than replayed, and Exit waits for
// the machine to be released.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/EditorWindows.h"
#include "network/Slots.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/QtInput.h"
#include "ui/common/BusGuard.h"
#include "ui/network/BusyAnimation.h"
#include "ui/network/HardwarePresetDialog.h"
#include "ui/network/MainWindow.h"
#include "ui/network/PresetControls.h"

using namespace qubix;

namespace {

const std::filesystem::path kData = QUBIX_SOURCE_DATA_DIR;
const char* kIds[] = {"H000000010001", "H000000010002", "H000000010005"};

// The shipped pictures and clip with a three-machine list, as the current directory.
struct DataDir {
  DataDir() : before(QDir::currentPath()) {
    const std::filesystem::path data = dir.path().toStdString();
    for (const auto& entry : std::filesystem::directory_iterator(kData))
      std::filesystem::copy_file(entry.path(), data / entry.path().filename());
    std::string image(132, '\0');
    for (std::size_t i = 0; i < 3; ++i) image.replace(i * 13, 13, kIds[i]);
    image[130] = 3;
    std::ofstream(data / "maclist.dat", std::ios::binary) << image;
    QDir::setCurrent(dir.path());
  }
  ~DataDir() { QDir::setCurrent(before); }
  QTemporaryDir dir;
  QString before;
};

struct Program {
  Program()
      : bus(sim::makeDemoBus()),
        adapter(new sim::SimAdapter(bus, sim::ClockMode::Virtual)),
        mainform(std::unique_ptr<link::Adapter>(adapter)),
        presets(mainform.station(), *mainform.Slots, &mainform),
        editor(mainform) {
    editor.AttachHardwarePresets(presets.Presets());
    mainform.show();
    mainform.Timer1Timer();  // connects and refreshes the list
  }
  link::Link& link() { return mainform.station().link; }
  // A click as the window system delivers it: to the window, which passes it on.
  void click(QWidget* w) {
    QTest::mouseClick(w->window()->windowHandle(), Qt::LeftButton, {},
                      w->mapTo(w->window(), QPoint(5, 5)));
  }
  bool selected(int machine) const {
    return bus->pcBytes().find(network::SlotSelectFrame(kIds[machine])) != std::string::npos;
  }

  DataDir scratch;
  std::shared_ptr<sim::SimBus> bus;
  sim::SimAdapter* adapter;
  ui::Tmainform mainform;
  ui::PresetControls presets;
  app::EditorWindows editor;
};

}  // namespace

class TestBusWaits : public QObject {
  Q_OBJECT

 private slots:
  void presetChangeKeepsPaintingDropsClicksAndExitWaitsForTheRelease() {
    Program p;
    QVERIFY(p.mainform.Slots->slot(2).editPicture->isVisible());
    QVERIFY(p.link().whileWaiting);  // the window lets events run during long reads
    p.presets.runDialog = [](ui::TForm7& form) {
      test::WhenModal([&form](QWidget*) { test::Click(form.Images[5]); });
      return form.exec();
    };
    ui::BusyAnimation* clip = p.presets.Animate(1);
    int waits = 0;
    int dialogs = 0;
    bool busyCursor = false;
    bool closedEarly = false;
    const auto windowWait = p.link().whileWaiting;
    p.link().whileWaiting = [&] {
      ++waits;
      if (waits == 10) {
        // Clicks reach the program as the events of a wait are let run.
        p.presets.runDialog = [&](ui::TForm7&) { return ++dialogs, 100; };
        QTimer::singleShot(0, [&] {
          p.click(p.mainform.Slots->slot(2).editPicture);    // would open the editor
          p.click(p.mainform.Slots->slot(0).presetPicture);  // would ask for another change
          p.click(p.mainform.StaticText21);                  // would refresh
          p.click(p.mainform.StaticText5);                   // Exit: taken, carried out later
        });
      }
      busyCursor |= QApplication::overrideCursor() &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor;
      closedEarly |= p.mainform.closed();
      // The clip's timer runs on the real clock; let a little pass per slice of bus time.
      QThread::msleep(1);
      windowWait();
    };
    p.bus->clearTranscript();
    QTest::mouseClick(p.mainform.Slots->slot(1).presetPicture, Qt::LeftButton, {}, QPoint(20, 20));

    QVERIFY(waits > 200);  // 3 s and two 4 s drains, in 50 ms slices
    QVERIFY(clip->frameIndex() > 0);
    QVERIFY(busyCursor);
    QVERIFY(!closedEarly);
    QCOMPARE(p.bus->processors()[1]->hardwarePreset, 5);
    QCOMPARE(dialogs, 0);
    QVERIFY(!p.editor.Form1().isVisible());
    QVERIFY(!p.selected(0) && !p.selected(2));
    QVERIFY(p.mainform.exitPending());
    QVERIFY(p.mainform.windowTitle().contains(QStringLiteral("closing")));
    QVERIFY(QApplication::overrideCursor() == nullptr);

    QTRY_VERIFY(p.mainform.closed());
    QCOMPARE(p.adapter->callLog().back(), std::string("close"));
    QVERIFY(!p.mainform.isVisible());
  }

  void slotClicksWhileTheEditorOpensAreDropped() {
    Program p;
    for (auto& machine : p.bus->processors()) machine->faults.lateMs = 120.0;
    int waits = 0;
    const auto windowWait = p.link().whileWaiting;
    p.link().whileWaiting = [&] {
      if (++waits == 3) {
        // The operator's 1, 2, 3, 2, 1: only the first counts.
        QTimer::singleShot(0, [&] {
          p.click(p.mainform.Slots->slot(1).editPicture);
          p.click(p.mainform.Slots->slot(2).editPicture);
          p.click(p.mainform.Slots->slot(1).editPicture);
          p.click(p.mainform.Slots->slot(0).editPicture);
        });
      }
      windowWait();
    };
    p.bus->clearTranscript();
    p.click(p.mainform.Slots->slot(0).editPicture);
    QVERIFY(waits >= 3);
    QVERIFY(p.editor.Form1().isVisible());
    QCOMPARE(p.editor.Form1().Label11()->text(), QString::fromLatin1(kIds[0]));
    QVERIFY(!p.selected(1) && !p.selected(2));
    QCoreApplication::processEvents();
    QVERIFY(!p.selected(1) && !p.selected(2));  // nothing replayed afterwards either
  }
};

QTEST_MAIN(TestBusWaits)
#include "test_bus_waits.moc"
