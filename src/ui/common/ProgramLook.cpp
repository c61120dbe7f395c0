#include "ui/common/ProgramLook.h"

#include <QApplication>
#include <QFrame>
#include <QStyleFactory>
#include <QToolTip>

namespace qubix::ui {

namespace {
const QColor kLime(0, 255, 0);
const QColor kNavy(0, 0, 128);
const QColor kShadow(128, 128, 128);
const QColor kHighlight(255, 255, 255);
}  // namespace

QPalette ProgramPalette() {
  QPalette pal;
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    pal.setColor(group, QPalette::Window, Qt::black);
    pal.setColor(group, QPalette::WindowText, kLime);
    pal.setColor(group, QPalette::Base, kNavy);
    pal.setColor(group, QPalette::AlternateBase, QColor(0, 0, 96));
    pal.setColor(group, QPalette::Text, kLime);
    pal.setColor(group, QPalette::Button, QColor(24, 24, 24));
    pal.setColor(group, QPalette::ButtonText, kLime);
    pal.setColor(group, QPalette::BrightText, Qt::red);
    pal.setColor(group, QPalette::Highlight, QColor(0, 160, 0));
    pal.setColor(group, QPalette::HighlightedText, Qt::black);
    pal.setColor(group, QPalette::PlaceholderText, QColor(0, 160, 0));
    pal.setColor(group, QPalette::Light, kHighlight);
    pal.setColor(group, QPalette::Midlight, QColor(192, 192, 192));
    pal.setColor(group, QPalette::Mid, QColor(96, 96, 96));
    pal.setColor(group, QPalette::Dark, kShadow);
    pal.setColor(group, QPalette::Shadow, Qt::black);
    pal.setColor(group, QPalette::Link, QColor(0, 255, 255));
  }
  const QColor grey(128, 128, 128);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    pal.setColor(QPalette::Disabled, role, grey);
  pal.setColor(QPalette::Disabled, QPalette::Window, Qt::black);
  pal.setColor(QPalette::Disabled, QPalette::Base, QColor(0, 0, 64));
  pal.setColor(QPalette::Disabled, QPalette::Button, QColor(24, 24, 24));
  pal.setColor(QPalette::Disabled, QPalette::Light, kHighlight);
  pal.setColor(QPalette::Disabled, QPalette::Dark, kShadow);
  const QPalette tips = ToolTipPalette();
  pal.setColor(QPalette::ToolTipBase, tips.color(QPalette::ToolTipBase));
  pal.setColor(QPalette::ToolTipText, tips.color(QPalette::ToolTipText));
  return pal;
}

QPalette ToolTipPalette() {
  // Black on pale yellow: readable over the black windows and over any picture.
  QPalette pal;
  const QColor ground(255, 255, 225);
  for (auto role : {QPalette::ToolTipBase, QPalette::Window, QPalette::Base})
    pal.setColor(role, ground);
  for (auto role : {QPalette::ToolTipText, QPalette::WindowText, QPalette::Text})
    pal.setColor(role, Qt::black);
  return pal;
}

void ApplyProgramLook() {
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setPalette(ProgramPalette());
  QToolTip::setPalette(ToolTipPalette());
}

QFrame* MakeBevel(QWidget* parent, const QRect& r) {
  auto* f = new QFrame(parent);
  f->setFrameStyle(QFrame::Box | QFrame::Sunken);
  f->setLineWidth(1);
  f->setMidLineWidth(0);
  QPalette pal = f->palette();
  pal.setColor(QPalette::Light, kHighlight);
  pal.setColor(QPalette::Dark, kShadow);
  f->setPalette(pal);
  f->setGeometry(r);
  f->lower();
  return f;
}

}  // namespace qubix::ui
