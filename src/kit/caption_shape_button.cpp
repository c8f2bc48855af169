#include "kit/caption_shape_button.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace tarn {

TCaptionShapeButton::TCaptionShapeButton(QWidget* parent) : TShapeButton(parent) {}

void TCaptionShapeButton::SetShadowDepth(int depth) {
  shadow_depth_ = std::max(0, depth);
  update();
}

void TCaptionShapeButton::SetCaptionGlyph(TGlyph glyph) {
  caption_glyph_ = std::move(glyph);
  update();
}

void TCaptionShapeButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int depth = shadow_depth_;
  const QRectF body(0.5, 0.5, width() - depth - 1.0, height() - depth - 1.0);
  const qreal radius = std::min(body.width(), body.height()) * kRounding;

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 90));
  painter.drawRoundedRect(body.translated(depth, depth), radius, radius);

  const QRectF face = isDown() ? body.translated(1, 1) : body;
  if (IsHovered() && HoverColor().isValid()) {
    painter.setBrush(HoverColor());
  } else {
    QLinearGradient fill(face.topLeft(), face.bottomLeft());
    fill.setColorAt(0, StartColor());
    fill.setColorAt(1, EndColor());
    painter.setBrush(fill);
  }
  painter.setPen(QPen(palette().color(QPalette::Shadow), 1));
  painter.drawRoundedRect(face, radius, radius);

  const bool has_glyph = !caption_glyph_.IsNull();
  const QSizeF g = has_glyph ? caption_glyph_.size : QSizeF();
  const qreal gap = has_glyph ? 4 : 0;
  const qreal text_width = fontMetrics().horizontalAdvance(text());
  const qreal left = face.center().x() - (g.width() + gap + text_width) / 2;
  if (has_glyph) caption_glyph_.Paint(painter, QPointF(left, face.center().y() - g.height() / 2));
  painter.setPen(palette().color(QPalette::ButtonText));
  painter.setFont(font());
  painter.drawText(QRectF(left + g.width() + gap, face.top(), text_width + 1, face.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, text());
  if (hasFocus()) PaintFocusFrame(painter, face, radius);
}

}  // namespace tarn
