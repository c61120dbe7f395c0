#include "ui/network/MachineDialogs.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "network/NetworkTexts.h"

namespace qubix::ui {

namespace {
namespace texts = network::texts;

QString qt(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

constexpr auto kDialogStyle =
    "QDialog { background: black; } QLabel { color: rgb(0,255,0); }"
    "QPushButton { color: rgb(0,255,0); background: black; border: 1px solid rgb(0,128,0);"
    " padding: 3px 10px; }"
    "QLineEdit, QListWidget { color: rgb(0,255,0); background: rgb(16,16,16); }";

// The window manager draws the title in its own font, often larger and bold, beside its
// buttons: the dialog is made wide enough for the whole title with room to spare.
void FitTitle(QDialog& dialog) {
  const int title = QFontMetrics(dialog.font()).horizontalAdvance(dialog.windowTitle());
  dialog.setMinimumWidth(title * 3 / 2 + 150);
}
}  // namespace

AddMachineDialog::AddMachineDialog(std::function<std::string(std::string_view)> tryAccept,
                                   QWidget* parent)
    : QDialog(parent), tryAccept_(std::move(tryAccept)) {
  setWindowTitle(qt(texts::kAddTitle));
  setModal(true);
  setStyleSheet(kDialogStyle);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(qt(texts::kAddLabel), this));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("H", this));
  digits_ = new QLineEdit(this);
  digits_->setMaxLength(12);
  digits_->setObjectName("Digits");
  row->addWidget(digits_);
  layout->addLayout(row);
  message_ = new QLabel(this);
  message_->setObjectName("Message");
  message_->setStyleSheet("color: rgb(255,0,0);");
  layout->addWidget(message_);
  auto* buttons = new QHBoxLayout;
  ok_ = new QPushButton(qt(texts::kOk), this);
  cancel_ = new QPushButton(qt(texts::kCancel), this);
  // A validate button that was never given anything to do stays hidden.
  auto* validate = new QPushButton(qt(texts::kValidate), this);
  validate->hide();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &AddMachineDialog::okClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  prepare(texts::kAddDefaultDigits);
  FitTitle(*this);
}

void AddMachineDialog::prepare(std::string_view defaultDigits) {
  digits_->setText(qt(defaultDigits));
  // The default stands selected, so that what the operator types replaces it.
  digits_->selectAll();
  message_->hide();
}

void AddMachineDialog::okClicked() {
  const std::string typed = digits_->text().toStdString();
  const std::string reply = tryAccept_ ? tryAccept_(typed) : std::string();
  if (reply.empty()) {
    message_->hide();
    accept();
    return;
  }
  message_->setText(QString::fromStdString(reply));
  message_->show();
}

RemoveMachineDialog::RemoveMachineDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(qt(texts::kRemoveTitle));
  setModal(true);
  setStyleSheet(kDialogStyle);
  FitTitle(*this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(qt(texts::kRemoveLabel), this));
  list_ = new QListWidget(this);
  layout->addWidget(list_);
  auto* buttons = new QHBoxLayout;
  ok_ = new QPushButton(qt(texts::kOk), this);
  cancel_ = new QPushButton(qt(texts::kCancel), this);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  // A click removes the item at once; "Ok" keeps what is left.
  connect(list_, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { delete list_->takeItem(list_->row(item)); });
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void RemoveMachineDialog::setItems(const std::vector<std::string>& items) {
  list_->clear();
  for (const auto& item : items) list_->addItem(QString::fromStdString(item));
}

std::vector<std::string> RemoveMachineDialog::items() const {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(list_->count()));
  for (int i = 0; i < list_->count(); ++i) out.push_back(list_->item(i)->text().toStdString());
  return out;
}

bool NetworkFrontend::askUntilAccepted(
    std::string_view, std::string_view, std::string_view initialText,
    const std::function<std::string(std::string_view)>& tryAccept) {
  AddMachineDialog dialog(tryAccept, parent_);
  dialog.prepare(initialText);
  return dialog.exec() == QDialog::Accepted;
}

std::optional<std::vector<std::string>> NetworkFrontend::askItemsToKeep(
    std::string_view, std::string_view, std::vector<std::string> items) {
  RemoveMachineDialog dialog(parent_);
  dialog.setItems(items);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.items();
}

}  // namespace qubix::ui
