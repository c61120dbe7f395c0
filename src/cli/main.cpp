// qubix24ctl: the command-line tool on the controller's core. Commands register themselves
// (see Command.h); this file only hands the arguments over.
#include <QCoreApplication>
#include <QLocale>

#include "cli/Command.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("qubix24ctl"));
  // Numbers are read and written with "." whatever the system setting.
  QLocale::setDefault(QLocale::c());
  return qubix::cli::RunCommandLine(QCoreApplication::arguments(), stdout, stderr);
}
