#include "app/window/updown.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

namespace vyo {

UpDown::UpDown(QLineEdit* buddy, int min, int max, int step, QWidget* parent)
    : QWidget(parent), buddy_(buddy), min_(min), max_(std::max(min, max)), step_(std::max(1, step)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (QToolButton** b : {&up_, &down_}) {
    *b = new QToolButton(this);
    (*b)->setArrowType(b == &up_ ? Qt::UpArrow : Qt::DownArrow);
    (*b)->setAutoRepeat(true);
    (*b)->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(*b);
  }
  up_->setObjectName(QStringLiteral("up"));
  down_->setObjectName(QStringLiteral("down"));
  // As tall as the box beside it, each arrow taking half.
  const int h = buddy_ ? buddy_->sizeHint().height() : 24;
  const int w = std::max(14, h * 2 / 3);
  setFixedSize(w, h);
  up_->setFixedSize(w, h / 2);
  down_->setFixedSize(w, h - h / 2);
  connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
  // The arrow keys and the wheel over the box step it too.
  if (buddy_) buddy_->installEventFilter(this);
  setToolTip(QStringLiteral("%1 a %2").arg(min_).arg(max_));
}

void UpDown::stepBy(int steps) {
  if (!buddy_ || steps == 0 || !isEnabled()) return;
  bool ok = false;
  const qlonglong current = buddy_->text().trimmed().toLongLong(&ok);
  qlonglong next;
  if (!ok) {
    next = steps > 0 ? min_ : max_;
  } else {
    next = std::clamp<qlonglong>(current, min_, max_);
    // A number brought into the range counts as the first step.
    if (next == current) next += qlonglong(steps) * step_;
  }
  next = std::clamp<qlonglong>(next, min_, max_);
  buddy_->setText(QString::number(next));
  buddy_->setModified(true);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
  // Only key presses and wheel turns step the box, and the type is looked at
  // first: the box also passes events through here while it is destroyed,
  // when it may no longer be taken for a QLineEdit (as comparing it with
  // the guarded pointer would).
  const QEvent::Type type = event->type();
  if ((type == QEvent::KeyPress || type == QEvent::Wheel) && watched == buddy_ && isEnabled()) {
    if (type == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Up || key == Qt::Key_Down) {
        stepBy(key == Qt::Key_Up ? 1 : -1);
        return true;
      }
      if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        stepBy(key == Qt::Key_PageUp ? 10 : -10);
        return true;
      }
    } else if (buddy_->hasFocus()) {
      const int dy = static_cast<QWheelEvent*>(event)->angleDelta().y();
      if (dy != 0) stepBy(dy > 0 ? 1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vyo
