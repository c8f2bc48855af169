#include "help/help_glyphs.h"

#include <QPainter>
#include <QPen>

namespace tarn {

QPixmap HelpGlyph(THelpGlyph kind) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  switch (kind) {
    case THelpGlyph::kCopy:
      // Two sheets, the front one with lines of text.
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 1.5, 8, 10));
      p.drawRect(QRectF(6.5, 4.5, 8, 10));
      for (int y = 7; y <= 12; y += 2) p.drawLine(QPointF(8.5, y + 0.5), QPointF(12.5, y + 0.5));
      break;
    case THelpGlyph::kPrint:
      // A printer with a sheet coming out.
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 1.5, 7, 5));
      p.setBrush(QColor(0x80, 0x80, 0x80));
      p.drawRect(QRectF(1.5, 6.5, 13, 6));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4.5, 10.5, 7, 4));
      break;
    case THelpGlyph::kClose:
      // A door with a red cross.
      p.setBrush(QColor(0xC0, 0xC0, 0xC0));
      p.drawRect(QRectF(2.5, 1.5, 8, 13));
      p.setPen(QPen(QColor(0xFF, 0, 0), 2));
      p.drawLine(QPointF(8, 6), QPointF(14, 12));
      p.drawLine(QPointF(14, 6), QPointF(8, 12));
      break;
  }
  return pixmap;
}

}  // namespace tarn
