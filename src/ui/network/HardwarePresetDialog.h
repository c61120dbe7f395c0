// TForm7: the "Change HardWare PreSet" dialog — eight configuration pictures with their titles and
// names, the " Load New " button and the upload's progress bar beside configuration 8, and
// "    Close". It closes only through its own controls: with 1 … 8 for a picture, 100 for
// "    Close".
#pragma once

#include <QDialog>
#include <array>
#include <filesystem>
#include <functional>

#include "network/Slots.h"

class QLabel;
class QProgressBar;

namespace qubix::ui {

class CaptionButton;
class ClickablePicture;

class TForm7 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 520;
  static constexpr int kClientHeight = 470;
  static constexpr int kPictureSize = 81;
  static constexpr int kProgressMax = 3726;

  TForm7(std::filesystem::path dataDir, const network::HardwarePresetNames& names,
         QWidget* parent = nullptr);

  // Top edge 110 pixels below the main window's, left 106.
  void PlaceBelow(const QWidget& mainWindow);

  void FormShow();
  void SelectPS(int number);  // SelectPS1 … SelectPS8: closes with 1 … 8
  void StaticText8Click();    // "    Close": closes with 100
  void StaticText22Click();   // " Load New "

  // The upload behind " Load New " (the dialog stays open).
  std::function<void()> onLoadNew;

  std::array<ClickablePicture*, network::kHardwarePresetCount> Images{};
  std::array<QLabel*, network::kHardwarePresetCount> Titles{};
  std::array<QLabel*, network::kHardwarePresetCount> Names{};
  QLabel* FootHint = nullptr;
  CaptionButton* StaticText8 = nullptr;   // "    Close"
  CaptionButton* StaticText22 = nullptr;  // " Load New "
  QProgressBar* ProgressBar1 = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::filesystem::path dataDir_;
  const network::HardwarePresetNames& names_;
};

}  // namespace qubix::ui
