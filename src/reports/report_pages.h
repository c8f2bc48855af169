// A laid-out report: pages of drawing items in millimetres from the page's
// top-left corner. Every output (preview, printer, report file, exports)
// draws from these pages, so they all show the same thing.
#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <variant>
#include <vector>

#include "reports/report.h"

namespace tarn {

struct TFillItem {
  QRectF rect;
  QColor color;
};

struct TLineItem {
  QPointF from, to;
  double width = 0.2;  // mm
  QColor color = Qt::black;
};

// One line of text, already cut to fit: never wrapped or split when drawn.
struct TTextItem {
  QRectF rect;  // the line's box; the text sits at its top
  QString text;
  TReportFont font;
  QColor color = Qt::black;
  TAlign align = TAlign::kLeft;
};

using TPageItem = std::variant<TFillItem, TLineItem, TTextItem>;

struct TReportPage {
  std::vector<TPageItem> items;
};

struct TReportDocument {
  QString title;
  double page_width = 210, page_height = 297;  // mm
  std::vector<TReportPage> pages;

  bool Landscape() const { return page_width > page_height; }
};

}  // namespace tarn
