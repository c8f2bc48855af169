#include "kit/shape_button.h"

#include <QEnterEvent>
#include <QKeyEvent>
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
  setFocusPolicy(Qt::StrongFocus);
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

void TShapeButton::SetGlyph(TGlyph glyph) {
  glyph_ = std::move(glyph);
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

void TShapeButton::keyPressEvent(QKeyEvent* event) {
  // A focused button answers Enter as a push button does; in a dialog the
  // key would otherwise go to a default button these buttons never are.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && mods == Qt::NoModifier && !event->isAutoRepeat()) {
    click();
    return;
  }
  QAbstractButton::keyPressEvent(event);
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

  if (!glyph_.IsNull()) {
    const QSizeF g = glyph_.size;
    glyph_.Paint(painter, QPointF(face.center().x() - g.width() / 2,
                                  face.center().y() - g.height() / 2));
  }
  if (!text().isEmpty()) {
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(face, Qt::AlignCenter, text());
  }
  if (hasFocus()) PaintFocusFrame(painter, face, radius);
}

void PaintFocusFrame(QPainter& painter, const QRectF& face, qreal radius) {
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
  const QRectF inner = face.adjusted(2.5, 2.5, -2.5, -2.5);
  painter.drawRoundedRect(inner, std::max(0.0, radius - 2), std::max(0.0, radius - 2));
}

}  // namespace tarn
