// Lays a report out into pages. Runs the report's start hook, then fills
// pages top to bottom: page header (from the first page unless turned off),
// title band on the first page, column header on every page, one detail band
// per record (the dataset is walked from First() to Eof() and left there),
// page footer at the foot of every page. A band that does not fit in the room
// left goes to the next page; one taller than a whole page is cut between
// lines of text and goes on, on the following pages. An empty report still
// has one page.
#pragma once

#include <QDateTime>
#include <QFont>
#include <QString>
#include <vector>

#include "reports/report.h"
#include "reports/report_pages.h"

namespace tarn {

// `now` is the moment the date-and-time field prints.
TReportDocument LayOut(TReport& report, const QDateTime& now);

// Text measuring in millimetres, the same for layout and every output.
QFont ToQFont(const TReportFont& font);
double TextWidthMm(const TReportFont& font, const QString& text);
double LineHeightMm(const TReportFont& font);
// The longest start of `text` that fits in `width` mm.
QString CutToWidth(const TReportFont& font, const QString& text, double width);
// Lines of `text` (CR LF, LF or CR break paragraphs) each fitting `width` mm:
// wrapped at word boundaries (inside a word only when it alone is too wide)
// when `word_wrap`, else each paragraph cut.
std::vector<QString> WrapLines(const TReportFont& font, const QString& text, double width,
                               bool word_wrap);

}  // namespace tarn
