#include "Resources.h"

namespace qubix::resources {

namespace {
QString path(QStringView folder, QStringView name) {
  return QStringLiteral(":/%1/%2.png").arg(folder, name);
}
}  // namespace

QString bitmapPath(QStringView name) { return path(u"bitmaps", name); }
QString cursorPath(QStringView name) { return path(u"cursors", name); }
QString applicationIconPath() { return path(u"icons", u"org.qubix24.Controller"); }

}  // namespace qubix::resources
