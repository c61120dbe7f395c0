// Start-up and close of the main window on the simulated bus: the connection timer, the status
// line, the hidden "Connect" button, "      Exit" and closing the window, with what each puts
// on the wire and which driver functions it calls.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>

#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "ui/network/MainWindow.h"

using namespace qubix;

namespace {

QColor StatusTextColour(const ui::Tmainform& w) {
  return w.StatusLine->palette().color(QPalette::Text);
}

// Whether any pixel of the status line is drawn in this colour (the text itself).
bool StatusLineShows(ui::Tmainform& w, QColor colour) {
  const QImage img = w.StatusLine->grab().toImage();
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (img.pixelColor(x, y) == colour) return true;
  return false;
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString oldDir_;
  std::shared_ptr<sim::SimBus> bus_;
  sim::SimAdapter* adapter_ = nullptr;

  // A message box nobody expects would block the test: close it and remember its text.
  QTimer watchdog_;
  QStringList dismissedBoxes_;

  std::unique_ptr<ui::Tmainform> makeWindow() {
    bus_ = sim::makeDemoBus();
    adapter_ = new sim::SimAdapter(bus_, sim::ClockMode::Virtual);
    return std::make_unique<ui::Tmainform>(std::unique_ptr<link::Adapter>(adapter_));
  }
  void writePresetList(const std::string& text) {
    std::ofstream(QDir(dir_.path()).filePath("hwpresetlist.dat").toStdString(), std::ios::binary)
        << text;
  }

 private slots:
  void initTestCase() {
    watchdog_.setInterval(50);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        dismissedBoxes_ << modal->windowTitle();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
          dialog->reject();
        else
          modal->close();
      }
    });
    watchdog_.start();
  }

  void init() {
    dismissedBoxes_.clear();
    QVERIFY(dir_.isValid());
    QDir(dir_.path()).removeRecursively();
    QDir().mkpath(dir_.path());
    oldDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
  }
  void cleanup() { QDir::setCurrent(oldDir_); }

  void windowAsCreated() {
    auto w = makeWindow();
    QCOMPARE(w->windowTitle(), QString("Velmoria Qubix 24 Controller "));
    QCOMPARE(w->minimumSize(), QSize(1022, 115));
    QCOMPARE(w->size(), QSize(1022, 300));
    QCOMPARE(w->StatusLine->geometry(), QRect(12, 12, 141, 21));
    QCOMPARE(w->ProbeField->geometry(), w->StatusLine->geometry());
    QCOMPARE(w->StaticText5->text(), QString("      Exit"));
    QCOMPARE(w->BitBtn1->text(), QString("Connect"));
    QCOMPARE(w->UpDown1->minimum(), 1);
    QCOMPARE(w->UpDown1->maximum(), 8);
    QCOMPARE(w->UpDown1->value(), 1);
    QCOMPARE(w->ListBox1->count(), 1);
    QCOMPARE(w->ListBox1->item(0)->text(), QString("Search......."));
    QCOMPARE(w->Timer1->interval(), 500);
    QCOMPARE(w->Timer2->interval(), 100);
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(!w->Timer2->isActive());
    QCOMPARE(StatusTextColour(*w), QColor(0, 255, 0));
    QCOMPARE(w->station().dataDir(), std::filesystem::path(dir_.path().toStdString()));
    QCOMPARE(w->StatusLine->toolTip(), "Data directory: " + QDir::toNativeSeparators(dir_.path()));
    QCOMPARE(adapter_->calls().total(), 0);
  }

  // The lines that only report take no focus, by click or by Tab, so they never draw a frame.
  void reportLinesTakeNoFocus() {
    auto w = makeWindow();
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->ProbeField->show();
    for (QLineEdit* line : {w->StatusLine, w->ProbeField}) QTest::mouseClick(line, Qt::LeftButton);
    for (int i = 0; i < 30; ++i, QTest::keyClick(w.get(), Qt::Key_Tab))
      QVERIFY(!w->StatusLine->hasFocus() && !w->ProbeField->hasFocus());
  }

  void connectsWithinTheFirstTick() {
    writePresetList("A\nB\nC\nD\nE\nF\nG\nH\n");
    auto w = makeWindow();
    w->show();
    QVERIFY(w->Timer1->isActive());
    QCOMPARE(w->station().network.hardwarePresetNames().at(7), std::string("H"));
    // The first tick (500 ms of real time) connects and stops the timer.
    QTRY_VERIFY_WITH_TIMEOUT(w->station().link.state().Connected, 1500);
    QVERIFY(!w->Timer1->isActive());
    QCOMPARE(adapter_->calls().list, 1);
    QCOMPARE(adapter_->calls().open, 1);
    QCOMPARE(w->BitBtn1->text(), QString("Disconnect"));
    QVERIFY(!w->Timer2->isActive());
    w->close();
  }

  void adapterDescriptionOnTheStatusLine() {
    auto w = makeWindow();
    adapter_->description = "Velmoria USBNet";
    w->BitBtn1Click();
    QCOMPARE(w->StatusLine->text(), QString("Velmoria USBNet"));
    QCOMPARE(StatusTextColour(*w), QColor(0, 255, 0));
  }

  void noAdapterRetriesEveryTickAndConnectsWhenOneAppears() {
    auto w = makeWindow();
    adapter_->faults().noDevice = true;
    w->show();
    for (int tick = 1; tick <= 3; ++tick) {
      w->Timer1Timer();
      QCOMPARE(w->StatusLine->text(), QString("NoOpenDvc"));
      QVERIFY(w->Timer1->isActive());
      QCOMPARE(adapter_->calls().list, tick);
    }
    QVERIFY(!w->station().link.state().Connected);
    QCOMPARE(bus_->pcBytes(), std::string());
    adapter_->faults().noDevice = false;  // plugged in
    w->Timer1Timer();
    QVERIFY(w->station().link.state().Connected);
    QVERIFY(!w->Timer1->isActive());
    QCOMPARE(w->StatusLine->text(), QString("Velmoria USBTo422"));
  }

  void listingFailureShowsNoDevice() {
    auto w = makeWindow();
    adapter_->faults().listFails = true;
    w->show();
    w->Timer1Timer();
    QCOMPARE(w->StatusLine->text(), QString("NoDevice"));
    QVERIFY(w->Timer1->isActive());
  }

  void missingOrShortPresetListStillConnects() {
    for (const char* content : {static_cast<const char*>(nullptr), "Only One\n", ""}) {
      if (content)
        writePresetList(content);
      else
        QFile::remove(QDir(dir_.path()).filePath("hwpresetlist.dat"));
      auto w = makeWindow();
      w->show();
      QVERIFY(w->Timer1->isActive());
      const auto& names = w->station().network.hardwarePresetNames();
      QCOMPARE(names.at(7), std::string("Extra Preset   "));
      QCOMPARE(names.at(0), std::string(content && *content ? "Only One" : "TQ40+TQS2412 A Flw"));
      w->Timer1Timer();
      QVERIFY(w->station().link.state().Connected);
    }
  }

  void writeFailureTurnsTheStatusRedAndRestartsTheTimer() {
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    QVERIFY(!w->Timer1->isActive());
    adapter_->faults().writeFails = true;
    w->station().link.WriteText("e");
    QCOMPARE(w->StatusLine->text(), QString("Connection Fail"));
    QCOMPARE(StatusTextColour(*w), QColor(255, 0, 0));
    QVERIFY(StatusLineShows(*w, QColor(255, 0, 0)));
    QVERIFY(w->Timer1->isActive());
    adapter_->faults().writeFails = false;
    w->Timer1Timer();
    QVERIFY(w->station().link.state().Connected);
    QVERIFY(!w->Timer1->isActive());
    w->station().link.WriteText("e");
    QCOMPARE(w->StatusLine->text(), QString("Status Ok"));
    QVERIFY(StatusLineShows(*w, QColor(0, 255, 0)));
  }

  void closingWithAMachineSelectedWritesOneRBeforeClosing() {
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    QVERIFY(w->station().bus.SelectExchange("H000000010002fd"));
    bus_->clearTranscript();
    adapter_->resetCalls();
    QVERIFY(w->close());
    QCOMPARE(bus_->pcBytes(), std::string("R"));
    QCOMPARE(adapter_->callLog(), (std::vector<std::string>{"write", "close"}));
    QVERIFY(!w->station().bus.MachineSelected);
    QVERIFY(w->station().stopFlag);
    QVERIFY(bus_->selected().empty());
  }

  void closingWhileConnectedButIdleWritesNothing() {
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    bus_->clearTranscript();
    adapter_->resetCalls();
    w->close();
    QCOMPARE(bus_->pcBytes(), std::string());
    QCOMPARE(adapter_->callLog(), (std::vector<std::string>{"close"}));
  }

  void closingWhileNotConnectedCallsNoDriverFunction() {
    auto w = makeWindow();
    adapter_->faults().noDevice = true;
    w->show();
    w->Timer1Timer();
    adapter_->resetCalls();
    w->close();
    QCOMPARE(adapter_->calls().total(), 0);
    // Both timers stopped: no tick after the close makes an attempt either.
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(!w->Timer2->isActive());
  }

  void exitWithAMachineSelectedEndsTheWorkThenReleases() {
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    QVERIFY(w->station().bus.SelectExchange("H000000010001fe"));
    QVERIFY(w->station().commands.BeginAccess());
    int hidden = 0;
    QObject::connect(w.get(), &ui::Tmainform::editorWindowsToHide, [&] { ++hidden; });
    bus_->clearTranscript();
    QTest::mouseClick(w->StaticText5, Qt::LeftButton);
    QCOMPARE(bus_->pcBytes(), std::string("T02feR"));
    QCOMPARE(hidden, 1);
    QVERIFY(!w->isVisible());
    QVERIFY(w->closed());
    QVERIFY(!adapter_->isOpen());
    QVERIFY(!bus_->processors()[0]->inAccess);
  }

  void exitWithNothingSelectedOnlyCloses() {
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    bus_->clearTranscript();
    QTest::mouseClick(w->StaticText5, Qt::LeftButton);
    QCOMPARE(bus_->pcBytes(), std::string());
    QVERIFY(w->closed());
  }

  void decimalPointIsAPointWhileRunningAndRestoredAfter() {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
      auto w = makeWindow();
      QCOMPARE(QLocale().decimalPoint(), QString("."));
      QCOMPARE(QLocale().toString(2.5), QString("2.5"));
      w->show();
      w->close();
      QCOMPARE(QLocale().decimalPoint(), QString(","));
    }
    {
      auto w = makeWindow();
      QCOMPARE(QLocale().toString(2.5), QString("2.5"));
    }  // gone without a close: restored all the same
    QCOMPARE(QLocale().decimalPoint(), QString(","));
    QLocale::setDefault(before);
  }

  void busyCursorIsOneLevelHoweverOftenItIsSet() {
    auto w = makeWindow();
    auto& fe = w->frontend();
    fe.setBusyCursor(true);
    fe.setBusyCursor(true);
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    fe.setBusyCursor(false);
    QVERIFY(!QApplication::overrideCursor());
    fe.setBusyCursor(false);
    QVERIFY(!QApplication::overrideCursor());
  }

  void failedSelectGivesTheCursorBack() {
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    w->frontend().setBusyCursor(true);
    QVERIFY(!w->station().bus.SelectExchange("H000000010003fc"));  // nobody answers
    QCOMPARE(w->StatusLine->text(), QString("Net Connection Fail"));
    QVERIFY(!QApplication::overrideCursor());
  }

  // The upload's tick counter runs the tick timer and counts its time-outs, nothing else.
  void uploadTicksComeFromTheTickTimer() {
    auto w = makeWindow();
    auto& ticks = w->station().ticks;
    QVERIFY(!w->Timer2->isActive());
    ticks.reset();
    ticks.start();
    QVERIFY(w->Timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(ticks.ticks() >= 2, 2000);
    ticks.stop();
    QVERIFY(!w->Timer2->isActive());
    const int stopped = ticks.ticks();
    w->Timer2Timer();
    QCOMPARE(ticks.ticks(), stopped);
  }

  void startsOnTheDemoBusAndRefreshesTheListedMachines() {
    // A list of the three demo machines: after the first tick the refresh has talked to each.
    std::string image(132, '\0');
    const char* ids[] = {"H000000010001", "H000000010002", "H000000010005"};
    for (int i = 0; i < 3; ++i) image.replace(static_cast<std::size_t>(i) * 13, 13, ids[i]);
    image[130] = 3;
    std::ofstream(QDir(dir_.path()).filePath("maclist.dat").toStdString(), std::ios::binary)
        << image;
    const QDir data(QString(QUBIX_TEST_DATA) + "/../../../data");
    for (const QString& name : data.entryList({"*.jpg"}, QDir::Files))
      QFile::copy(data.filePath(name), QDir(dir_.path()).filePath(name));
    auto w = makeWindow();
    w->show();
    w->Timer1Timer();
    QCOMPARE(dismissedBoxes_, QStringList());
    const std::string wire = bus_->pcBytes();
    for (const char* frame : {"H000000010001fe", "H000000010002fd", "H000000010005fa"})
      QVERIFY2(wire.find(frame) != std::string::npos, frame);
    QVERIFY(!w->station().bus.MachineSelected);
    w->close();
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  StartupTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_startup.moc"
