// The "Add Machine Manually" and "Remove From Net List" dialogs, and a frontend that shows them
// for the network manager while passing everything else to the program's frontend.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <functional>
#include <string>
#include <vector>

#include "link/Frontend.h"

namespace qubix::ui {

class AddMachineDialog : public QDialog {
  Q_OBJECT
 public:
  // tryAccept gets the twelve typed characters and returns "" to close with OK, or the text
  // for the message line (the dialog stays open).
  explicit AddMachineDialog(std::function<std::string(std::string_view)> tryAccept,
                            QWidget* parent = nullptr);

  QLineEdit* digits() const { return digits_; }
  QLabel* message() const { return message_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

  // Resets the field and hides the message line, as every opening does.
  void prepare(std::string_view defaultDigits);

 private:
  void okClicked();

  std::function<std::string(std::string_view)> tryAccept_;
  QLineEdit* digits_;
  QLabel* message_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

class RemoveMachineDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RemoveMachineDialog(QWidget* parent = nullptr);

  void setItems(const std::vector<std::string>& items);
  std::vector<std::string> items() const;

  QListWidget* list() const { return list_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QListWidget* list_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

// Passes every call to the program's frontend except the two list dialogs, which it shows
// itself.
class NetworkFrontend : public link::Frontend {
 public:
  NetworkFrontend(link::Frontend& inner, QWidget* parent) : inner_(inner), parent_(parent) {}

  void setStatusText(std::string_view text) override { inner_.setStatusText(text); }
  void setStatusColour(link::Rgb colour) override { inner_.setStatusColour(colour); }
  void setStatusDetail(std::string_view detail) override { inner_.setStatusDetail(detail); }
  void setBusyCursor(bool busy) override { inner_.setBusyCursor(busy); }
  link::Answer messageBox(std::string_view text, std::string_view caption,
                          link::Buttons buttons) override {
    return inner_.messageBox(text, caption, buttons);
  }
  void processEvents() override { inner_.processEvents(); }
  std::optional<std::string> askOpenFile(std::string_view title, std::string_view filter,
                                         std::string_view startDir) override {
    return inner_.askOpenFile(title, filter, startDir);
  }
  std::optional<std::string> askSaveFile(std::string_view title, std::string_view filter,
                                         std::string_view startDir) override {
    return inner_.askSaveFile(title, filter, startDir);
  }
  std::optional<int> askLocation(std::string_view title) override {
    return inner_.askLocation(title);
  }
  std::optional<std::string> askText(std::string_view title, std::string_view label) override {
    return inner_.askText(title, label);
  }
  bool askUntilAccepted(std::string_view title, std::string_view label,
                        std::string_view initialText,
                        const std::function<std::string(std::string_view)>& tryAccept) override;
  std::optional<std::vector<std::string>> askItemsToKeep(std::string_view title,
                                                         std::string_view label,
                                                         std::vector<std::string> items) override;

 private:
  link::Frontend& inner_;
  QWidget* parent_;
};

}  // namespace qubix::ui
