// Plain text: each line of the page on a line of text, each text at the
// character column of its position on the page.
#include <cmath>

#include "reports/export_formats.h"

namespace tarn {
namespace {

class TTextExporter : public TBasicExporter {
 public:
  TTextExporter() : TBasicExporter(QStringLiteral("Text Document"), QStringLiteral("txt")) {
    AddInt(QStringLiteral("width"), QStringLiteral("Characters across the page"), 160, 40, 400);
    AddBool(QStringLiteral("formfeed"), QStringLiteral("Form feed between pages"), true);
    AddChoice(QStringLiteral("lineend"), QStringLiteral("Line ends"),
              {QStringLiteral("CR LF"), QStringLiteral("LF")}, 0);
  }

  void Write(const TReportDocument& document, const QString& path) const override {
    const double per_char = document.page_width / Value(QStringLiteral("width")).toInt();
    const QString eol = Value(QStringLiteral("lineend")).toInt() == 0 ? QStringLiteral("\r\n")
                                                                      : QStringLiteral("\n");
    QString out;
    for (size_t p = 0; p < document.pages.size(); ++p) {
      if (p > 0) out += Value(QStringLiteral("formfeed")).toBool() ? QStringLiteral("\f") : eol;
      for (const TTextRow& row : TextRows(document.pages[p])) {
        QString line;
        for (const TTextItem* cell : row.cells) {
          const QString text = cell->text;
          qsizetype column = std::lround(cell->rect.left() / per_char);
          if (cell->align == TAlign::kRight)
            column = std::lround(cell->rect.right() / per_char) - text.size();
          else if (cell->align == TAlign::kCenter)
            column = std::lround(cell->rect.center().x() / per_char) - text.size() / 2;
          // Never over the text before it: one blank at least between.
          column = std::max(column, line.isEmpty() ? 0 : line.size() + 1);
          line += QString(column - line.size(), QLatin1Char(' ')) + text;
        }
        out += line + eol;
      }
    }
    WriteFileBytes(path, out.toUtf8());
  }
};

}  // namespace

std::unique_ptr<TReportExporter> MakeTextExporter() { return std::make_unique<TTextExporter>(); }

}  // namespace tarn
