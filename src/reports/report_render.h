// Draws laid-out pages with a QPainter: on screen, on paper, into PDF files
// and images. Sizes come from the device's resolution, so a page drawn on
// any device has its true size in millimetres.
#pragma once

#include <QImage>
#include <QPointF>

#include "reports/report_pages.h"

class QPainter;

namespace tarn {

// Draws `page` with its top-left corner at `origin` (device pixels).
// `px_per_mm` must match the device's own resolution, which sizes the fonts.
void PaintPage(QPainter& painter, const TReportPage& page, double px_per_mm,
               QPointF origin = {});

// The page as an image at `dpi`, white behind it; its size is the page's.
QImage RenderPage(const TReportDocument& document, int page_index, double dpi);

}  // namespace tarn
