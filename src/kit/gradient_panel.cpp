#include "kit/gradient_panel.h"

#include <QPainter>
#include <QPolygon>

namespace tarn {

TGradientPanel::TGradientPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TGradientPanel::SetStartColor(const QColor& color) {
  start_ = color;
  update();
}

void TGradientPanel::SetEndColor(const QColor& color) {
  end_ = color;
  update();
}

void TGradientPanel::SetColors(const QColor& start, const QColor& end) {
  start_ = start;
  end_ = end;
  update();
}

void TGradientPanel::SetCaption(const QString& caption) {
  caption_ = caption;
  update();
}

QColor TGradientPanel::StepColor(int step) const {
  const int last = kColorSteps - 1;
  auto mix = [&](int a, int b) { return a + (b - a) * step / last; };
  return QColor(mix(start_.red(), end_.red()), mix(start_.green(), end_.green()),
                mix(start_.blue(), end_.blue()));
}

void TGradientPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int w = width();
  const int h = height();
  // Bands run perpendicular to the diagonal: a point's band follows its
  // distance from the top-right corner, measured as (w - 1 - x) + y.
  const int span = w + h;
  painter.setPen(Qt::NoPen);
  for (int step = 0; step < kColorSteps; ++step) {
    const int from = span * step / kColorSteps;
    const int to = span * (step + 1) / kColorSteps;
    if (to <= from) continue;
    // The band {from <= (w - x) + y < to}, as a polygon clipped by the widget.
    QPolygon band;
    band << QPoint(w - from, 0) << QPoint(w - to, 0) << QPoint(w - to + h, h)
         << QPoint(w - from + h, h);
    painter.setBrush(StepColor(step));
    painter.drawPolygon(band);
  }

  // Outer frame raised, inner frame lowered.
  const QColor light = palette().color(QPalette::Light);
  const QColor dark = palette().color(QPalette::Dark);
  auto frame = [&](QRect r, const QColor& top_left, const QColor& bottom_right) {
    painter.setPen(top_left);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(bottom_right);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
  };
  const QRect outer = rect();
  frame(outer, light, dark);
  frame(outer.adjusted(kBevelWidth, kBevelWidth, -kBevelWidth, -kBevelWidth), dark, light);

  if (!caption_.isEmpty()) {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, caption_);
  }
}

}  // namespace tarn
