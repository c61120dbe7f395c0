// The machine slots and the add and remove dialogs, driven with real mouse and key events.
#include <QApplication>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <filesystem>

#include "network/NetworkTexts.h"
#include "network/Slots.h"
#include "support/QtInput.h"
#include "support/RecordingFrontend.h"
#include "ui/network/MachineDialogs.h"
#include "ui/network/MachineSlots.h"

using namespace qubix;

namespace {

const std::filesystem::path kData = QUBIX_SOURCE_DATA_DIR;

network::SlotDisplay SlotFor(int k, int preset) {
  network::SlotDisplay d;
  d.identifier = "H00000001000" + std::to_string(k + 1);
  d.hardwarePreset = "Preset " + std::to_string(preset);
  d.userPreset = "User Config 1";
  d.picture = kData / ("Controller0" + std::to_string(preset) + ".jpg");
  d.windowHeight = network::WindowHeightForSlot(k);
  return d;
}

using test::WhenModal;

}  // namespace

class TestMachineSlots : public QObject {
  Q_OBJECT

 private slots:
  void showsEachPresetPictureAndLabels() {
    QWidget window;
    window.resize(1022, 300);
    ui::MachineSlots panel(&window, kData);
    int height = 0;
    panel.setWindowHeight = [&](int h) { height = h; };
    window.show();
    for (int k = 0; k < network::kSlotCount; ++k) {
      const int preset = k % 7;
      QVERIFY(panel.ShowSlot(k, SlotFor(k, preset)));
      const auto& s = panel.slot(k);
      QVERIFY(s.editPicture->isVisible());
      QVERIFY(s.presetPicture->isVisible());
      QCOMPARE(s.identifier->text(), QString::fromStdString(SlotFor(k, preset).identifier));
      QCOMPARE(s.hardwarePreset->text(), QString("Preset %1").arg(preset));
      QCOMPARE(s.userPreset->text(), QString("User Config 1"));
      QCOMPARE(height, network::WindowHeightForSlot(k));
      // The picture shown is the decoded file, pixel for pixel.
      const QImage expected = ui::LoadJpegPicture(*SlotFor(k, preset).picture);
      QVERIFY(!expected.isNull());
      QCOMPARE(s.presetPicture->pixmap().toImage().convertToFormat(QImage::Format_RGB888),
               expected);
      QCOMPARE(s.editPicture->toolTip(), QString("Click Here To Select And Edit"));
      QCOMPARE(s.presetPicture->toolTip(), QString("Click Image To Change HardWare PreSet"));
    }
    // Odd slots on the left, even slots on the right, rows growing downwards.
    QVERIFY(panel.slot(0).editPicture->x() < 511);
    QVERIFY(panel.slot(1).editPicture->x() > 511);
    QCOMPARE(panel.slot(6).editPicture->y(), 577);
    QCOMPARE(panel.slot(0).presetPicture->size(), QSize(150, 150));
    panel.HideAllSlots();
    for (int k = 0; k < network::kSlotCount; ++k) {
      QVERIFY(!panel.slot(k).editPicture->isVisible());
      QVERIFY(!panel.slot(k).identifier->isVisible());
      QVERIFY(!panel.slot(k).presetPicture->isVisible());
    }
  }

  void missingOrBrokenPictureFails() {
    QWidget window;
    ui::MachineSlots panel(&window, kData);
    auto d = SlotFor(0, 1);
    d.picture = kData / "no-such-picture.jpg";
    QVERIFY(!panel.ShowSlot(0, d));
    d.picture = std::filesystem::path(QUBIX_SOURCE_DATA_DIR) / "../tests/network/CMakeLists.txt";
    QVERIFY(!panel.ShowSlot(0, d));
    // No picture to load keeps the one the control holds.
    QVERIFY(panel.ShowSlot(1, SlotFor(1, 2)));
    const QImage before = panel.slot(1).presetPicture->pixmap().toImage();
    d = SlotFor(1, 2);
    d.picture.reset();
    QVERIFY(panel.ShowSlot(1, d));
    QCOMPARE(panel.slot(1).presetPicture->pixmap().toImage(), before);
  }

  void clicksReportTheSlot() {
    QWidget window;
    window.resize(1022, 740);
    ui::MachineSlots panel(&window, kData);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy edit(&panel, &ui::MachineSlots::editPictureClicked);
    QSignalSpy preset(&panel, &ui::MachineSlots::presetPictureClicked);
    for (int k : {0, 3, 7}) QVERIFY(panel.ShowSlot(k, SlotFor(k, 0)));
    QTest::mouseClick(panel.slot(3).editPicture, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mouseClick(panel.slot(7).presetPicture, Qt::LeftButton, {}, QPoint(75, 75));
    QTest::mouseClick(panel.slot(0).presetPicture, Qt::RightButton, {}, QPoint(75, 75));
    QCOMPARE(edit.count(), 1);
    QCOMPARE(edit.at(0).at(0).toInt(), 3);
    QCOMPARE(preset.count(), 1);
    QCOMPARE(preset.at(0).at(0).toInt(), 7);
  }

  void addDialogKeepsOpenWithAMessage() {
    std::vector<std::string> tried;
    ui::AddMachineDialog dialog([&](std::string_view typed) {
      tried.emplace_back(typed);
      return typed.size() != 12 ? std::string(network::texts::kInvalidFormat) : std::string();
    });
    dialog.show();
    QCOMPARE(dialog.digits()->text(), QString("000000030000"));
    QVERIFY(!dialog.message()->isVisible());
    dialog.digits()->clear();
    QTest::keyClicks(dialog.digits(), "12345");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.message()->isVisible());
    QCOMPARE(dialog.message()->text(), QString("Invalid Format, Check Length"));
    QTest::keyClicks(dialog.digits(), "67890123456789");  // the field takes twelve at most
    QCOMPARE(dialog.digits()->text(), QString("123456789012"));
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(tried, (std::vector<std::string>{"12345", "123456789012"}));
    QCOMPARE(dialog.okButton()->text(), QString("      Ok"));
    QCOMPARE(dialog.cancelButton()->text(), QString(" Cancel"));
  }

  void removeDialogThroughTheFrontend() {
    test::RecordingFrontend inner;
    ui::NetworkFrontend frontend(inner, nullptr);
    const std::vector<std::string> items{"H000000010001", "H000000010002", "H000000010005"};
    WhenModal([](QWidget* w) {
      auto* dialog = qobject_cast<ui::RemoveMachineDialog*>(w);
      QVERIFY(dialog);
      QCOMPARE(dialog->windowTitle(), QString("Remove From Net List"));
      QListWidget* list = dialog->list();
      const QRect second = list->visualItemRect(list->item(1));
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
      QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    });
    auto kept = frontend.askItemsToKeep("", "", items);
    QVERIFY(kept);
    QCOMPARE(*kept, (std::vector<std::string>{"H000000010001", "H000000010005"}));

    WhenModal([](QWidget* w) {
      auto* dialog = qobject_cast<ui::RemoveMachineDialog*>(w);
      QVERIFY(dialog);
      QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    QVERIFY(!frontend.askItemsToKeep("", "", items));

    // The default stands selected as the dialog opens: the digits typed replace it.
    std::vector<std::string> tried;
    WhenModal([](QWidget* w) {
      auto* dialog = qobject_cast<ui::AddMachineDialog*>(w);
      QVERIFY(dialog);
      QCOMPARE(dialog->digits()->text(), QString("000000030000"));
      QTest::keyClicks(dialog->digits(), "000000010002");
      QTest::mouseClick(dialog->okButton(), Qt::LeftButton);
    });
    QVERIFY(frontend.askUntilAccepted("", "", "000000030000", [&](std::string_view typed) {
      tried.emplace_back(typed);
      return std::string();
    }));
    QCOMPARE(tried, (std::vector<std::string>{"000000010002"}));
    // The network frontend shows both dialogs itself; nothing reached the program's frontend.
    QVERIFY(inner.questions.empty());
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TestMachineSlots test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_machine_slots.moc"
