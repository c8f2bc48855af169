#include "generator/pw_glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace tarn {

QPixmap PWGlyph(TPWGlyph kind) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::black, 1));
  switch (kind) {
    case TPWGlyph::kFolder:
      p.setBrush(QColor(0xF0, 0xC8, 0x40));
      p.drawRect(QRectF(1.5, 4.5, 13, 9));
      p.drawRect(QRectF(1.5, 2.5, 5, 2));
      break;
    case TPWGlyph::kHelp: {
      p.setBrush(QColor(0x20, 0x60, 0xE0));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      QFont f = p.font();
      f.setBold(true);
      f.setPixelSize(11);
      p.setFont(f);
      p.setPen(Qt::white);
      p.drawText(QRectF(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
      break;
    }
    case TPWGlyph::kCopy:
      p.setBrush(Qt::white);
      p.drawRect(QRectF(1.5, 1.5, 9, 10));
      p.drawRect(QRectF(5.5, 4.5, 9, 10));
      break;
    case TPWGlyph::kTick: {
      QPainterPath tick;
      tick.moveTo(2, 8);
      tick.lineTo(6, 13);
      tick.lineTo(14, 3);
      p.setPen(QPen(QColor(0x00, 0xA0, 0x00), 3));
      p.drawPath(tick);
      break;
    }
  }
  return pixmap;
}

}  // namespace tarn
