// TForm2 and TForm4: the location dialogs of the user presets — TForm2 "Select Location" for
// storing, and TForm4 "Select User PreSet" for recalling, which is the same dialog with its own
// caption and question. Each is made once and keeps its position (0 … 7) from one opening to the
// next.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLabel;
class QSpinBox;

namespace qubix::ui {

class CaptionButton;

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 363;
  static constexpr int kClientHeight = 130;

  explicit TForm2(QWidget* parent = nullptr);

  // Places the dialog at the main window's top + 130, left 200.
  void PlaceBelow(const QWidget& mainWindow);
  // Shows the dialog modally for a processor; the location, or empty on " Cancel".
  std::optional<int> AskLocation(const QString& processorId);

  int Position() const;

  QLabel* Label11 = nullptr;    // the processor identifier
  QLabel* Question = nullptr;   // "Select the memory location number "
  QSpinBox* UpDown1 = nullptr;  // the location, 0 … 7, no wrap
  CaptionButton* OkButton = nullptr;
  CaptionButton* CancelButton = nullptr;

 protected:
  TForm2(const QString& caption, const QString& question, QWidget* parent);
};

class TForm4 : public TForm2 {
  Q_OBJECT

 public:
  explicit TForm4(QWidget* parent = nullptr);
};

}  // namespace qubix::ui
