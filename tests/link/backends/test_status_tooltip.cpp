// A failed connect in the program: the status line keeps its fixed texts and its tool tip
// tells the operator why, above the data directory; a later good connect clears the reason.
#include <dlfcn.h>

#include <QApplication>
#include <QLineEdit>
#include <QtTest>
#include <cstdlib>
#include <memory>

#include "StandIn.h"
#include "compose/LinkFactory.h"
#include "link/Link.h"
#include "link/backends/NoDeviceAdapter.h"
#include "link/backends/auto/AutoAdapter.h"
#include "link/backends/d2xx/D2xxAdapter.h"
#include "sim/SimAdapter.h"
#include "sim/SimBus.h"
#include "ui/common/QtFrontend.h"

class StatusToolTip : public QObject {
  Q_OBJECT

 private slots:
  void missingSerialDeviceShowsNoDeviceAndTheReason() {
    QLineEdit status;
    qubix::ui::QtFrontend frontend;
    frontend.setStatusWidget(&status);
    std::string error;
    auto adapter = qubix::compose::makeAdapter("serial:/dev/ttyQUBIXnone", error);
    QVERIFY2(adapter != nullptr, error.c_str());
    qubix::link::Link link(std::move(adapter), frontend);
    link.Connect();
    QCOMPARE(status.text(), QStringLiteral("NoDevice"));
    QVERIFY2(status.toolTip().contains(QStringLiteral("/dev/ttyQUBIXnone")),
             qPrintable(status.toolTip()));
  }

  // Started without --link and nothing plugged in: what was looked for, on the tool tip.
  void defaultAdapterFindingNothingSaysWhatItLookedFor() {
    QLineEdit status;
    qubix::ui::QtFrontend frontend;
    frontend.setStatusWidget(&status);
    qubix::link::backends::AutoSources sources;
    sources.ttyClassDir = "/nonexistent/class/tty";
    sources.ftdi = [](std::string&) -> std::unique_ptr<qubix::link::Adapter> {
      return std::make_unique<qubix::link::backends::NoDeviceAdapter>();
    };
    sources.d2xx = [] {
      return std::make_unique<qubix::link::backends::D2xxAdapter>("/nonexistent/libftd2xx.so");
    };
    qubix::link::Link link(std::make_unique<qubix::link::backends::AutoAdapter>(sources), frontend);
    link.Connect();
    QCOMPARE(status.text(), QStringLiteral("NoOpenDvc"));
    QVERIFY2(
        status.toolTip().startsWith(QStringLiteral(
            "no FTDI adapter (vendor 0403): serial ports: cannot read /nonexistent/class/tty")),
        qPrintable(status.toolTip()));
    QVERIFY2(status.toolTip().contains(QStringLiteral("; libftdi found no device; d2xx: "
                                                      "/nonexistent/libftd2xx.so not installed")),
             qPrintable(status.toolTip()));
  }

  void vendorLibraryFailureThenSuccess() {
    void* library = dlopen(QUBIX_STANDIN_LIB, RTLD_NOW | RTLD_LOCAL);
    QVERIFY(library != nullptr);
    auto* control = reinterpret_cast<qubix::test::StandInControl* (*)()>(
        dlsym(library, "qubix_standin_control"))();
    *control = {};

    QLineEdit status;
    qubix::ui::QtFrontend frontend;
    frontend.setStatusWidget(&status);
    const QString footer = QStringLiteral("Data directory: /srv/q");
    frontend.setStatusToolTipFooter(footer);
    QCOMPARE(status.toolTip(), footer);
    std::string error;
    auto adapter = qubix::compose::makeAdapter(std::string("d2xx:") + QUBIX_STANDIN_LIB, error);
    QVERIFY2(adapter != nullptr, error.c_str());
    qubix::link::Link link(std::move(adapter), frontend);

    // The library sees a device that cannot be opened.
    control->extraDevices = 1;
    link.Connect();
    QCOMPARE(status.text(), QStringLiteral("NoOpenDvc"));
    QVERIFY2(status.toolTip().contains(QStringLiteral("FT_Open of device 0 failed")),
             qPrintable(status.toolTip()));
    QVERIFY2(status.toolTip().endsWith(u'\n' + footer), qPrintable(status.toolTip()));

    // The adapter is there at the next attempt.
    qubix::sim::SimAdapter sim(qubix::sim::makeDemoBus());
    control->extraDevices = 0;
    control->adapter = &sim;
    link.Connect();
    QVERIFY(link.state().Connected);
    QCOMPARE(status.text(), QStringLiteral("Velmoria USBTo422"));
    QCOMPARE(status.toolTip(), footer);

    link.CloseAdapter();
    *control = {};
    dlclose(library);
  }
};

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  StatusToolTip test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_status_tooltip.moc"
