// The frontend of the core on Qt: the main window's status line, the busy cursor, message
// boxes, pending events and the modal questions.
#pragma once

#include <QHash>
#include <QPointer>
#include <QString>

#include "link/Frontend.h"

class QLineEdit;
class QWidget;

namespace qubix::ui {

QString ToQString(std::string_view text);
// Where an open dialog starts: the last file opened if it still exists, else the folder (or the
// nearest existing folder above it), given with a trailing slash so no name is proposed.
QString OpenDialogStart(const QString& lastFile, const QString& startDir);
QColor ToQColor(link::Rgb colour);

class QtFrontend : public link::Frontend {
 public:
  QtFrontend() = default;

  // The one-line text box the status goes to (black background; lime text at start).
  void setStatusWidget(QLineEdit* statusLine);
  // A line the status line's tool tip always ends with (the data directory), below the detail
  // of the last failure.
  void setStatusToolTipFooter(const QString& footer);
  // The window dialogs belong to when none of the program's windows is active (the main window).
  void setDialogParent(QWidget* parent) { parent_ = parent; }
  // The window a dialog opened now belongs to: the active window of the program (the one the
  // operator works in), else a visible window that stays on top of the others, else the one
  // given above. A window manager keeps the dialog above it.
  QWidget* dialogParent() const;

  void setStatusText(std::string_view text) override;
  void setStatusColour(link::Rgb colour) override;
  void setStatusDetail(std::string_view detail) override;
  void setBusyCursor(bool busy) override;
  link::Answer messageBox(std::string_view text, std::string_view caption,
                          link::Buttons buttons) override;
  void processEvents() override;
  std::optional<std::string> askOpenFile(std::string_view title, std::string_view filter,
                                         std::string_view startDir) override;
  std::optional<std::string> askSaveFile(std::string_view title, std::string_view filter,
                                         std::string_view startDir) override;
  std::optional<int> askLocation(std::string_view title) override;
  std::optional<std::string> askText(std::string_view title, std::string_view label) override;

  bool busy() const { return busy_; }

 private:
  void showToolTip();

  QPointer<QLineEdit> status_;
  QPointer<QWidget> parent_;
  QString detail_;
  QString footer_;
  bool busy_ = false;
  QHash<QString, QString> lastOpened_;  // by filter
};

}  // namespace qubix::ui
