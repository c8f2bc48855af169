#include "generator/pw_glyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace tarn {

TGlyph PWGlyph(TPWGlyph kind) {
  return {QSizeF(16, 16), [kind](QPainter& p) {
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
                // The question mark as strokes: a text glyph would hint to pixels.
                QPainterPath mark;
                mark.moveTo(5.8, 6.2);
                mark.cubicTo(5.8, 3.6, 10.4, 3.6, 10.4, 6.2);
                mark.cubicTo(10.4, 8.0, 8.0, 8.0, 8.0, 10.0);
                p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawPath(mark);
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                p.drawEllipse(QPointF(8.0, 12.3), 1.1, 1.1);
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
                p.setBrush(Qt::NoBrush);
                p.drawPath(tick);
                break;
              }
            }
          }};
}

}  // namespace tarn
