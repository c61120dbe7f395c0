// The preset dialogs, the slots' busy animation and the hardware preset change from a click on
// a slot's picture, driven with real mouse events on the simulated bus.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "network/HardwarePreset.h"
#include "network/Station.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "support/QtInput.h"
#include "support/RecordingFrontend.h"
#include "ui/common/CaptionButton.h"
#include "ui/editor/PresetLocationDialog.h"
#include "ui/network/BusyAnimation.h"
#include "ui/network/HardwarePresetDialog.h"
#include "ui/network/MachineSlots.h"
#include "ui/network/PresetControls.h"

using namespace qubix;

namespace {

const std::filesystem::path kData = QUBIX_SOURCE_DATA_DIR;

using test::WhenModal;

using test::Click;

int CountColour(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
  return n;
}

// The slots of a main window with their hardware preset controls, on the demo bus, connected,
// with slot 2 showing its machine on hardware preset 3.
struct PresetScene {
  explicit PresetScene(const std::filesystem::path& data)
      : bus(sim::makeDemoBus()),
        station(std::make_unique<sim::SimAdapter>(bus, sim::ClockMode::Virtual), frontend, data),
        panel(&window, data),
        controls(station, panel, &window) {
    window.resize(1022, 740);
    window.show();
    station.link.Connect();
    auto& slot = station.network.slotAt(1);
    slot.identifier = "H000000010002";
    slot.selectFrame = network::SlotSelectFrame(slot.identifier);
    slot.record.hardwarePreset = 3;
    network::MachineList two;
    two.setEntry(0, "H000000010001");
    two.setEntry(1, "H000000010002");
    two.count = 2;
    station.network.UseMachineList(two);
    shown = panel.ShowSlot(
        1, network::ComputeSlotDisplay(1, slot, station.network.hardwarePresetNames(),
                                       station.network.userPresetNames(), data));
    bus->clearTranscript();
  }
  // The next hardware preset dialog picks configuration `number` (1 … 8).
  void pick(int number) {
    controls.runDialog = [number](ui::TForm7& form) {
      WhenModal(
          [&form, number](QWidget*) { Click(form.Images[static_cast<std::size_t>(number - 1)]); });
      return form.exec();
    };
  }
  void clickPresetPicture(int k) {
    QTest::mouseClick(panel.slot(k).presetPicture, Qt::LeftButton, {}, QPoint(20, 20));
  }

  test::RecordingFrontend frontend;
  std::shared_ptr<sim::SimBus> bus;
  network::Station station;
  QWidget window;
  ui::MachineSlots panel;
  ui::PresetControls controls;
  bool shown = false;
};

}  // namespace

class TestPresets : public QObject {
  Q_OBJECT

 private slots:
  void locationDialogKeepsItsPositionAndRange() {
    ui::TForm2 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Select Location"));
    QCOMPARE(form.Question->text(), QStringLiteral("Select the memory location number "));
    QCOMPARE(form.size(), QSize(363, 130));
    QCOMPARE(form.Position(), 0);
    QWidget mainWindow;
    mainWindow.move(300, 40);
    form.PlaceBelow(mainWindow);
    QCOMPARE(form.pos(), QPoint(200, 170));
    // Up past the end stays at 7: no wrap.
    WhenModal([&](QWidget*) {
      for (int i = 0; i < 9; ++i) QTest::keyClick(form.UpDown1, Qt::Key_Up);
      Click(form.OkButton);
    });
    QCOMPARE(form.AskLocation(QStringLiteral("H000000010002")), std::optional<int>(7));
    QCOMPARE(form.Label11->text(), QStringLiteral("H000000010002"));
    // The next opening starts where the last one ended; Cancel gives nothing.
    WhenModal([&](QWidget*) {
      QCOMPARE(form.UpDown1->value(), 7);
      QTest::keyClick(form.UpDown1, Qt::Key_Down);
      Click(form.CancelButton);
    });
    QCOMPARE(form.AskLocation(QStringLiteral("H000000010002")), std::optional<int>());
    WhenModal([&](QWidget*) {
      for (int i = 0; i < 10; ++i) QTest::keyClick(form.UpDown1, Qt::Key_Down);
      Click(form.OkButton);
    });
    QCOMPARE(form.AskLocation(QStringLiteral("H000000010002")), std::optional<int>(0));
  }

  void userPresetDialogIsTheSameWithItsOwnTexts() {
    ui::TForm4 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Select User PreSet"));
    QCOMPARE(form.Question->text(), QStringLiteral("Select the User PreSet number "));
    QCOMPARE(form.OkButton->text(), QStringLiteral("      Ok"));
    QCOMPARE(form.CancelButton->text(), QStringLiteral(" Cancel"));
  }

  void hardwarePresetDialogShowsNamesAndAnswersClicks() {
    network::HardwarePresetNames names = network::DefaultHardwarePresetNames();
    ui::TForm7 form(kData, names);
    form.FormShow();
    QCOMPARE(form.windowTitle(), QStringLiteral("Change HardWare PreSet"));
    QCOMPARE(form.Names[2]->text(), QStringLiteral("TQ40+TQ40 A&B"));
    QCOMPARE(form.Names[7]->text(), QStringLiteral("Extra Preset"));
    QCOMPARE(form.Titles[4]->text(), QStringLiteral("Hardware Config # 5"));
    QCOMPARE(form.Images[0]->toolTip(),
             QStringLiteral("Click On Image To Select The Hardware Configuration"));
    QVERIFY(!form.Images[0]->pixmap().isNull());
    QCOMPARE(form.Images[0]->size(), QSize(81, 81));
    QVERIFY(!form.ProgressBar1->isVisibleTo(&form));
    QCOMPARE(form.ProgressBar1->maximum(), 3726);
    QWidget mainWindow;
    mainWindow.move(300, 40);
    form.PlaceBelow(mainWindow);
    QCOMPARE(form.pos(), QPoint(106, 150));

    WhenModal([&](QWidget*) { Click(form.Images[7]); });
    QCOMPARE(form.exec(), 8);
    WhenModal([&](QWidget*) { Click(form.Images[0]); });
    QCOMPARE(form.exec(), 1);
    WhenModal([&](QWidget*) {
      QTest::keyClick(&form, Qt::Key_Escape);  // no way out but its own controls
      QVERIFY(form.isVisible());
      Click(form.StaticText8);
    });
    QCOMPARE(form.exec(), 100);

    int loads = 0;
    form.onLoadNew = [&] { ++loads; };
    WhenModal([&](QWidget*) {
      Click(form.StaticText22);
      QVERIFY(form.isVisible());  // the dialog stays open after " Load New "
      Click(form.StaticText8);
    });
    QCOMPARE(form.exec(), 100);
    QCOMPARE(loads, 1);
  }

  void busyAnimationPlaysTheClip() {
    ui::BusyAnimation animation;
    animation.resize(299, 25);
    QVERIFY(animation.open(QString::fromStdString((kData / "AniVelm2.avi").string())));
    QVERIFY(animation.usingClip());
    QCOMPARE(animation.frameCount(), 12);
    QCOMPARE(animation.intervalMs(), 70);
    animation.show();
    animation.start();
    QVERIFY(animation.playing());
    const QImage first = animation.grab().toImage();
    animation.advance();
    QCOMPARE(animation.frameIndex(), 1);
    const QImage second = animation.grab().toImage();
    QVERIFY(first != second);
    for (int i = 0; i < 11; ++i) animation.advance();
    QCOMPARE(animation.frameIndex(), 0);  // loops
    QVERIFY(animation.grab().toImage() == first);
    animation.stop();
    QVERIFY(!animation.playing());
  }

  void busyAnimationFallsBackToADrawnIndicator() {
    ui::BusyAnimation animation;
    animation.resize(299, 25);
    QVERIFY(!animation.open(QStringLiteral("/no/such/AniVelm2.avi")));
    QVERIFY(!animation.usingClip());
    animation.show();
    animation.start();
    const QImage image = animation.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // The lamp at the head is full lime.
    QVERIFY(CountColour(image, qRgb(0, 255, 0)) > 10);
    animation.advance();
    QVERIFY(animation.grab().toImage().convertToFormat(QImage::Format_RGB32) != image);
  }

  void clickOnSlotPictureChangesThePreset() {
    PresetScene scene(kData);
    QVERIFY(scene.shown);
    auto& panel = scene.panel;
    auto& controls = scene.controls;
    auto& frontend = scene.frontend;
    auto& bus = scene.bus;

    // What the slot looks like while the change runs.
    QString waitingText;
    bool animationShown = false, pictureHidden = false;
    frontend.onProcessEvents = [&] {
      waitingText = panel.slot(1).hardwarePreset->text();
      animationShown = controls.Animate(1)->isVisible() && controls.Animate(1)->playing();
      pictureHidden = !panel.slot(1).presetPicture->isVisible();
    };
    scene.pick(6);
    scene.clickPresetPicture(1);
    QCOMPARE(waitingText, QStringLiteral("....wait...."));
    QVERIFY(animationShown);
    QVERIFY(pictureHidden);
    QCOMPARE(QString::fromStdString(bus->pcBytes()),
             QStringLiteral("H000000010002fdT01ffr05fbI18e8I12eeT02feR"));
    QCOMPARE(panel.slot(1).hardwarePreset->text(), QStringLiteral("4Ch Mono in A"));
    QVERIFY(panel.slot(1).presetPicture->isVisible());
    QVERIFY(!controls.Animate(1)->isVisible());
    QVERIFY(!controls.Animate(1)->playing());
    QCOMPARE(controls.Presets().presetSlot, 1);
  }

  void missingPresetPictureLeavesTheSlotClickable() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::filesystem::path data = dir.path().toStdString();
    std::filesystem::copy_file(kData / "Controller03.jpg", data / "Controller03.jpg");
    PresetScene scene(data);
    QVERIFY(scene.shown);
    const auto& slot = scene.panel.slot(1);
    const QImage before = slot.presetPicture->pixmap().toImage();
    QVERIFY(!before.isNull());
    scene.pick(6);
    scene.clickPresetPicture(1);
    QCOMPARE(scene.station.network.slotAt(1).record.hardwarePreset, 5);
    QCOMPARE(slot.hardwarePreset->text(), QStringLiteral("4Ch Mono in A"));
    // Controller05.jpg is missing: the old picture stays, and stays visible and clickable.
    QVERIFY(slot.presetPicture->isVisible());
    QCOMPARE(slot.presetPicture->pixmap().toImage(), before);
    QVERIFY(!scene.controls.Animate(1)->isVisible());
    scene.bus->clearTranscript();
    scene.pick(4);
    scene.clickPresetPicture(1);
    QCOMPARE(QString::fromStdString(scene.bus->pcBytes()),
             QStringLiteral("H000000010002fdT01ffr03fdI18e8I12eeT02feR"));
    QVERIFY(slot.presetPicture->isVisible());
  }

  void closingTheDialogSendsNothing() {
    test::RecordingFrontend frontend;
    auto bus = sim::makeDemoBus();
    network::Station station(std::make_unique<sim::SimAdapter>(bus, sim::ClockMode::Virtual),
                             frontend, kData);
    QWidget window;
    ui::MachineSlots panel(&window, kData);
    ui::PresetControls controls(station, panel, &window);
    station.link.Connect();
    station.network.slotAt(0).selectFrame = "H000000010001fe";
    bus->clearTranscript();
    controls.runDialog = [](ui::TForm7& form) {
      WhenModal([&form](QWidget*) { Click(form.StaticText8); });
      return form.exec();
    };
    controls.ChangeHWPS(1);
    QCOMPARE(QString::fromStdString(bus->pcBytes()), QString());
    QVERIFY(!controls.Animate(0)->isVisible());
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TestPresets test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_presets.moc"
