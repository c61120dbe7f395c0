// Names of the project's pictures inside the Qt resources (see CMakeLists.txt here).
#pragma once

#include <QString>
#include <QStringView>

namespace qubix::resources {

// ":/bitmaps/<name>.png": the named bitmaps of the controls.
QString bitmapPath(QStringView name);
// ":/cursors/<name>.png": the named cursors; their hot spot is the centre of the picture.
QString cursorPath(QStringView name);
// The application icon (the same picture the desktop menu shows).
QString applicationIconPath();

}  // namespace qubix::resources
