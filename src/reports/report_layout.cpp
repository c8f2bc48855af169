#include "reports/report_layout.h"

#include <QFontMetricsF>
#include <QImage>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "app/date_formats.h"
#include "reports/report_dataset.h"

namespace tarn {
namespace {

// Text is measured on a fine grid so that widths hold at any output resolution.
constexpr double kMeasureDpi = 1200;
constexpr double kEps = 1e-6;

const QImage& MeasureDevice() {
  static const QImage device = [] {
    QImage image(4, 4, QImage::Format_RGB32);
    const int dpm = static_cast<int>(std::lround(kMeasureDpi / 0.0254));
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    return image;
  }();
  return device;
}

double PxToMm(double px) { return px * 25.4 / MeasureDevice().logicalDpiX(); }
double MmToPx(double mm) { return mm * MeasureDevice().logicalDpiX() / 25.4; }

QStringList Paragraphs(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return t.split(QLatin1Char('\n'));
}

// A band ready to place: items relative to its top-left corner.
struct TBandPiece {
  double height = 0;
  std::vector<TPageItem> items;
  bool HasText() const {
    return std::any_of(items.begin(), items.end(),
                       [](const TPageItem& i) { return std::holds_alternative<TTextItem>(i); });
  }
};

class TLayout {
 public:
  TLayout(TReport& report, const QDateTime& now) : report_(report), now_(now) {
    for (auto& band : report_.bands) {
      TReportBand*& slot = BandSlot(band.kind);
      if (!slot) slot = &band;
    }
  }

  TReportDocument Run() {
    if (report_.before_report) report_.before_report(report_);
    doc_.title = report_.title;
    doc_.page_width = report_.PageWidth();
    doc_.page_height = report_.PageHeight();
    bottom_ = doc_.page_height - report_.margin_bottom - (footer_ ? footer_->height : 0);

    StartPage(/*first=*/true);
    if (detail_ && report_.dataset) {
      TReportDataset& data = *report_.dataset;
      for (data.First(); !data.Eof(); data.Next()) Flow(Build(*detail_));
    }
    if (footer_) {
      const int count = static_cast<int>(doc_.pages.size());
      for (int i = 0; i < count; ++i) {
        if (i == count - 1 && count > 1 && !report_.footer_on_last_page) break;
        page_number_ = i + 1;
        Place(Build(*footer_), doc_.page_height - report_.margin_bottom - footer_->height,
              doc_.pages[i]);
      }
    }
    return std::move(doc_);
  }

 private:
  TReportBand*& BandSlot(TBandKind kind) {
    switch (kind) {
      case TBandKind::kPageHeader: return header_;
      case TBandKind::kTitle: return title_;
      case TBandKind::kColumnHeader: return column_header_;
      case TBandKind::kDetail: return detail_;
      case TBandKind::kPageFooter: return footer_;
    }
    return detail_;
  }

  void StartPage(bool first) {
    doc_.pages.emplace_back();
    page_number_ = static_cast<int>(doc_.pages.size());
    y_ = report_.margin_top;
    if (header_ && (!first || report_.header_on_first_page)) PlaceHere(Build(*header_));
    page_top_ = y_;
    if (first && title_) Flow(Build(*title_));
    if (column_header_) PlaceHere(Build(*column_header_));
    page_top_ = y_;
  }

  void Place(const TBandPiece& piece, double top, TReportPage& page) {
    const double dx = report_.margin_left;
    for (TPageItem item : piece.items) {
      std::visit(
          [&](auto& it) {
            using T = std::decay_t<decltype(it)>;
            if constexpr (std::is_same_v<T, TLineItem>) {
              it.from += QPointF(dx, top);
              it.to += QPointF(dx, top);
            } else {
              it.rect.translate(dx, top);
            }
          },
          item);
      page.items.push_back(std::move(item));
    }
  }

  void PlaceHere(const TBandPiece& piece) {
    Place(piece, y_, doc_.pages.back());
    y_ += piece.height;
  }

  // Places `piece`, going on to new pages, cut between lines, when it is too tall.
  void Flow(TBandPiece piece) {
    for (;;) {
      const double room = bottom_ - y_;
      if (piece.height <= room + kEps) return PlaceHere(piece);
      if (y_ > page_top_ + kEps) {  // a fresh page may hold it whole
        StartPage(false);
        continue;
      }
      auto [head, rest] = Cut(std::move(piece), room);
      PlaceHere(head);
      if (!rest.HasText()) return;  // only blank space would go on
      piece = std::move(rest);
      StartPage(false);
    }
  }

  // Cuts at the lowest height not above `room` that no line of text crosses.
  static std::pair<TBandPiece, TBandPiece> Cut(TBandPiece piece, double room) {
    double cut = std::max(room, 0.0);
    for (bool moved = true; moved;) {
      moved = false;
      for (const auto& item : piece.items)
        if (auto* t = std::get_if<TTextItem>(&item))
          if (t->rect.top() < cut - kEps && t->rect.bottom() > cut + kEps) {
            cut = t->rect.top();
            moved = true;
          }
    }
    // Cut only on a fresh page: at least one line goes on it, or no page
    // would ever hold it.
    double first_bottom = piece.height;
    bool placed = false;
    for (const auto& item : piece.items)
      if (auto* t = std::get_if<TTextItem>(&item)) {
        placed |= t->rect.top() < cut - kEps;
        first_bottom = std::min(first_bottom, t->rect.bottom());
      }
    if (!placed) cut = std::max(cut, first_bottom);
    TBandPiece head, rest;
    head.height = cut;
    rest.height = piece.height - cut;
    for (auto& item : piece.items) {
      if (auto* f = std::get_if<TFillItem>(&item)) {
        const QRectF upper = f->rect.intersected(QRectF(f->rect.left(), 0, f->rect.width(), cut));
        const QRectF lower = f->rect.intersected(
            QRectF(f->rect.left(), cut, f->rect.width(), piece.height - cut));
        if (!upper.isEmpty()) head.items.push_back(TFillItem{upper, f->color});
        if (!lower.isEmpty()) rest.items.push_back(TFillItem{lower.translated(0, -cut), f->color});
      } else if (auto* l = std::get_if<TLineItem>(&item)) {
        if (std::max(l->from.y(), l->to.y()) <= cut + kEps) {
          head.items.push_back(*l);
        } else {
          TLineItem moved_line = *l;
          moved_line.from.ry() -= cut;
          moved_line.to.ry() -= cut;
          rest.items.push_back(moved_line);
        }
      } else {
        auto& t = std::get<TTextItem>(item);
        if (t.rect.top() < cut - kEps) {
          head.items.push_back(t);
        } else {
          t.rect.translate(0, -cut);
          rest.items.push_back(t);
        }
      }
    }
    return {std::move(head), std::move(rest)};
  }

  QString TextOf(const TReportControl& c) const {
    switch (c.kind) {
      case TControlKind::kLabel:
      case TControlKind::kRichText: return c.caption;
      case TControlKind::kDataText:
        return report_.dataset ? report_.dataset->FieldText(c.field) : QString();
      case TControlKind::kSystemField:
        switch (c.system) {
          case TSystemField::kReportTitle: return c.caption + report_.title;
          case TSystemField::kPageNumber: return c.caption + QString::number(page_number_);
          case TSystemField::kDateTime: return c.caption + DateTimeText(now_);
        }
    }
    return {};
  }

  TBandPiece Build(TReportBand& band) {
    if (band.before_print) band.before_print(band);
    const double band_width = report_.BandWidth();
    TBandPiece piece;
    piece.height = band.height;
    std::vector<TPageItem> backgrounds, texts;

    for (const TReportControl& c : band.controls) {
      const QString text = TextOf(c);
      const double line = LineHeightMm(c.font);
      const bool grows =
          c.kind == TControlKind::kRichText || (c.kind == TControlKind::kDataText && c.grows);
      const bool sized = c.kind == TControlKind::kLabel && c.auto_size;
      double left = c.left;
      double width = c.width;
      std::vector<QString> lines;
      if (sized) {
        const double room = c.centre_in_band ? band_width : band_width - c.left;
        double widest = 0;
        for (const QString& p : Paragraphs(text)) widest = std::max(widest, TextWidthMm(c.font, p));
        width = std::min(widest, room);
        lines = WrapLines(c.font, text, width + kEps * 1000, c.word_wrap);
      } else {
        lines = WrapLines(c.font, text, width, c.word_wrap || grows);
      }
      if (c.centre_in_band) left = (band_width - width) / 2;
      double height = c.height;
      if (sized) {
        height = line * static_cast<double>(lines.size());
      } else if (grows) {
        height = std::max(c.height, line * static_cast<double>(lines.size()));
        const double below = std::max(0.0, band.height - c.top - c.height);
        piece.height = std::max(piece.height, c.top + height + below);
      } else {
        const auto fit = static_cast<size_t>(std::max(1.0, std::floor((c.height + kEps) / line)));
        if (lines.size() > fit) lines.resize(fit);
      }
      if (c.background.isValid() && c.background.alpha() > 0)
        backgrounds.push_back(TFillItem{QRectF(left, c.top, width, height), c.background});
      for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty()) continue;
        texts.push_back(TTextItem{QRectF(left, c.top + line * static_cast<double>(i), width, line),
                                  lines[i], c.font, c.color, c.align});
      }
    }
    if (band.background.isValid() && band.background.alpha() > 0)
      piece.items.push_back(TFillItem{QRectF(0, 0, band_width, piece.height), band.background});
    piece.items.insert(piece.items.end(), backgrounds.begin(), backgrounds.end());
    piece.items.insert(piece.items.end(), texts.begin(), texts.end());
    if (band.rule_top) piece.items.push_back(TLineItem{QPointF(0, 0), QPointF(band_width, 0)});
    if (band.rule_bottom)
      piece.items.push_back(
          TLineItem{QPointF(0, piece.height), QPointF(band_width, piece.height)});
    return piece;
  }

  TReport& report_;
  QDateTime now_;
  TReportDocument doc_;
  TReportBand* header_ = nullptr;
  TReportBand* title_ = nullptr;
  TReportBand* column_header_ = nullptr;
  TReportBand* detail_ = nullptr;
  TReportBand* footer_ = nullptr;
  double y_ = 0, page_top_ = 0, bottom_ = 0;
  int page_number_ = 0;
};

}  // namespace

QFont ToQFont(const TReportFont& font) {
  QFont q(font.family);
  q.setPointSizeF(font.points);
  q.setBold(font.bold);
  q.setItalic(font.italic);
  q.setHintingPreference(QFont::PreferNoHinting);
  return q;
}

double TextWidthMm(const TReportFont& font, const QString& text) {
  return PxToMm(QFontMetricsF(ToQFont(font), &MeasureDevice()).horizontalAdvance(text));
}

double LineHeightMm(const TReportFont& font) {
  return PxToMm(QFontMetricsF(ToQFont(font), &MeasureDevice()).lineSpacing());
}

QString CutToWidth(const TReportFont& font, const QString& text, double width) {
  const QFontMetricsF metrics(ToQFont(font), &MeasureDevice());
  const double limit = MmToPx(width) + 1e-3;
  if (metrics.horizontalAdvance(text) <= limit) return text;
  qsizetype lo = 0, hi = text.size();  // lo fits, hi does not
  while (hi - lo > 1) {
    const qsizetype mid = (lo + hi) / 2;
    (metrics.horizontalAdvance(text.left(mid)) <= limit ? lo : hi) = mid;
  }
  if (lo > 0 && text.at(lo - 1).isHighSurrogate()) --lo;
  return text.left(lo);
}

std::vector<QString> WrapLines(const TReportFont& font, const QString& text, double width,
                               bool word_wrap) {
  std::vector<QString> lines;
  const QFont q = ToQFont(font);
  for (const QString& paragraph : Paragraphs(text)) {
    if (!word_wrap || paragraph.isEmpty()) {
      lines.push_back(CutToWidth(font, paragraph, width));
      continue;
    }
    QTextLayout layout(paragraph, q, &MeasureDevice());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
      l.setLineWidth(MmToPx(width));
      QString part = paragraph.mid(l.textStart(), l.textLength());
      while (part.endsWith(QLatin1Char(' '))) part.chop(1);
      lines.push_back(CutToWidth(font, part, width));
    }
    layout.endLayout();
  }
  return lines;
}

TReportDocument LayOut(TReport& report, const QDateTime& now) {
  return TLayout(report, now).Run();
}

}  // namespace tarn
