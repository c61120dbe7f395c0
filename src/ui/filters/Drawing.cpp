#include "ui/filters/Drawing.h"

#include <QHash>
#include <cmath>

#include "Resources.h"

namespace qubix::ui {

namespace {
QHash<int, QCursor>& cursorTable() {
  static QHash<int, QCursor> table;
  return table;
}
}  // namespace

void RegisterCursor(int number, QStringView resourceName) {
  const QPixmap pixmap(resources::cursorPath(resourceName));
  if (pixmap.isNull()) {
    qWarning("cursor %s missing from the resources", qPrintable(resourceName.toString()));
    return;
  }
  cursorTable().insert(number, QCursor(pixmap, pixmap.width() / 2, pixmap.height() / 2));
}

QCursor NumberedCursor(int number) { return cursorTable().value(number, QCursor(Qt::ArrowCursor)); }

double KnobAngle(double pot, double minimum, double maximum) {
  constexpr double kSweepStart = 4.239;
  constexpr double kSweep = 5.338;
  const double span = maximum - minimum;
  return span != 0.0 ? kSweepStart - pot * kSweep / span : kSweepStart;
}

QPixmap NamedBitmap(QStringView name) {
  QPixmap pixmap(resources::bitmapPath(name));
  if (pixmap.isNull())
    qWarning("bitmap %s missing from the resources", qPrintable(name.toString()));
  return pixmap;
}

QFont ControlFont(int pixelHeight) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixelHeight);
  return font;
}

QString FormatNumber(double value, int significant, int decimals, bool thousands) {
  if (!std::isfinite(value)) return QStringLiteral("?");
  // Digits kept: the tighter of the significant-digit and the decimal limit.
  int keep = decimals;
  if (value != 0.0) {
    const int integerDigits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    keep = std::min(decimals, significant - integerDigits);
  }
  const double scale = std::pow(10.0, keep);
  double rounded = std::round(value * scale) / scale;  // std::round: half away from zero
  if (rounded == 0.0) rounded = 0.0;                   // no "-0.0"
  QString text = QString::number(rounded, 'f', decimals);
  if (thousands) {
    const int sign = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point < 0) point = text.size();
    for (qsizetype i = point - 3; i > sign; i -= 3) text.insert(i, QLatin1Char(','));
  }
  return text;
}

}  // namespace qubix::ui
