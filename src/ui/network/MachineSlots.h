// The eight machine slots of the main window: per slot an edit picture, three text lines and a
// hardware preset picture, placed on the main window in four rows of two. They show what the
// refresh read (they are the NetworkView of the slots) and report clicks on their pictures.
#pragma once

#include <QImage>
#include <QLabel>
#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <filesystem>
#include <functional>

#include "network/NetworkManager.h"

namespace qubix::ui {

// A picture that reports a left click.
class ClickablePicture : public QLabel {
  Q_OBJECT
 public:
  explicit ClickablePicture(QWidget* parent = nullptr);
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// Loads a JPEG file through the project's decoder; a null image on any failure.
QImage LoadJpegPicture(const std::filesystem::path& path, std::string* error = nullptr);

class MachineSlots : public QObject {
  Q_OBJECT
 public:
  struct Slot {
    ClickablePicture* editPicture = nullptr;
    QLabel* identifier = nullptr;
    QLabel* hardwarePreset = nullptr;
    QLabel* userPreset = nullptr;
    ClickablePicture* presetPicture = nullptr;
  };

  // Creates the controls, hidden, on window; the edit picture is loaded from dataDir.
  MachineSlots(QWidget* window, const std::filesystem::path& dataDir);

  // Hides every edit picture, label and hardware preset picture (not the busy animations).
  void HideAllSlots();
  // Shows slot k as display says; false when its hardware preset picture cannot be loaded.
  bool ShowSlot(int k, const network::SlotDisplay& display);
  // The hardware preset picture and label only (after a hardware preset change).
  bool ShowHardwarePreset(int k, const network::SlotDisplay& display);

  const Slot& slot(int k) const { return slots_[static_cast<std::size_t>(k)]; }
  // Where slot k's busy animation stands (under its edit picture).
  static QRect animationGeometry(int k);
  static QRect editPictureGeometry(int k);
  static QRect presetPictureGeometry(int k);
  static QRect labelGeometry(int k, int line);

  // The main window's height follows the last slot shown.
  std::function<void(int height)> setWindowHeight;

 signals:
  void editPictureClicked(int k);
  void presetPictureClicked(int k);

 private:
  std::array<Slot, network::kSlotCount> slots_;
};

}  // namespace qubix::ui
