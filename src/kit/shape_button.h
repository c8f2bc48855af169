// A button drawn as a rounded rectangle (corners rounded by 35 % of the
// shorter side) with a 2-pixel shadow, filled with a gradient from the start
// colour (top) to the end colour (bottom), a glyph centred on it and no
// caption by default. While the mouse is over it the fill turns the hover
// colour. It takes the keyboard focus (Tab) and Space or Enter presses it;
// the focus shows as a dotted frame inside the face. Its hint shows as a
// pop-up and in a hint status bar.
#pragma once

#include <QAbstractButton>
#include <QColor>

#include "kit/glyph.h"

namespace tarn {

class TShapeButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr double kRounding = 0.35;
  static constexpr int kShadow = 2;

  explicit TShapeButton(QWidget* parent = nullptr);

  void SetGradient(const QColor& start, const QColor& end);
  QColor StartColor() const { return start_; }
  QColor EndColor() const { return end_; }

  void SetHoverColor(const QColor& color);
  QColor HoverColor() const { return hover_; }
  bool IsHovered() const { return hovered_; }

  void SetGlyph(TGlyph glyph);
  void SetGlyph(const QPixmap& glyph) { SetGlyph(PixmapGlyph(glyph)); }
  const TGlyph& Glyph() const { return glyph_; }

  // Sets the pop-up hint and the status bar text together.
  void SetHint(const QString& hint);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QColor start_ = QColor(0xC0, 0xC0, 0xC0);  // silver
  QColor end_ = QColor(0x80, 0x80, 0x80);    // gray
  QColor hover_;                             // invalid: no hover colour
  TGlyph glyph_;
  bool hovered_ = false;
};

// The keyboard focus frame drawn inside a shape button's face.
void PaintFocusFrame(QPainter& painter, const QRectF& face, qreal radius);

// Sets a control's pop-up hint and status bar text.
void SetHint(QWidget* widget, const QString& hint);

}  // namespace tarn
