#include "ui/common/QtFrontend.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>

#include "ui/common/BusGuard.h"

namespace qubix::ui {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ToQColor(link::Rgb colour) { return QColor(colour.r, colour.g, colour.b); }

void QtFrontend::setStatusWidget(QLineEdit* statusLine) {
  status_ = statusLine;
  if (!status_) return;
  QPalette pal = status_->palette();
  pal.setColor(QPalette::Base, Qt::black);
  pal.setColor(QPalette::Text, ToQColor(link::kLime));
  status_->setPalette(pal);
}

void QtFrontend::setStatusText(std::string_view text) {
  if (status_) status_->setText(ToQString(text));
}

void QtFrontend::setStatusColour(link::Rgb colour) {
  if (!status_) return;
  QPalette pal = status_->palette();
  pal.setColor(QPalette::Text, ToQColor(colour));
  status_->setPalette(pal);
}

void QtFrontend::setStatusDetail(std::string_view detail) {
  detail_ = ToQString(detail);
  showToolTip();
}

void QtFrontend::setStatusToolTipFooter(const QString& footer) {
  footer_ = footer;
  showToolTip();
}

void QtFrontend::showToolTip() {
  if (!status_) return;
  if (detail_.isEmpty() || footer_.isEmpty())
    status_->setToolTip(detail_ + footer_);
  else
    status_->setToolTip(detail_ + u'\n' + footer_);
}

QWidget* QtFrontend::dialogParent() const {
  // A dialog that belonged to a window below one that stays on top would open hidden under it.
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible() && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) &&
        !window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
      return window;
  return parent_;
}

void QtFrontend::setBusyCursor(bool busy) {
  // The override cursor stacks; keep exactly one level while busy.
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

link::Answer QtFrontend::messageBox(std::string_view text, std::string_view caption,
                                    link::Buttons buttons) {
  QMessageBox box(dialogParent());
  box.setText(ToQString(text));
  box.setWindowTitle(ToQString(caption));
  switch (buttons) {
    case link::Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case link::Buttons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case link::Buttons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case link::Buttons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return link::Answer::Cancel;
    case QMessageBox::Yes:
      return link::Answer::Yes;
    case QMessageBox::No:
      return link::Answer::No;
    default:
      return link::Answer::Ok;
  }
}

void QtFrontend::processEvents() { BusGuard::instance().pump(); }

QString OpenDialogStart(const QString& lastFile, const QString& startDir) {
  // The last file opened with this filter, while it exists; else the folder asked for, or the
  // nearest folder above it that exists. A folder name never stands in the file name box, so
  // a double click or Enter on a file opens it.
  if (!lastFile.isEmpty() && QFileInfo(lastFile).isFile()) return lastFile;
  QDir dir(startDir);
  while (!dir.exists() && !dir.isRoot() && dir.cdUp()) {
  }
  if (!dir.exists()) return QString();
  return dir.absolutePath() + QLatin1Char('/');
}

std::optional<std::string> QtFrontend::askOpenFile(std::string_view title, std::string_view filter,
                                                   std::string_view startDir) {
  QString& last = lastOpened_[ToQString(filter)];
  const QString path =
      QFileDialog::getOpenFileName(dialogParent(), ToQString(title),
                                   OpenDialogStart(last, ToQString(startDir)), ToQString(filter));
  if (path.isEmpty()) return std::nullopt;
  last = path;
  return path.toStdString();
}

std::optional<std::string> QtFrontend::askSaveFile(std::string_view title, std::string_view filter,
                                                   std::string_view startDir) {
  const QString path = QFileDialog::getSaveFileName(dialogParent(), ToQString(title),
                                                    ToQString(startDir), ToQString(filter));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

std::optional<int> QtFrontend::askLocation(std::string_view title) {
  bool ok = false;
  const int location =
      QInputDialog::getInt(dialogParent(), ToQString(title), QString(), 0, 0, 7, 1, &ok);
  if (!ok) return std::nullopt;
  return location;
}

std::optional<std::string> QtFrontend::askText(std::string_view title, std::string_view label) {
  bool ok = false;
  const QString text = QInputDialog::getText(dialogParent(), ToQString(title), ToQString(label),
                                             QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return text.toStdString();
}

}  // namespace qubix::ui
