// Windows metafiles of the report's pages, one file a page, drawn with
// vector records: filled rectangles, lines and text in the report's fonts.
//
// Enhanced metafile (.emf): logical units of 0.1 mm (the header's reference
// device is the page itself: szlDevice in 0.1 mm, szlMillimeters in mm).
// Records used: header (with the micrometre extension), SETBKMODE,
// SETTEXTALIGN, SETTEXTCOLOR, CREATEBRUSHINDIRECT, CREATEPEN,
// EXTCREATEFONTINDIRECTW, SELECTOBJECT, DELETEOBJECT, RECTANGLE, MOVETOEX,
// LINETO, EXTTEXTOUTW (with per-character advances), EOF.
//
// Windows metafile (.wmf): a placeable header (254 units per inch, so a
// unit is 0.1 mm), the standard header, then WINDOWORG/WINDOWEXT,
// SETBKMODE, SETTEXTALIGN, CREATEBRUSHINDIRECT, CREATEPENINDIRECT,
// CREATEFONTINDIRECT, SELECTOBJECT, DELETEOBJECT, RECTANGLE, MOVETO, LINETO,
// SETTEXTCOLOR, EXTTEXTOUT (Windows-1252 text), EOF.
#include <QFontMetricsF>
#include <QImage>
#include <QtEndian>
#include <algorithm>
#include <cmath>

#include "reports/export_formats.h"
#include "reports/report_layout.h"

namespace tarn {
namespace {

class TOut {
 public:
  void U8(uint8_t v) { b_.append(static_cast<char>(v)); }
  void U16(uint16_t v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  void I16(int v) { U16(static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767)))); }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void I32(int v) { U32(static_cast<uint32_t>(v)); }
  void F32(float v) { U32(std::bit_cast<uint32_t>(v)); }
  void Pad4() {
    while (b_.size() % 4) U8(0);
  }
  qsizetype Size() const { return b_.size(); }
  QByteArray& Data() { return b_; }
  void Patch32(qsizetype at, uint32_t v) { qToLittleEndian<uint32_t>(v, b_.data() + at); }
  void Patch16(qsizetype at, uint16_t v) { qToLittleEndian<uint16_t>(v, b_.data() + at); }

 private:
  QByteArray b_;
};

int Units(double mm) { return static_cast<int>(std::lround(mm * 10)); }
uint32_t ColorRef(const QColor& c) {
  return static_cast<uint32_t>(c.red() | (c.green() << 8) | (c.blue() << 16));
}
int FontHeight(const TReportFont& f) { return -Units(f.points * 25.4 / 72.0); }
uint16_t TextAlign(TAlign a) { return a == TAlign::kRight ? 2 : a == TAlign::kCenter ? 6 : 0; }
int AnchorX(const TTextItem& t) {
  return Units(t.align == TAlign::kRight    ? t.rect.right()
               : t.align == TAlign::kCenter ? t.rect.center().x()
                                            : t.rect.left());
}

// Per-character advances in 0.1 mm, rounded so that their sum keeps the width.
std::vector<int> Advances(const TTextItem& t) {
  std::vector<int> dx;
  double x = 0;
  int placed = 0;
  for (qsizetype i = 0; i < t.text.size(); ++i) {
    x += TextWidthMm(t.font, t.text.left(i + 1)) - TextWidthMm(t.font, t.text.left(i));
    const int next = Units(x);
    dx.push_back(next - placed);
    placed = next;
  }
  return dx;
}

class TEmf {
 public:
  explicit TEmf(const TReportDocument& doc) : doc_(doc) {}

  QByteArray Page(const TReportPage& page) {
    out_ = TOut();
    records_ = 0;
    const int w = Units(doc_.page_width), h = Units(doc_.page_height);
    Begin(1);
    for (int v : {0, 0, w - 1, h - 1}) out_.I32(v);                  // bounds
    for (int v : {0, 0, w * 10 - 1, h * 10 - 1}) out_.I32(v);        // frame, 0.01 mm
    out_.U32(0x464D4520);
    out_.U32(0x00010000);
    const qsizetype total_at = out_.Size();
    out_.U32(0);  // bytes, patched
    const qsizetype count_at = out_.Size();
    out_.U32(0);  // records, patched
    out_.U16(3);  // handles: the table slot 0 plus a brush or pen and a font
    out_.U16(0);
    out_.U32(0);
    out_.U32(0);
    out_.U32(0);
    out_.I32(w);
    out_.I32(h);
    out_.I32(Units(doc_.page_width) / 10);
    out_.I32(Units(doc_.page_height) / 10);
    out_.U32(0);
    out_.U32(0);
    out_.U32(0);
    out_.I32(static_cast<int>(std::lround(doc_.page_width * 1000)));
    out_.I32(static_cast<int>(std::lround(doc_.page_height * 1000)));
    End();
    Simple(18, {1});  // transparent text background
    for (const TPageItem& item : page.items) {
      if (auto* f = std::get_if<TFillItem>(&item)) {
        Begin(39);  // brush
        out_.U32(1);
        out_.U32(0);
        out_.U32(ColorRef(f->color));
        out_.U32(0);
        End();
        Simple(37, {1});
        Simple(37, {0x80000008});  // no outline
        Begin(43);
        out_.I32(Units(f->rect.left()));
        out_.I32(Units(f->rect.top()));
        out_.I32(Units(f->rect.right()) + 1);
        out_.I32(Units(f->rect.bottom()) + 1);
        End();
        Simple(37, {0x80000000});  // white brush back in, so ours can go
        Simple(40, {1});
      } else if (auto* l = std::get_if<TLineItem>(&item)) {
        Begin(38);
        out_.U32(1);
        out_.U32(0);
        out_.I32(std::max(1, Units(l->width)));
        out_.I32(0);
        out_.U32(ColorRef(l->color));
        End();
        Simple(37, {1});
        Simple(27, {static_cast<uint32_t>(Units(l->from.x())), static_cast<uint32_t>(Units(l->from.y()))});
        Simple(54, {static_cast<uint32_t>(Units(l->to.x())), static_cast<uint32_t>(Units(l->to.y()))});
        Simple(37, {0x80000007});  // black pen back in
        Simple(40, {1});
      } else {
        Text(std::get<TTextItem>(item));
      }
    }
    Begin(14);
    out_.U32(0);
    out_.U32(16);
    out_.U32(20);
    End();
    out_.Patch32(total_at, static_cast<uint32_t>(out_.Size()));
    out_.Patch32(count_at, records_);
    return out_.Data();
  }

 private:
  void Begin(uint32_t type) {
    start_ = out_.Size();
    out_.U32(type);
    out_.U32(0);
  }
  void End() {
    out_.Pad4();
    out_.Patch32(start_ + 4, static_cast<uint32_t>(out_.Size() - start_));
    ++records_;
  }
  void Simple(uint32_t type, std::initializer_list<uint32_t> values) {
    Begin(type);
    for (uint32_t v : values) out_.U32(v);
    End();
  }

  void Text(const TTextItem& t) {
    Begin(82);  // font
    out_.U32(2);
    out_.I32(FontHeight(t.font));
    out_.I32(0);
    out_.I32(0);
    out_.I32(0);
    out_.I32(t.font.bold ? 700 : 400);
    out_.U8(t.font.italic);
    out_.U8(0);
    out_.U8(0);
    out_.U8(1);  // default character set
    out_.U8(0);
    out_.U8(0);
    out_.U8(4);  // antialiased
    out_.U8(0);
    for (int i = 0; i < 32; ++i) out_.U16(i < t.font.family.size() ? t.font.family[i].unicode() : 0);
    End();
    Simple(37, {2});
    Simple(24, {ColorRef(t.color)});
    Simple(22, {TextAlign(t.align)});
    const std::vector<int> dx = Advances(t);
    Begin(84);
    const QRect box(Units(t.rect.left()), Units(t.rect.top()), Units(t.rect.width()),
                    Units(t.rect.height()));
    out_.I32(box.left());
    out_.I32(box.top());
    out_.I32(box.right());
    out_.I32(box.bottom());
    out_.U32(1);  // compatible graphics mode
    out_.F32(0);
    out_.F32(0);
    out_.I32(AnchorX(t));
    out_.I32(Units(t.rect.top()));
    out_.U32(static_cast<uint32_t>(t.text.size()));
    const uint32_t string_at = 76;
    const uint32_t dx_at = string_at + static_cast<uint32_t>((t.text.size() * 2 + 3) / 4 * 4);
    out_.U32(string_at);
    out_.U32(0);
    for (int i = 0; i < 4; ++i) out_.I32(0);
    out_.U32(dx_at);
    for (QChar c : t.text) out_.U16(c.unicode());
    out_.Pad4();
    for (int d : dx) out_.I32(d);
    End();
    Simple(37, {0x8000000D});  // system font back in, so ours can go
    Simple(40, {2});
  }

  const TReportDocument& doc_;
  TOut out_;
  qsizetype start_ = 0;
  uint32_t records_ = 0;
};

QByteArray Latin(const QString& text) {
  QByteArray out;
  for (QChar c : text) out.append(c.unicode() < 0x100 ? static_cast<char>(c.unicode()) : '?');
  return out;
}

class TWmf {
 public:
  explicit TWmf(const TReportDocument& doc) : doc_(doc) {}

  QByteArray Page(const TReportPage& page) {
    out_ = TOut();
    max_record_ = 0;
    const int w = Units(doc_.page_width), h = Units(doc_.page_height);
    // Placeable header.
    out_.U32(0x9AC6CDD7);
    out_.U16(0);
    out_.I16(0);
    out_.I16(0);
    out_.I16(w);
    out_.I16(h);
    out_.U16(254);
    out_.U32(0);
    uint16_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum ^= qFromLittleEndian<uint16_t>(out_.Data().constData() + i);
    out_.U16(sum);
    // Standard header.
    const qsizetype head = out_.Size();
    out_.U16(1);
    out_.U16(9);
    out_.U16(0x0300);
    out_.U32(0);  // size in words, patched
    out_.U16(2);  // objects
    out_.U32(0);  // largest record, patched
    out_.U16(0);
    Record(0x020B, {0, 0});
    Record(0x020C, {static_cast<uint16_t>(h), static_cast<uint16_t>(w)});
    Record(0x0102, {1, 0});
    for (const TPageItem& item : page.items) {
      if (auto* f = std::get_if<TFillItem>(&item)) {
        const uint32_t c = ColorRef(f->color);
        Record(0x02FC, {0, static_cast<uint16_t>(c & 0xFFFF), static_cast<uint16_t>(c >> 16), 0});
        Record(0x02FA, {5, 0, 0, 0, 0});  // no outline
        Record(0x012D, {0});
        Record(0x012D, {1});
        Record(0x041B, {U(Units(f->rect.bottom()) + 1), U(Units(f->rect.right()) + 1),
                        U(Units(f->rect.top())), U(Units(f->rect.left()))});
        Record(0x01F0, {0});
        Record(0x01F0, {1});
      } else if (auto* l = std::get_if<TLineItem>(&item)) {
        const uint32_t c = ColorRef(l->color);
        Record(0x02FA, {0, U(std::max(1, Units(l->width))), 0, static_cast<uint16_t>(c & 0xFFFF),
                        static_cast<uint16_t>(c >> 16)});
        Record(0x012D, {0});
        Record(0x0214, {U(Units(l->from.y())), U(Units(l->from.x()))});
        Record(0x0213, {U(Units(l->to.y())), U(Units(l->to.x()))});
        Record(0x01F0, {0});
      } else {
        Text(std::get<TTextItem>(item));
      }
    }
    Record(0x0000, {});
    out_.Patch32(head + 6, static_cast<uint32_t>((out_.Size() - head) / 2));
    out_.Patch32(head + 12, max_record_);
    return out_.Data();
  }

 private:
  static uint16_t U(int v) { return static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, -32768, 32767))); }

  void Record(uint16_t function, std::vector<uint16_t> words) {
    const uint32_t size = 3 + static_cast<uint32_t>(words.size());
    out_.U32(size);
    out_.U16(function);
    for (uint16_t w : words) out_.U16(w);
    max_record_ = std::max(max_record_, size);
  }

  void Text(const TTextItem& t) {
    std::vector<uint16_t> font;
    font.push_back(U(FontHeight(t.font)));
    font.push_back(0);
    font.push_back(0);
    font.push_back(0);
    font.push_back(t.font.bold ? 700 : 400);
    font.push_back(static_cast<uint16_t>(t.font.italic ? 1 : 0));  // italic, underline
    font.push_back(0);                                             // strike out, ANSI set
    font.push_back(0);                                             // precisions
    font.push_back(0x0004);                                        // antialiased quality, pitch
    QByteArray face = Latin(t.font.family).left(31);
    face.append('\0');
    if (face.size() % 2) face.append('\0');
    for (qsizetype i = 0; i < face.size(); i += 2)
      font.push_back(static_cast<uint16_t>(static_cast<uint8_t>(face[i]) |
                                           (static_cast<uint8_t>(face[i + 1]) << 8)));
    Record(0x02FB, font);
    Record(0x012D, {0});
    const uint32_t c = ColorRef(t.color);
    Record(0x0209, {static_cast<uint16_t>(c & 0xFFFF), static_cast<uint16_t>(c >> 16)});
    Record(0x012E, {TextAlign(t.align), 0});
    QByteArray text = Latin(t.text);
    const std::vector<int> dx = Advances(t);
    std::vector<uint16_t> words{U(Units(t.rect.top())), U(AnchorX(t)),
                                static_cast<uint16_t>(text.size()), 0};
    if (text.size() % 2) text.append('\0');
    for (qsizetype i = 0; i < text.size(); i += 2)
      words.push_back(static_cast<uint16_t>(static_cast<uint8_t>(text[i]) |
                                            (static_cast<uint8_t>(text[i + 1]) << 8)));
    for (int d : dx) words.push_back(U(d));
    Record(0x0A32, words);
    Record(0x01F0, {0});
  }

  const TReportDocument& doc_;
  TOut out_;
  uint32_t max_record_ = 0;
};

class TMetafileExporter : public TBasicExporter {
 public:
  explicit TMetafileExporter(bool enhanced)
      : TBasicExporter(enhanced ? QStringLiteral("Enhanced Metafile")
                                : QStringLiteral("Windows Metafile"),
                       enhanced ? QStringLiteral("emf") : QStringLiteral("wmf")),
        enhanced_(enhanced) {
    AddChoice(QStringLiteral("pages"), QStringLiteral("Pages"),
              {QStringLiteral("Every page, a file each"), QStringLiteral("First page only")}, 0);
    AddBool(QStringLiteral("backgrounds"), QStringLiteral("Background colours"), true);
  }

  void Write(const TReportDocument& document, const QString& path) const override {
    const int count = Value(QStringLiteral("pages")).toInt() == 1
                          ? std::min<int>(1, static_cast<int>(document.pages.size()))
                          : static_cast<int>(document.pages.size());
    const QStringList paths = PagePaths(path, count);
    const bool backgrounds = Value(QStringLiteral("backgrounds")).toBool();
    for (int i = 0; i < count; ++i) {
      TReportPage page;
      for (const TPageItem& item : document.pages[i].items)
        if (backgrounds || !std::holds_alternative<TFillItem>(item)) page.items.push_back(item);
      WriteFileBytes(paths[i], enhanced_ ? TEmf(document).Page(page) : TWmf(document).Page(page));
    }
  }

 private:
  bool enhanced_;
};

}  // namespace

std::unique_ptr<TReportExporter> MakeMetafileExporter(bool enhanced) {
  return std::make_unique<TMetafileExporter>(enhanced);
}

}  // namespace tarn
