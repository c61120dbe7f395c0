// The main window's scan, add, remove and refresh on the simulated processors, driven by mouse
// clicks as an operator would: what the slots show and what maclist.dat holds afterwards.
#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QListWidget>
#include <QMessageBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "ui/network/MainWindow.h"

using namespace qubix;

namespace {

const std::filesystem::path kData = QUBIX_SOURCE_DATA_DIR;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ListImage(const std::vector<std::string>& ids, int count) {
  std::string image(132, '\0');
  for (std::size_t i = 0; i < ids.size(); ++i) image.replace(i * 13, 13, ids[i]);
  image[130] = static_cast<char>(count);
  return image;
}

// Acts on the next modal window once it is up (events may run before it opens).
void WhenModal(std::function<void(QWidget*)> act, int triesLeft = 200) {
  QTimer::singleShot(triesLeft == 200 ? 0 : 5, [act, triesLeft] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      act(w);
      return;
    }
    QVERIFY2(triesLeft > 0, "no modal window opened");
    WhenModal(act, triesLeft - 1);
  });
}

QStringList Items(QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

int VisibleSlots(ui::MachineSlots* slotsPanel) {
  int n = 0;
  for (int k = 0; k < network::kSlotCount; ++k) {
    const auto& s = slotsPanel->slot(k);
    if (s.editPicture->isVisible() && s.presetPicture->isVisible() &&
        !s.presetPicture->pixmap().isNull())
      ++n;
  }
  return n;
}

}  // namespace

class TestMainWindowNetwork : public QObject {
  Q_OBJECT

 private slots:
  void scanAddRemoveRefresh() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const auto& entry : std::filesystem::directory_iterator(kData))
      if (entry.path().extension() == ".jpg")
        std::filesystem::copy_file(entry.path(),
                                   dir.path().toStdString() / entry.path().filename());
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const std::filesystem::path data = dir.path().toStdString();

    auto bus = sim::makeDemoBus();
    bus->addProcessor({0, 0, 0, 3, 0, 0});
    auto* adapter = new sim::SimAdapter(bus, sim::ClockMode::Virtual);
    ui::Tmainform w{std::unique_ptr<link::Adapter>(adapter)};
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.Timer1Timer();  // the first tick connects and refreshes (no list yet)
    QVERIFY(w.station().link.state().Connected);
    QCOMPARE(VisibleSlots(w.Slots), 0);

    // " NetScan" with "Max Srch" at 3.
    QTest::keyClick(w.UpDown1, Qt::Key_Up);
    QTest::keyClick(w.UpDown1, Qt::Key_Up);
    QCOMPARE(w.UpDown1->value(), 3);
    QCOMPARE(w.StaticText1->text(), QString(" NetScan"));
    QTest::mouseClick(w.StaticText1, Qt::LeftButton);
    QCOMPARE(w.StaticText1->text(), QString("ReScan"));
    QVERIFY(!w.ProbeField->isVisible());
    QCOMPARE(w.ProbeField->text(), QString("H000000010005fa"));
    QCOMPARE(Items(w.ListBox1), (QStringList{"H000000010001", "H000000010002", "H000000010005"}));
    QCOMPARE(ReadFile(data / "maclist.dat"),
             ListImage({"H000000010001", "H000000010002", "H000000010005"}, 3));
    QCOMPARE(VisibleSlots(w.Slots), 3);
    QCOMPARE(w.height(), 450);
    QCOMPARE(w.Slots->slot(1).hardwarePreset->text(), QString("TQ40 4Ch in A"));
    QCOMPARE(w.Slots->slot(2).hardwarePreset->text(), QString("STAGE LEFT FILL   "));
    QCOMPARE(w.Slots->slot(2).userPreset->text(), QString("User Config 1"));

    // " Add Manually" with the dialog's default identifier.
    WhenModal([](QWidget* dialog) {
      auto* add = qobject_cast<ui::AddMachineDialog*>(dialog);
      QVERIFY(add);
      QCOMPARE(add->digits()->text(), QString("000000030000"));
      // Wide enough for its whole title in a window manager's larger title font.
      QVERIFY(add->width() >=
              QFontMetrics(add->font()).horizontalAdvance(add->windowTitle()) * 3 / 2 + 100);
      QTest::mouseClick(add->okButton(), Qt::LeftButton);
    });
    QTest::mouseClick(w.StaticText28, Qt::LeftButton);
    QCOMPARE(ReadFile(data / "maclist.dat"),
             ListImage({"H000000010001", "H000000010002", "H000000010005", "H000000030000"}, 4));
    QCOMPARE(VisibleSlots(w.Slots), 4);
    QCOMPARE(w.Slots->slot(3).identifier->text(), QString("H000000030000"));
    QVERIFY(std::filesystem::exists(data / "maclist.dat"));

    // "  Remove HW": a click on the first machine, then "      Ok".
    WhenModal([](QWidget* dialog) {
      auto* remove = qobject_cast<ui::RemoveMachineDialog*>(dialog);
      QVERIFY(remove);
      QListWidget* list = remove->list();
      QCOMPARE(list->count(), 4);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                        list->visualItemRect(list->item(0)).center());
      QTest::mouseClick(remove->okButton(), Qt::LeftButton);
    });
    QTest::mouseClick(w.StaticText29, Qt::LeftButton);
    QCOMPARE(ReadFile(data / "maclist.dat"),
             ListImage({"H000000010002", "H000000010005", "H000000030000", "H000000030000"}, 3));
    QCOMPARE(Items(w.ListBox1), (QStringList{"H000000010002", "H000000010005", "H000000030000"}));
    QCOMPARE(VisibleSlots(w.Slots), 3);

    // " Refresh" reads the machines again: what changed on a machine shows in its slot.
    bus->find("H000000010002")->hardwarePreset = 5;
    bus->clearTranscript();
    QTest::mouseClick(w.StaticText21, Qt::LeftButton);
    QCOMPARE(w.Slots->slot(0).hardwarePreset->text(), QString("4Ch Mono in A"));
    QVERIFY(bus->pcBytes().rfind("eRH000000010002fd", 0) == 0);

    w.close();
    QDir::setCurrent(before);
  }

  // A scan of a bus whose only machine sits high runs through two thousand addresses: the
  // operator can stop it from the window, and "Max Srch" takes input meanwhile; an Exit asked
  // for during a scan stops it at its next check as well.
  void aRunningScanAnswersItsControls() {
    for (const bool byExit : {false, true}) {
      QTemporaryDir dir;
      const QString before = QDir::currentPath();
      QDir::setCurrent(dir.path());
      auto bus = std::make_shared<sim::SimBus>();
      bus->addProcessor({0, 0, 0, 1, 0x07, 0xd0});  // bus address 2000
      auto* adapter = new sim::SimAdapter(bus, sim::ClockMode::Virtual);
      ui::Tmainform w{std::unique_ptr<link::Adapter>(adapter)};
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      w.Timer1Timer();
      QVERIFY(w.station().link.state().Connected);
      QTimer::singleShot(0, [&] {
        QTest::keyClick(w.UpDown1, Qt::Key_Up);
        QTest::mouseClick(byExit ? w.StaticText5 : w.StaticText1, Qt::LeftButton);
      });
      QTest::mouseClick(w.StaticText1, Qt::LeftButton);  // returns when the scan has ended
      QCOMPARE(w.UpDown1->value(), 2);
      QVERIFY2(bus->pcBytes().find("H0000000107d0") == std::string::npos,
               "the scan ran on to the machine");
      QTRY_VERIFY(byExit == !w.isVisible());
      w.close();
      QDir::setCurrent(before);
    }
  }

  // A slot whose preset picture is missing ends the refresh with the "File Error" box; the
  // slots before it stay shown.
  void missingPictureShowsFileError() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::filesystem::path data = dir.path().toStdString();
    std::filesystem::copy_file(kData / "Controller00.jpg", data / "Controller00.jpg");
    {
      std::ofstream out(data / "maclist.dat", std::ios::binary);
      const std::string image = ListImage({"H000000010001", "H000000010002"}, 2);
      out.write(image.data(), static_cast<std::streamsize>(image.size()));
    }
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    auto* adapter = new sim::SimAdapter(sim::makeDemoBus(), sim::ClockMode::Virtual);
    ui::Tmainform w{std::unique_ptr<link::Adapter>(adapter)};
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QString text, caption;
    WhenModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      QVERIFY(box);
      text = box->text();
      caption = box->windowTitle();
      QVERIFY(box->button(QMessageBox::Cancel));
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    w.Timer1Timer();
    QCOMPARE(caption, QString("File Error"));
    QCOMPARE(
        text,
        QString("Can't perform one of the following file operations: Open, Seek, Read, Close."));
    QCOMPARE(VisibleSlots(w.Slots), 1);
    QVERIFY(!w.Slots->slot(1).presetPicture->isVisible());
    QCOMPARE(Items(w.ListBox1), (QStringList{"H000000010001", "H000000010002"}));
    w.close();
    QDir::setCurrent(before);
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TestMainWindowNetwork test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_window_network.moc"
