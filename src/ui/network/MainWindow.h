// Tmainform: the main window — status line, machine list, scan and list buttons, the eight machine
// slots, and the two timers that connect to the adapter (500 ms) and count ticks (100 ms). The bus
// state and everything it drives live in a network::Station; the window adds the controls.
#pragma once

#include <QLocale>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "link/Adapter.h"
#include "network/NetworkManager.h"
#include "network/Station.h"
#include "ui/common/CaptionButton.h"
#include "ui/common/QtFrontend.h"
#include "ui/network/MachineDialogs.h"
#include "ui/network/MachineSlots.h"

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;

namespace qubix::ui {

class Tmainform : public QWidget, public network::NetworkView {
  Q_OBJECT

 public:
  // The data directory is the current directory at the time the window is made.
  explicit Tmainform(std::unique_ptr<link::Adapter> adapter, QWidget* parent = nullptr);
  ~Tmainform() override;

  network::Station& station() { return *station_; }
  QtFrontend& frontend() { return frontend_; }

  // Controls, by the names the handlers use.
  QFrame* Bevel1 = nullptr;
  QFrame* Bevel2 = nullptr;
  QLineEdit* StatusLine = nullptr;
  QLineEdit* ProbeField = nullptr;       // lies over the status line; shows the scan's probes
  CaptionButton* StaticText1 = nullptr;  // " NetScan"
  QLabel* MaxSearchLabel = nullptr;
  QSpinBox* UpDown1 = nullptr;  // "Max Srch", 1 … 8
  QListWidget* ListBox1 = nullptr;
  CaptionButton* StaticText28 = nullptr;  // " Add Manually"
  CaptionButton* StaticText29 = nullptr;  // "  Remove HW"
  CaptionButton* StaticText21 = nullptr;  // " Refresh"
  CaptionButton* StaticText5 = nullptr;   // "      Exit"
  QPushButton* BitBtn1 = nullptr;         // hidden "Connect"
  QTimer* Timer1 = nullptr;               // connection, 500 ms
  QTimer* Timer2 = nullptr;               // ticks, 100 ms

  // The eight machine slots and what the list manager sees of the window.
  MachineSlots* Slots = nullptr;

  // The hidden list holding the eight hardware preset names.

  // network::NetworkView: what the core shows here.
  void hideAllSlots() override;
  bool showSlot(int k, const network::SlotDisplay& display) override;
  void listBoxChanged(const std::vector<std::string>& items) override;
  void scanCaptionChanged(std::string_view caption) override;
  void probeFieldShown(bool shown) override;
  void probeFrameChanged(std::string_view frame) override;
  void listSelectionChanged(int index) override;
  void restartConnectTimer() override;
  bool runsEventsWhileWaiting() const override { return true; }
  void runTickTimer(bool run) override;
  void hideEditor() override;

  bool closed() const { return closed_; }
  // Exit was asked for during an operation and waits for its end.
  bool exitPending() const { return exitPending_; }

 signals:
  // The editor and the filter graph windows are to hide (whoever created them listens).
  void editorWindowsToHide();

 public slots:
  void FormShow();
  void Timer1Timer();
  void Timer2Timer();
  void BitBtn1Click();
  void StaticText5Click();   // "      Exit"
  void StaticText21Click();  // " Refresh"
  void StaticText1Click();   // " NetScan"
  void StaticText28Click();  // " Add Manually"
  void StaticText29Click();  // "  Remove HW"
  void ListBox1Click() {}

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormClose();
  void buildControls();
  void deferExit();

  QtFrontend frontend_;
  std::unique_ptr<NetworkFrontend> networkFrontend_;
  std::unique_ptr<network::Station> station_;
  std::unique_ptr<network::DecimalPointGuard> decimalPoint_;
  QLocale savedLocale_;
  bool shown_ = false;
  bool closed_ = false;
  bool exitPending_ = false;
};

}  // namespace qubix::ui
