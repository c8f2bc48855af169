// A band report: what to print, laid out in millimetres on A4 pages.
//
// A report has bands in the order they stack on a page: page header, title
// (first page only), column header (every page), one detail band per record
// of the bound dataset, page footer (at the foot of every page). Each band
// has a height, optional rules along its top and bottom edges, a background
// colour, controls placed from its top-left corner, and a hook run just
// before it prints that may change its captions and colours. Controls that
// grow (data-bound text marked Grows, rich text) stretch their band; a band
// taller than the room left continues on the next page between whole lines.
// Layout turns a report into pages (report_pages.h).
#pragma once

#include <QColor>
#include <QString>
#include <functional>
#include <vector>

namespace tarn {

class TReportDataset;

enum class TBandKind { kPageHeader, kTitle, kColumnHeader, kDetail, kPageFooter };
enum class TControlKind { kLabel, kDataText, kRichText, kSystemField };
enum class TSystemField { kReportTitle, kPageNumber, kDateTime };
enum class TAlign { kLeft, kCenter, kRight };

struct TReportFont {
  QString family = QStringLiteral("Arial");
  double points = 10;
  bool bold = false;
  bool italic = false;
};

struct TReportControl {
  QString name;
  TControlKind kind = TControlKind::kLabel;
  double left = 0, top = 0, width = 0, height = 0;  // mm from the band's corner
  TReportFont font;
  QColor color = Qt::black;     // text colour
  QColor background;            // invalid: transparent
  TAlign align = TAlign::kLeft;
  bool centre_in_band = false;  // label: centred across the band
  bool auto_size = false;       // label: as wide as its text (wrapped to the band)
  bool word_wrap = false;
  bool grows = false;           // data text: all lines, stretching the band
  QString caption;              // label caption, rich text content, field prefix
  QString field;                // data text: the dataset field
  TSystemField system = TSystemField::kReportTitle;
};

struct TReportBand;
using TBandHook = std::function<void(TReportBand&)>;

struct TReportBand {
  QString name;
  TBandKind kind = TBandKind::kDetail;
  double height = 10;
  bool rule_top = false;
  bool rule_bottom = false;
  QColor background = Qt::white;
  std::vector<TReportControl> controls;
  TBandHook before_print;

  TReportControl& Control(const QString& name);
};

struct TReport {
  QString title;
  bool landscape = false;
  double margin_left = 10, margin_top = 10, margin_right = 10, margin_bottom = 10;
  TReportFont base_font;
  bool header_on_first_page = true;
  bool footer_on_last_page = true;
  std::vector<TReportBand> bands;
  TReportDataset* dataset = nullptr;  // walked by the detail band; not owned
  std::function<void(TReport&)> before_report;  // once, when the report starts

  double PageWidth() const { return landscape ? 297.0 : 210.0; }
  double PageHeight() const { return landscape ? 210.0 : 297.0; }
  double BandWidth() const { return PageWidth() - margin_left - margin_right; }
  TReportBand& Band(const QString& name);
};

}  // namespace tarn
