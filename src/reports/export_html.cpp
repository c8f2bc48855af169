// HTML and XHTML: each page a box of the page's size in millimetres, every
// fill, rule and line of text placed in it where it is on the page. XHTML
// is the same page as well-formed XML (XHTML 1.0 Strict).
#include <QColor>

#include "reports/export_formats.h"

namespace tarn {
namespace {

QString Mm(double v) { return QString::number(v, 'f', 2) + QStringLiteral("mm"); }

QString Escape(const QString& text) {
  QString out = text.toHtmlEscaped();
  out.replace(QLatin1Char('\''), QStringLiteral("&#39;"));
  return out;
}

class THtmlExporter : public TBasicExporter {
 public:
  explicit THtmlExporter(bool xhtml)
      : TBasicExporter(xhtml ? QStringLiteral("XHTML Document") : QStringLiteral("HTML Document"),
                       QStringLiteral("htm")),
        xhtml_(xhtml) {
    AddText(QStringLiteral("title"), QStringLiteral("Page title (empty: the report's)"), {});
    AddBool(QStringLiteral("colours"), QStringLiteral("Background colours and rules"), true);
    AddBool(QStringLiteral("separate"), QStringLiteral("Space between pages"), true);
  }

  void Write(const TReportDocument& document, const QString& path) const override {
    QString title = Value(QStringLiteral("title")).toString();
    if (title.isEmpty()) title = document.title;
    const bool colours = Value(QStringLiteral("colours")).toBool();
    const QString gap = Value(QStringLiteral("separate")).toBool() ? QStringLiteral("8mm")
                                                                   : QStringLiteral("0");
    QString out;
    if (xhtml_) {
      out += QStringLiteral(
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
          "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n"
          "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n<head>\n"
          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\" />\n");
    } else {
      out += QStringLiteral(
          "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"UTF-8\">\n");
    }
    out += QStringLiteral("<title>%1</title>\n<style type=\"text/css\">\n").arg(Escape(title));
    out += QStringLiteral(
               "body { background: #808080; margin: 0; padding: 4mm; }\n"
               "div.page { position: relative; background: #ffffff; overflow: hidden; "
               "margin: 0 auto %3 auto; width: %1; height: %2; }\n"
               "div.page div { position: absolute; margin: 0; padding: 0; }\n"
               "div.t { white-space: pre; overflow: hidden; }\n"
               "@media print { body { background: none; padding: 0; } "
               "div.page { margin: 0; page-break-after: always; } }\n")
               .arg(Mm(document.page_width), Mm(document.page_height), gap);
    out += QStringLiteral("</style>\n</head>\n<body>\n");
    const QString close = xhtml_ ? QStringLiteral("</div>") : QStringLiteral("</div>");
    for (size_t p = 0; p < document.pages.size(); ++p) {
      out += QStringLiteral("<div class=\"page\" id=\"page%1\">\n").arg(p + 1);
      for (const TPageItem& item : document.pages[p].items) {
        if (auto* f = std::get_if<TFillItem>(&item)) {
          if (!colours) continue;
          out += QStringLiteral(
                     "<div style=\"left:%1;top:%2;width:%3;height:%4;background:%5\">%6\n")
                     .arg(Mm(f->rect.left()), Mm(f->rect.top()), Mm(f->rect.width()),
                          Mm(f->rect.height()), f->color.name(), close);
        } else if (auto* l = std::get_if<TLineItem>(&item)) {
          if (!colours) continue;
          const QRectF r = QRectF(l->from, l->to).normalized();
          out += QStringLiteral(
                     "<div style=\"left:%1;top:%2;width:%3;height:0;border-top:%4 solid %5\">%6\n")
                     .arg(Mm(r.left()), Mm(r.top() - l->width / 2), Mm(r.width()), Mm(l->width),
                          l->color.name(), close);
        } else {
          const auto& t = std::get<TTextItem>(item);
          const char* align = t.align == TAlign::kRight    ? "right"
                              : t.align == TAlign::kCenter ? "center"
                                                           : "left";
          out += QStringLiteral(
                     "<div class=\"t\" style=\"left:%1;top:%2;width:%3;height:%4;"
                     "font-family:'%5',Arial,sans-serif;font-size:%6pt;font-weight:%7;"
                     "font-style:%8;color:%9;text-align:%10;line-height:%4\">%11%12\n")
                     .arg(Mm(t.rect.left()), Mm(t.rect.top()), Mm(t.rect.width()),
                          Mm(t.rect.height()), Escape(t.font.family),
                          QString::number(t.font.points, 'g', 4),
                          t.font.bold ? QStringLiteral("bold") : QStringLiteral("normal"),
                          t.font.italic ? QStringLiteral("italic") : QStringLiteral("normal"),
                          t.color.name(), QString::fromLatin1(align))
                     .arg(Escape(t.text), close);
        }
      }
      out += QStringLiteral("</div>\n");
    }
    out += QStringLiteral("</body>\n</html>\n");
    WriteFileBytes(path, out.toUtf8());
  }

 private:
  bool xhtml_;
};

}  // namespace

std::unique_ptr<TReportExporter> MakeHtmlExporter(bool xhtml) {
  return std::make_unique<THtmlExporter>(xhtml);
}

}  // namespace tarn
