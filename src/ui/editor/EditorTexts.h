// The texts of the editor, level and calculator windows, byte for byte as they appear.
#pragma once

#include <QColor>
#include <QString>

namespace qubix::ui::editortexts {

inline const QString kGainDb = QStringLiteral("Gain (db)");
inline const QString kInputA = QStringLiteral("Input A");
inline const QString kInputB = QStringLiteral("Input B");
inline const QString kCh12 = QStringLiteral("Ch1 / Ch2");
inline const QString kCh34 = QStringLiteral("Ch3 / Ch4");
inline const QString kOutAttn = QStringLiteral("OutAttn");
inline const QString kDelayMs = QStringLiteral("Delay (ms)");
inline const QString kMute[4] = {QStringLiteral("Mute Ch1"), QStringLiteral("Mute Ch2"),
                                 QStringLiteral("Mute Ch3"), QStringLiteral("Mute Ch4")};
inline const QString kCopyToAll = QStringLiteral(" Copy to All");
inline const QString kOvflw = QStringLiteral("ovflw");
inline const QString kProcessorId = QStringLiteral("ProcessorID:");
inline const QString kHwPreset = QStringLiteral("HW PreSet:");
inline const QString kUserPreset = QStringLiteral("User PreSet:");
inline const QString kSaveToDsp = QStringLiteral("    Save To DSP Memory");
inline const QString kLoadFromDsp = QStringLiteral("   Load From DSP Memory");
inline const QString kSavePowerOn = QStringLiteral(" Save As PowerOn Setting");
inline const QString kSaveToHdd = QStringLiteral("   Save To Computer HDD");
inline const QString kLoadFromHdd = QStringLiteral("  Load From Computer HDD");
inline const QString kShowLevels = QStringLiteral("  Show Levels");
inline const QString kAmpSetting = QStringLiteral(" Amp Setting ");
inline const QString kClose = QStringLiteral(" Close");

inline const QColor kAqua(0, 255, 255);
inline const QColor kLimeText(0, 255, 0);
inline const QColor kYellowText(255, 255, 0);
inline const QColor kRedText(255, 0, 0);
inline const QColor kNavy(0, 0, 128);
inline const QColor kIndicatorOff(96, 0, 0);
inline const QColor kIndicatorOn(255, 0, 0);

}  // namespace qubix::ui::editortexts
