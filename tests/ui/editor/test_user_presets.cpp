// The editor's user preset buttons with their location dialogs, clicked with the mouse, on the
// simulated bus.
#include <QApplication>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "support/EditorWindowRig.h"
#include "support/QtInput.h"
#include "ui/common/CaptionButton.h"
#include "ui/editor/EditorTexts.h"
#include "ui/editor/EditorWindow.h"
#include "ui/editor/PresetLocationDialog.h"
#include "ui/editor/UserPresetControls.h"

using namespace qubix;

namespace {

struct Fixture : test::EditorWindowRig {
  Fixture() : EditorWindowRig("ui_user_presets"), controls(form, nullptr) {}
  ui::UserPresetControls controls;
};

using test::Click;
using test::WhenModal;

}  // namespace

class TestUserPresets : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void storeThroughTheLocationDialog() {
    Fixture f;
    ui::CaptionButton* button = f.form.Button(ui::editortexts::kSaveToDsp);
    QVERIFY(button);
    QString shownId;
    WhenModal([&](QWidget* w) {
      QCOMPARE(w, static_cast<QWidget*>(&f.controls.Form2()));
      QCOMPARE(w->parentWidget(), static_cast<QWidget*>(&f.form));  // kept above the editor
      shownId = f.controls.Form2().Label11->text();
      for (int i = 0; i < 7; ++i) QTest::keyClick(f.controls.Form2().UpDown1, Qt::Key_Up);
      Click(f.controls.Form2().OkButton);
    });
    Click(button);
    QCOMPARE(shownId, QStringLiteral("H000000010001"));
    const std::string wire = f.pc();
    QCOMPARE(wire.size(), std::size_t{11 * 37});
    QCOMPARE(QString::fromStdString(wire.substr(0, 5)), QStringLiteral("U0700"));
    QCOMPARE(QString::fromStdString(wire.substr(10 * 37, 5)), QStringLiteral("U070a"));
    QVERIFY(std::filesystem::exists(f.dir / "H000000010001_7.dat"));
    QCOMPARE(button->captionColour(), ui::editortexts::kYellowText);
  }

  void recallCancelledSendsNothing() {
    Fixture f;
    WhenModal([&](QWidget* w) {
      QCOMPARE(w, static_cast<QWidget*>(&f.controls.Form4()));
      QCOMPARE(w->windowTitle(), QStringLiteral("Select User PreSet"));
      Click(f.controls.Form4().CancelButton);
    });
    Click(f.form.Button(ui::editortexts::kLoadFromDsp));
    QCOMPARE(f.pc(), std::string());
    QVERIFY(f.form.Timer1().isActive());
  }

  void recallShowsTheUserPresetNameAndTellsTheSlot() {
    Fixture f;
    int slot = -1;
    std::string name;
    f.controls.onSlotUserPreset = [&](int k, const std::string& n) {
      slot = k;
      name = n;
    };
    WhenModal([&](QWidget*) {
      QTest::keyClick(f.controls.Form4().UpDown1, Qt::Key_Up);
      QTest::keyClick(f.controls.Form4().UpDown1, Qt::Key_Up);
      Click(f.controls.Form4().OkButton);
    });
    Click(f.form.Button(ui::editortexts::kLoadFromDsp));
    QCOMPARE(QString::fromStdString(f.pc().substr(0, 5)), QStringLiteral("u02fe"));
    QCOMPARE(f.form.Label15()->text(), QStringLiteral("User Config 2"));
    QCOMPARE(slot, 0);
    QCOMPARE(name, std::string("User Config 2"));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TestUserPresets test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_user_presets.moc"
