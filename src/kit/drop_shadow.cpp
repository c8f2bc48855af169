#include "kit/drop_shadow.h"

#include <QEvent>
#include <QPainter>
#include <QRegion>

namespace tarn {

TDropShadow::TDropShadow(QWidget* target, int depth)
    : QWidget(target, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                          Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint),
      target_(target),
      depth_(std::max(1, depth)) {
  setObjectName(QStringLiteral("DropShadow"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  target->installEventFilter(this);
  Follow();
}

QRect TDropShadow::ShadowGeometry() const {
  if (!target_) return QRect();
  return target_->frameGeometry().translated(depth_, depth_);
}

void TDropShadow::Follow() {
  if (!target_) return;
  const QRect place = ShadowGeometry();
  setGeometry(place);
  // Only the strips that stick out beyond the target, leaving the corners
  // diagonal to them open as a light from the top left would.
  const int w = place.width();
  const int h = place.height();
  QRegion strips(w - depth_, depth_, depth_, h - depth_);
  strips += QRegion(depth_, h - depth_, w - depth_, depth_);
  setMask(strips);
  if (target_->isVisible()) {
    show();
    target_->raise();
  } else {
    hide();
  }
}

bool TDropShadow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == target_) {
    switch (event->type()) {
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
        Follow();
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TDropShadow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // Opaque greys, darker towards the window: without a compositing window
  // manager translucency would show as plain black.
  for (int i = 0; i < depth_; ++i) {
    const int grey = 0xA0 - 0x60 * i / depth_;
    painter.setPen(QColor(grey, grey, grey));
    const QRect ring = rect().adjusted(0, 0, -i - 1, -i - 1);
    painter.drawLine(ring.right(), depth_, ring.right(), ring.bottom());
    painter.drawLine(depth_, ring.bottom(), ring.right(), ring.bottom());
  }
}

TDropShadow* AddDropShadow(QWidget* window, int depth) {
  return new TDropShadow(window, depth);  // owned by `window`
}

}  // namespace tarn
