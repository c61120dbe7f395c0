#include "ui/network/MainWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>

#include "network/NetworkTexts.h"
#include "ui/common/BusGuard.h"
#include "ui/common/ProgramLook.h"
#include "ui/network/MainTexts.h"

namespace qubix::ui {

namespace {
constexpr int kConnectIntervalMs = 500;
constexpr int kTickIntervalMs = 100;
const QColor kLimeText(0, 255, 0);

}  // namespace

Tmainform::Tmainform(std::unique_ptr<link::Adapter> adapter, QWidget* parent) : QWidget(parent) {
  // Numbers are written and read with a point for the whole run, whatever the system uses.
  savedLocale_ = QLocale();
  QLocale::setDefault(QLocale::c());
  decimalPoint_ = std::make_unique<network::DecimalPointGuard>();

  setWindowTitle(texts::kMainCaption);
  // A window's move() places its frame, so the title bar stands at (1, 1) under a window manager.
  resize(1022, 300);
  move(1, 1);
  setMinimumSize(1022, 115);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  pal.setColor(QPalette::WindowText, kLimeText);
  pal.setColor(QPalette::Base, Qt::black);
  pal.setColor(QPalette::Text, kLimeText);
  pal.setColor(QPalette::Button, Qt::black);
  pal.setColor(QPalette::ButtonText, kLimeText);
  setPalette(pal);
  setAutoFillBackground(true);

  buildControls();

  const std::filesystem::path dataDir = QDir::currentPath().toStdString();
  frontend_.setStatusWidget(StatusLine);
  frontend_.setStatusToolTipFooter(
      QStringLiteral("Data directory: %1").arg(QDir::toNativeSeparators(QDir::currentPath())));
  frontend_.setDialogParent(this);
  networkFrontend_ = std::make_unique<NetworkFrontend>(frontend_, this);
  station_ = std::make_unique<network::Station>(std::move(adapter), *networkFrontend_, dataDir);

  Slots = new MachineSlots(this, dataDir);
  Slots->setWindowHeight = [this](int height) { resize(width(), height); };
  station_->setView(this);
  BusGuard::AllowWhileBusy(this);
  BusGuard::AllowWhileBusy(StaticText5);
  // A running scan lets events run between its probes: its stop control and "Max Srch" (the
  // field and its arrows) answer meanwhile, so that a long scan can be ended or narrowed.
  BusGuard::AllowWhileBusy(StaticText1);
  BusGuard::AllowWhileBusy(UpDown1);
  for (auto* part : UpDown1->findChildren<QWidget*>()) BusGuard::AllowWhileBusy(part);
}

void Tmainform::hideAllSlots() { Slots->HideAllSlots(); }
bool Tmainform::showSlot(int k, const network::SlotDisplay& display) {
  return Slots->ShowSlot(k, display);
}
void Tmainform::listBoxChanged(const std::vector<std::string>& items) {
  ListBox1->clear();
  for (const auto& item : items) ListBox1->addItem(ToQString(item));
}
void Tmainform::scanCaptionChanged(std::string_view caption) {
  StaticText1->setText(ToQString(caption));
}
void Tmainform::probeFieldShown(bool shown) { ProbeField->setVisible(shown); }
void Tmainform::probeFrameChanged(std::string_view frame) { ProbeField->setText(ToQString(frame)); }

void Tmainform::listSelectionChanged(int index) {
  if (index < 0 || index >= ListBox1->count()) {
    ListBox1->clearSelection();
    ListBox1->setCurrentRow(-1);
  } else {
    ListBox1->setCurrentRow(index);
  }
}

void Tmainform::restartConnectTimer() { Timer1->start(); }

void Tmainform::runTickTimer(bool run) {
  if (run)
    Timer2->start();
  else
    Timer2->stop();
}

void Tmainform::hideEditor() { emit editorWindowsToHide(); }

Tmainform::~Tmainform() {
  // The window may go without having been closed (tests, an error at start-up): the separator
  // goes back all the same.
  if (!closed_) {
    QLocale::setDefault(savedLocale_);
    decimalPoint_->restore();
  }
}

void Tmainform::buildControls() {
  Bevel1 = MakeBevel(this, QRect(4, 4, 620, 110));
  StatusLine = new QLineEdit(this);
  StatusLine->setObjectName("StatusLine");
  StatusLine->setGeometry(12, 12, 141, 21);
  StatusLine->setReadOnly(true);
  StatusLine->setFocusPolicy(Qt::NoFocus);  // it only reports: no focus, no focus frame
  ProbeField = new QLineEdit(this);
  ProbeField->setObjectName("ProbeField");
  ProbeField->setGeometry(StatusLine->geometry());
  ProbeField->setReadOnly(true);
  ProbeField->setFocusPolicy(Qt::NoFocus);
  ProbeField->hide();

  StaticText1 = new CaptionButton(ToQString(network::texts::kNetScan), this);
  StaticText1->setObjectName("StaticText1");
  StaticText1->setGeometry(12, 44, 77, 21);
  MaxSearchLabel = new QLabel(ToQString(network::texts::kMaxSearch), this);
  MaxSearchLabel->setGeometry(12, 80, 60, 21);
  UpDown1 = new QSpinBox(this);
  UpDown1->setObjectName("UpDown1");
  UpDown1->setGeometry(76, 78, 48, 24);
  UpDown1->setRange(1, 8);
  UpDown1->setValue(1);
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setGeometry(170, 12, 150, 94);
  ListBox1->addItem(ToQString(network::texts::kSearchItem));
  StaticText28 = new CaptionButton(ToQString(network::texts::kAddManually), this);
  StaticText28->setObjectName("StaticText28");
  StaticText28->setGeometry(336, 12, 100, 21);
  StaticText29 = new CaptionButton(ToQString(network::texts::kRemoveHw), this);
  StaticText29->setObjectName("StaticText29");
  StaticText29->setGeometry(336, 44, 100, 21);

  Bevel2 = MakeBevel(this, QRect(880, 4, 134, 110));
  StaticText21 = new CaptionButton(ToQString(network::texts::kRefresh), this);
  StaticText21->setObjectName("StaticText21");
  StaticText21->setGeometry(896, 12, 100, 21);
  StaticText5 = new CaptionButton(texts::kExit, this);
  StaticText5->setObjectName("StaticText5");
  StaticText5->setGeometry(896, 44, 100, 21);
  BitBtn1 = new QPushButton(texts::kConnect, this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(896, 78, 100, 25);
  BitBtn1->hide();

  Timer1 = new QTimer(this);
  Timer1->setInterval(kConnectIntervalMs);
  Timer2 = new QTimer(this);
  Timer2->setInterval(kTickIntervalMs);

  connect(Timer1, &QTimer::timeout, this, &Tmainform::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &Tmainform::Timer2Timer);
  connect(BitBtn1, &QPushButton::clicked, this, &Tmainform::BitBtn1Click);
  connect(StaticText5, &CaptionButton::clicked, this, &Tmainform::StaticText5Click);
  connect(StaticText21, &CaptionButton::clicked, this, &Tmainform::StaticText21Click);
  connect(StaticText1, &CaptionButton::clicked, this, &Tmainform::StaticText1Click);
  connect(StaticText28, &CaptionButton::clicked, this, &Tmainform::StaticText28Click);
  connect(StaticText29, &CaptionButton::clicked, this, &Tmainform::StaticText29Click);
  connect(UpDown1, &QSpinBox::valueChanged, this,
          [this](int v) { station_->network.SetMaxSearch(v); });
  connect(ListBox1, &QListWidget::itemClicked, this, [this] { ListBox1Click(); });
}

void Tmainform::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void Tmainform::FormShow() {
  // Missing names (no file, or fewer than eight lines) keep their default names; the
  // connection timer starts in every case, so the program always connects.
  station_->LoadPresetNames();
  Timer1->start();
}

void Tmainform::Timer1Timer() {
  if (BusGuard::instance().busy()) return;  // the bus is another operation's
  const BusGuard::Operation operation;
  station_->ConnectionTick([this] { Timer1->stop(); });
  if (station_->link.state().Connected) BitBtn1->setText(texts::kDisconnect);
}

void Tmainform::Timer2Timer() { station_->Tick(); }

void Tmainform::BitBtn1Click() {
  station_->Connect();
  if (station_->link.state().Connected) BitBtn1->setText(texts::kDisconnect);
}

void Tmainform::StaticText5Click() {
  if (BusGuard::instance().busy()) {
    deferExit();
    return;
  }
  station_->EndWorkForExit();
  close();
}

void Tmainform::StaticText21Click() { station_->network.RefreshUnlessBusy(); }
void Tmainform::StaticText1Click() { station_->network.StartOrStopScan(); }
void Tmainform::StaticText28Click() { station_->network.AddManually(); }
void Tmainform::StaticText29Click() { station_->network.RemoveMachines(); }

void Tmainform::deferExit() {
  // The operation runs on to the point where the machine is released; then the program ends.
  if (exitPending_) return;
  exitPending_ = true;
  // A scan ends at its next check rather than running through the addresses still to probe.
  station_->stopFlag = true;
  setWindowTitle(QString::fromLatin1(texts::kMainCaption) +
                 QStringLiteral("- closing when the bus is free"));
  BusGuard::instance().whenIdle([this] { StaticText5Click(); });
}

void Tmainform::closeEvent(QCloseEvent* event) {
  if (BusGuard::instance().busy() && !closed_) {
    event->ignore();
    deferExit();
    return;
  }
  FormClose();
  QWidget::closeEvent(event);
}

void Tmainform::FormClose() {
  if (closed_) return;
  closed_ = true;
  station_->Close();
  Timer1->stop();
  Timer2->stop();
  QLocale::setDefault(savedLocale_);
  decimalPoint_->restore();
}

}  // namespace qubix::ui
