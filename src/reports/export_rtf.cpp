// Rich Text Format: the page's lines of text as paragraphs at their
// distances from the top, each text at a tab stop where it stands on the
// page (right-aligned texts at right tab stops), a page break between pages;
// the paper is A4 in the report's orientation.
#include <QColor>
#include <algorithm>
#include <cmath>
#include <map>

#include "reports/export_formats.h"

namespace tarn {
namespace {

int Twips(double mm) { return static_cast<int>(std::lround(mm * 1440.0 / 25.4)); }

QString RtfText(const QString& text) {
  QString out;
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == '\\' || u == '{' || u == '}') {
      out += QLatin1Char('\\');
      out += c;
    } else if (u == '\t') {
      out += QStringLiteral("\\tab ");
    } else if (u >= 0x20 && u < 0x80) {
      out += c;
    } else {
      out += QStringLiteral("\\u%1?").arg(static_cast<int16_t>(u));
    }
  }
  return out;
}

class TRtfExporter : public TBasicExporter {
 public:
  TRtfExporter() : TBasicExporter(QStringLiteral("Rich Text Format"), QStringLiteral("rtf")) {
    AddBool(QStringLiteral("pagebreaks"), QStringLiteral("A new page for every page"), true);
    AddBool(QStringLiteral("colours"), QStringLiteral("Text colours"), true);
    AddBool(QStringLiteral("spacing"), QStringLiteral("Keep the distances between lines"), true);
  }

  void Write(const TReportDocument& document, const QString& path) const override {
    const bool colours = Value(QStringLiteral("colours")).toBool();
    const bool spacing = Value(QStringLiteral("spacing")).toBool();
    // Margins: where the report's text begins, so that tab stops count from there.
    double left = document.page_width, top = document.page_height;
    std::map<QString, int> fonts;
    std::map<QRgb, int> colour_index;
    for (const auto& page : document.pages)
      for (const auto& item : page.items)
        if (auto* t = std::get_if<TTextItem>(&item)) {
          left = std::min(left, t->rect.left());
          top = std::min(top, t->rect.top());
          fonts.emplace(t->font.family, static_cast<int>(fonts.size()));
          colour_index.emplace(t->color.rgb(), static_cast<int>(colour_index.size()) + 1);
        }
    left = std::clamp(left, 0.0, 50.0);
    top = std::clamp(top, 0.0, 50.0);

    QString out = QStringLiteral("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl");
    for (const auto& [family, index] : fonts)
      out += QStringLiteral("{\\f%1\\fswiss %2;}").arg(index).arg(RtfText(family));
    out += QStringLiteral("}\n{\\colortbl;");
    std::vector<std::pair<int, QRgb>> ordered;
    for (const auto& [rgb, index] : colour_index) ordered.emplace_back(index, rgb);
    std::sort(ordered.begin(), ordered.end());
    for (const auto& [index, rgb] : ordered)
      out += QStringLiteral("\\red%1\\green%2\\blue%3;").arg(qRed(rgb)).arg(qGreen(rgb)).arg(qBlue(rgb));
    out += QStringLiteral("}\n{\\info{\\title %1}}\n").arg(RtfText(document.title));
    out += QStringLiteral("\\paperw%1\\paperh%2\\margl%3\\margr%4\\margt%5\\margb%6%7\n")
               .arg(Twips(document.page_width))
               .arg(Twips(document.page_height))
               .arg(Twips(left))
               .arg(Twips(5))
               .arg(Twips(top))
               .arg(Twips(5))
               .arg(document.Landscape() ? QStringLiteral("\\landscape") : QString());

    for (size_t p = 0; p < document.pages.size(); ++p) {
      if (p > 0 && Value(QStringLiteral("pagebreaks")).toBool()) out += QStringLiteral("\\page\n");
      double y = top;
      for (const TTextRow& row : TextRows(document.pages[p])) {
        out += QStringLiteral("\\pard\\plain");
        if (spacing && row.top > y) out += QStringLiteral("\\sb%1").arg(Twips(row.top - y));
        out += QStringLiteral("\\sl-%1").arg(Twips(row.bottom - row.top));
        y = row.bottom;
        QString body;
        for (size_t c = 0; c < row.cells.size(); ++c) {
          const TTextItem& t = *row.cells[c];
          const double x = t.align == TAlign::kRight    ? t.rect.right()
                           : t.align == TAlign::kCenter ? t.rect.center().x()
                                                        : t.rect.left();
          if (x - left > 0.2) {
            out += t.align == TAlign::kRight    ? QStringLiteral("\\tqr")
                   : t.align == TAlign::kCenter ? QStringLiteral("\\tqc")
                                                : QString();
            out += QStringLiteral("\\tx%1").arg(Twips(x - left));
            body += QStringLiteral("\\tab");
          }
          body += QStringLiteral("{\\f%1\\fs%2%3%4%5 %6}")
                      .arg(fonts[t.font.family])
                      .arg(static_cast<int>(std::lround(t.font.points * 2)))
                      .arg(t.font.bold ? QStringLiteral("\\b") : QString())
                      .arg(t.font.italic ? QStringLiteral("\\i") : QString())
                      .arg(colours ? QStringLiteral("\\cf%1").arg(colour_index[t.color.rgb()])
                                   : QString())
                      .arg(RtfText(t.text));
        }
        out += QLatin1Char(' ') + body + QStringLiteral("\\par\n");
      }
    }
    out += QStringLiteral("}\n");
    WriteFileBytes(path, out.toLatin1());
  }
};

}  // namespace

std::unique_ptr<TReportExporter> MakeRtfExporter() { return std::make_unique<TRtfExporter>(); }

}  // namespace tarn
