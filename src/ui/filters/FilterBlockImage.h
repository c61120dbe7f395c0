// TFilterBlock: the on-screen face of a filter block — a 32 × 32 image showing whether the block is
// active. The block's computation is the core's FilterBlock, reachable through Block().
#pragma once

#include <QPixmap>
#include <QWidget>

#include "filters/FilterBlock.h"

namespace qubix::ui {

class TFilterBlock : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSize = 32;

  explicit TFilterBlock(QWidget* parent = nullptr);

  bool FBActive() const { return block_.FBActive(); }
  // Active shows "ACTIVEBMP"; inactive shows "INACTIVEBMP" and frees the block's sections.
  void SetFBActive(bool active);

  filters::FilterBlock& Block() { return block_; }
  const filters::FilterBlock& Block() const { return block_; }
  const QPixmap& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  filters::FilterBlock block_;
  QPixmap picture_;
};

}  // namespace qubix::ui
