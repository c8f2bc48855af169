#include "app/main_icons.h"

#include <QPainter>
#include <QPainterPath>

#include "kit/glyph.h"

namespace tarn {
namespace {

void Palette(QPainter& p) {  // 0: colours
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(0xF0, 0xD8, 0xA8));
  p.drawEllipse(QRectF(1.5, 2.5, 13, 11));
  const QColor dots[] = {Qt::red, QColor(0, 0xA0, 0), Qt::blue, QColor(0xE0, 0xC0, 0)};
  const QPointF at[] = {{5, 6}, {8.5, 5}, {11.5, 7}, {10, 10.5}};
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    p.setBrush(dots[i]);
    p.drawEllipse(at[i], 1.5, 1.5);
  }
}

void Globe(QPainter& p) {  // 1: version check
  p.setPen(QPen(QColor(0, 0x40, 0xA0), 1));
  p.setBrush(QColor(0xA0, 0xD0, 0xFF));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(5, 1.5, 6, 13));
  p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
}

void Info(QPainter& p) {  // 2: about, hints
  p.setPen(QPen(QColor(0, 0x30, 0x90), 1));
  p.setBrush(QColor(0x30, 0x70, 0xE0));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8, 7), QPointF(8, 12));
  p.drawPoint(QPointF(8, 4.5));
}

void Key(QPainter& p, const QColor& colour) {  // 4: change the start-up password
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(colour);
  p.drawEllipse(QRectF(1.5, 4.5, 7, 7));
  p.drawRect(QRectF(8.5, 7, 6, 2));
  p.drawRect(QRectF(11.5, 9, 1.5, 2.5));
}

void Window(QPainter& p) {  // 6: splash screen
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(1.5, 2.5, 13, 11));
  p.setBrush(QColor(0, 0, 0x80));
  p.drawRect(QRectF(1.5, 2.5, 13, 3));
}

void Padlock(QPainter& p) {  // 7: a start-up password is set
  p.setPen(QPen(Qt::black, 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
  p.drawLine(QPointF(4.5, 6), QPointF(4.5, 8));
  p.drawLine(QPointF(11.5, 6), QPointF(11.5, 8));
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(0xE0, 0xB0, 0x20));
  p.drawRect(QRectF(2.5, 7.5, 11, 7));
}

void Cross(QPainter& p) {  // 11: delete
  p.setPen(QPen(QColor(0xD0, 0, 0), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3, 3), QPointF(13, 13));
  p.drawLine(QPointF(13, 3), QPointF(3, 13));
}

void Book(QPainter& p) {  // 16: beginners
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(0x20, 0x90, 0x40));
  p.drawRect(QRectF(2.5, 1.5, 11, 13));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(4.5, 3.5, 7, 3));
}

void UpArrow(QPainter& p) {  // 19: upgrade
  QPainterPath arrow;
  arrow.moveTo(8, 1.5);
  arrow.lineTo(14.5, 8);
  arrow.lineTo(10.5, 8);
  arrow.lineTo(10.5, 14.5);
  arrow.lineTo(5.5, 14.5);
  arrow.lineTo(5.5, 8);
  arrow.lineTo(1.5, 8);
  arrow.closeSubpath();
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(QColor(0, 0xA0, 0));
  p.drawPath(arrow);
}

}  // namespace

QIcon MainIcon(int index) {
  std::function<void(QPainter&)> draw;
  switch (index) {
    case 0: draw = Palette; break;
    case 1: draw = Globe; break;
    case 2: draw = Info; break;
    case 4: draw = [](QPainter& p) { Key(p, QColor(0xE0, 0xB0, 0x20)); }; break;
    case 6: draw = Window; break;
    case 7: draw = Padlock; break;
    case 11: draw = Cross; break;
    case 16: draw = Book; break;
    case 19: draw = UpArrow; break;
    default: return QIcon();
  }
  return GlyphIcon({QSizeF(16, 16), std::move(draw)});
}

}  // namespace tarn
