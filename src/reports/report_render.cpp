#include "reports/report_render.h"

#include <QPainter>
#include <cmath>

#include "reports/report_layout.h"

namespace tarn {

void PaintPage(QPainter& painter, const TReportPage& page, double px_per_mm, QPointF origin) {
  auto px = [&](QPointF p) { return origin + p * px_per_mm; };
  auto rect = [&](const QRectF& r) {
    return QRectF(px(r.topLeft()), QSizeF(r.width(), r.height()) * px_per_mm);
  };
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  for (const TPageItem& item : page.items) {
    if (auto* f = std::get_if<TFillItem>(&item)) {
      painter.fillRect(rect(f->rect), f->color);
    } else if (auto* l = std::get_if<TLineItem>(&item)) {
      painter.setPen(QPen(l->color, std::max(1.0, l->width * px_per_mm)));
      painter.drawLine(px(l->from), px(l->to));
    } else {
      const auto& t = std::get<TTextItem>(item);
      painter.setFont(ToQFont(t.font));
      painter.setPen(t.color);
      const Qt::Alignment horizontal = t.align == TAlign::kRight    ? Qt::AlignRight
                                       : t.align == TAlign::kCenter ? Qt::AlignHCenter
                                                                    : Qt::AlignLeft;
      painter.drawText(rect(t.rect), static_cast<int>(horizontal | Qt::AlignTop) |
                                         Qt::TextSingleLine | Qt::TextDontClip,
                       t.text);
    }
  }
  painter.restore();
}

QImage RenderPage(const TReportDocument& document, int page_index, double dpi) {
  const double px_per_mm = dpi / 25.4;
  QImage image(static_cast<int>(std::lround(document.page_width * px_per_mm)),
               static_cast<int>(std::lround(document.page_height * px_per_mm)),
               QImage::Format_RGB32);
  const int dpm = static_cast<int>(std::lround(dpi / 0.0254));
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  image.fill(Qt::white);
  QPainter painter(&image);
  PaintPage(painter, document.pages.at(page_index), image.logicalDpiX() / 25.4);
  return image;
}

}  // namespace tarn
