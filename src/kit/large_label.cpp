#include "kit/large_label.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTransform>

namespace tarn {

TLargeLabel::TLargeLabel(const QString& caption, QWidget* parent)
    : QWidget(parent), caption_(caption) {
  setAttribute(Qt::WA_TranslucentBackground);
  Fit();
}

void TLargeLabel::SetCaption(const QString& caption) {
  caption_ = caption;
  Fit();
  update();
}

void TLargeLabel::SetTextColor(const QColor& color) {
  text_ = color;
  update();
}

void TLargeLabel::SetDepthColor(const QColor& color) {
  depth_color_ = color;
  update();
}

void TLargeLabel::SetDepth(int depth) {
  depth_ = std::max(0, depth);
  Fit();
  update();
}

QSize TLargeLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  const QRect bounds = metrics.boundingRect(caption_);
  return QSize(std::max(bounds.width(), metrics.horizontalAdvance(caption_)) + depth_ + 2,
               metrics.height() + depth_ + 1);
}

void TLargeLabel::Fit() { resize(sizeHint()); }

void TLargeLabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) Fit();
  QWidget::changeEvent(event);
}

QPainterPath TLargeLabel::FacePath() const {
  QPainterPath path;
  if (caption_.isEmpty()) return path;
  const QFontMetrics metrics(font());
  path.addText(1, metrics.ascent(), font(), caption_);
  // Lean the text back: its box maps onto a trapezoid whose top edge is
  // narrower by kLean of the width, shared equally by both sides.
  const QRectF box(0, 0, width() - depth_, height() - depth_);
  const double inset = box.width() * kLean / 2;
  QPolygonF from;
  from << box.topLeft() << box.topRight() << box.bottomRight() << box.bottomLeft();
  QPolygonF to;
  to << QPointF(box.left() + inset, box.top()) << QPointF(box.right() - inset, box.top())
     << box.bottomRight() << box.bottomLeft();
  QTransform lean;
  if (!QTransform::quadToQuad(from, to, lean)) return path;
  return lean.map(path);
}

void TLargeLabel::paintEvent(QPaintEvent*) {
  const QPainterPath face = FacePath();
  if (face.isEmpty()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  // The extruded side: copies of the face stepping down and right.
  painter.setBrush(depth_color_);
  for (int step = depth_; step > 0; --step) painter.drawPath(face.translated(step, step));
  painter.setBrush(text_);
  painter.drawPath(face);
}

}  // namespace tarn
