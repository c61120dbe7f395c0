// The look the program's small fixed dialogs share: a modal, fixed-size client area on black,
// with a caption and no title-bar buttons of its own.
#pragma once

#include <QDialog>
#include <QPalette>
#include <QString>
#include <string_view>

namespace qubix::ui {

inline QString QtText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// The window flags of such a dialog: a title bar without system buttons.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

inline void SetUpFixedBlackDialog(QDialog& dialog, const QString& caption, int width, int height) {
  dialog.setWindowTitle(caption);
  dialog.setModal(true);
  dialog.setFixedSize(width, height);
  dialog.setAutoFillBackground(true);
  QPalette pal = dialog.palette();
  pal.setColor(QPalette::Window, Qt::black);
  dialog.setPalette(pal);
}

}  // namespace qubix::ui
