#include "ui/filters/FilterBlockImage.h"

#include <QPainter>

#include "ui/filters/Drawing.h"
#include "ui/filters/FilterTexts.h"

namespace qubix::ui {

TFilterBlock::TFilterBlock(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSize, kSize);
  // A new block shows the active picture whatever its flag says.
  picture_ = NamedBitmap(texts::kActiveBitmap);
}

void TFilterBlock::SetFBActive(bool active) {
  block_.SetFBActive(active);
  picture_ = NamedBitmap(active ? texts::kActiveBitmap : texts::kInactiveBitmap);
  update();
}

void TFilterBlock::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, picture_);
}

}  // namespace qubix::ui
