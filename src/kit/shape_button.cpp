#include "kit/shape_button.h"

#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace tarn {

void SetHint(QWidget* widget, const QString& hint) {
  widget->setToolTip(hint);
  widget->setStatusTip(hint);
}

TShapeButton::TShapeButton(QWidget* parent) : QAbstractButton(parent) {
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
}

void TShapeButton::SetGradient(const QColor& start, const QColor& end) {
  start_ = start;
  end_ = end;
  update();
}

void TShapeButton::SetHoverColor(const QColor& color) {
  hover_ = color;
  update();
}

void TShapeButton::SetGlyph(const QPixmap& glyph) {
  glyph_ = glyph;
  update();
}

void TShapeButton::SetHint(const QString& hint) { tarn::SetHint(this, hint); }

QSize TShapeButton::sizeHint() const { return QSize(32, 22); }

void TShapeButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void TShapeButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void TShapeButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF body(0.5, 0.5, width() - kShadow - 1.0, height() - kShadow - 1.0);
  const qreal radius = std::min(body.width(), body.height()) * kRounding;

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0, 0, 0, 90));
  painter.drawRoundedRect(body.translated(kShadow, kShadow), radius, radius);

  const bool pressed = isDown();
  QRectF face = pressed ? body.translated(1, 1) : body;
  if (hovered_ && hover_.isValid()) {
    painter.setBrush(hover_);
  } else {
    QLinearGradient fill(face.topLeft(), face.bottomLeft());
    fill.setColorAt(0, start_);
    fill.setColorAt(1, end_);
    painter.setBrush(fill);
  }
  painter.setPen(QPen(palette().color(QPalette::Shadow), 1));
  painter.drawRoundedRect(face, radius, radius);

  if (!glyph_.isNull()) {
    const QSizeF g = glyph_.deviceIndependentSize();
    const QPointF at(face.center().x() - g.width() / 2, face.center().y() - g.height() / 2);
    painter.drawPixmap(at, glyph_);
  }
  if (!text().isEmpty()) {
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(face, Qt::AlignCenter, text());
  }
}

}  // namespace tarn
