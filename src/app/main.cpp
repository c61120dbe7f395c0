// qubix24: the application entry. Sets the title, makes the main window (then the other
// windows, hidden) and runs the event loop; an error that escapes is shown in a message box
// before the program ends.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "Resources.h"
#include "app/EditorWindows.h"
#include "app/Options.h"
#include "app/RunningProgram.h"
#include "compose/LinkFactory.h"
#include "files/DataDirLock.h"
#include "ui/common/ProgramLook.h"
#include "ui/editor/UserPresetControls.h"
#include "ui/network/MainTexts.h"
#include "ui/network/MainWindow.h"
#include "ui/network/PresetControls.h"

namespace {

void ShowError(const QString& text) {
  // Over the window the operator works in, so that it never opens below the editor.
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(), text);
}

// Errors thrown from an event handler end here rather than unwinding through Qt.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
      ShowError(QStringLiteral("Unknown error"));
    }
    QCoreApplication::exit(1);
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before the window system is reached, so that --help and --version
  // work without a display.
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  const QString currentDir = QDir::currentPath();
  const QString userDataDir = qubix::app::UserDataDir();
  const auto options = qubix::app::ParseOptions(args, currentDir, userDataDir);
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "qubix24: %s\nTry 'qubix24 --help'.\n", qPrintable(options.error));
    return 2;
  }
  if (options.help) {
    std::fputs(options.helpText.toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("qubix24 %s\n", QUBIX_VERSION);
    return 0;
  }

  Application app(argc, argv);
  QApplication::setApplicationName(qubix::ui::texts::kApplicationTitle);
  qubix::ui::ApplyProgramLook();
  // The menu entry's id, by which Wayland compositors find the icon and name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.qubix24.Controller"));
  QApplication::setWindowIcon(QIcon(qubix::resources::applicationIconPath()));

  // The data directory becomes the current directory: the windows and the core take the
  // current directory at start-up as their data directory.
  const auto dataDir = qubix::app::ChooseDataDir(options, currentDir, userDataDir);
  if (dataDir.seed) {
    const QString shared = qubix::app::SharedDataDir(QCoreApplication::applicationDirPath());
    if (shared.isEmpty())
      std::fprintf(stderr, "qubix24: no shipped data found to copy into %s\n",
                   qPrintable(dataDir.path));
    std::string error;
    if (!qubix::app::SeedDataDir(shared.toStdString(), dataDir.path.toStdString(), error) ||
        (dataDir.seedSimulatedList &&
         !qubix::app::SeedSimulatedMachineList(dataDir.path.toStdString(), error))) {
      std::fprintf(stderr, "qubix24: %s\n", error.c_str());
      ShowError(QString::fromStdString(error));
      return 1;
    }
  }
  if (!QDir::setCurrent(dataDir.path)) {
    const QString error = QStringLiteral("cannot enter the data directory %1").arg(dataDir.path);
    std::fprintf(stderr, "qubix24: %s\n", qPrintable(error));
    ShowError(error);
    return 1;
  }
  std::printf("Data directory: %s\n", qPrintable(QDir::toNativeSeparators(dataDir.path)));
  std::fflush(stdout);
  if (options.quitAfterMs > 0)
    QTimer::singleShot(options.quitAfterMs, &app, &QCoreApplication::quit);

  // One program at a time owns the data directory (the current one); the lock is held until
  // the program ends.
  std::string lockError;
  const auto lock = qubix::files::DataDirLock::acquire(std::filesystem::current_path(),
                                                       std::chrono::milliseconds(0), lockError);
  if (!lock) {
    // The menu entry started again: the program already on this folder raises its window.
    if (qubix::app::AskRunningProgramToRaise(dataDir.path)) {
      std::printf("qubix24: already running on %s; its window was raised\n",
                  qPrintable(QDir::toNativeSeparators(dataDir.path)));
      return 0;
    }
    std::fprintf(stderr, "qubix24: %s\n", lockError.c_str());
    // On the offscreen platform no one could see or answer the box.
    if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
      ShowError(QString::fromStdString(lockError));
    return 1;
  }

  try {
    std::string error;
    auto adapter = qubix::compose::makeAdapter(options.link, error);
    if (!adapter) {
      std::fprintf(stderr, "qubix24: %s\n", error.c_str());
      ShowError(QString::fromStdString(error));
      return 1;
    }
    if (!options.trace.empty()) {
      // A trace that was asked for and cannot be written is not silently dropped.
      adapter = qubix::compose::traceAdapter(std::move(adapter), options.trace, error);
      if (!adapter) {
        std::fprintf(stderr, "qubix24: --trace: %s\n", error.c_str());
        if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
          ShowError(QString::fromStdString(error));
        return 1;
      }
    }
    qubix::ui::Tmainform mainform(std::move(adapter));
    // Hardware presets: the slots' preset pictures, their dialog and the Extra preset upload.
    qubix::ui::PresetControls presetControls(mainform.station(), *mainform.Slots, &mainform);
    // The editor with its response graph, level window and amplifier calculator, opened from
    // the slots' edit pictures.
    qubix::app::EditorWindows editorWindows(mainform);
    editorWindows.AttachHardwarePresets(presetControls.Presets());
    // User presets: the editor's store, recall, save and load buttons and their location
    // dialogs; a recall shows the new user preset name in the machine's slot.
    qubix::ui::UserPresetControls userPresets(editorWindows.Form1(), &mainform);
    userPresets.onSlotUserPreset = [&mainform](int slot, const std::string& name) {
      if (slot >= 0 && slot < qubix::network::kSlotCount)
        mainform.Slots->slot(slot).userPreset->setText(QString::fromStdString(name));
    };
    // A second start on this data directory raises this window instead.
    const qubix::app::RunningProgramServer running(dataDir.path, [&mainform] {
      mainform.setWindowState(mainform.windowState() & ~Qt::WindowMinimized);
      mainform.show();
      mainform.raise();
      mainform.activateWindow();
    });
    // The other windows of the program are made here, hidden, once they exist.
    mainform.show();
    return app.exec();
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowError(QStringLiteral("Unknown error"));
  }
  return 1;
}
