// Report file layout, all integers little-endian, reals IEEE-754 doubles:
//
//   header (16 bytes)
//     0  4  magic "TRP" 0x1A
//     4  2  format version (1)
//     6  2  reserved, 0
//     8  4  body length in bytes
//    12  4  CRC-32 (zlib) of the body
//   body
//     string title; f64 page width mm; f64 page height mm; u32 page count;
//     per page: u32 item count; per item: u8 kind, then
//       1 fill:  rect; u32 colour
//       2 line:  f64 x1, y1, x2, y2; f64 width mm; u32 colour
//       3 text:  rect; string text; string font family; f64 points;
//                u8 style (bit 0 bold, bit 1 italic); u32 colour;
//                u8 alignment (0 left, 1 centre, 2 right)
//   rect = f64 left, top, width, height (mm); colour = 0xAARRGGBB;
//   string = u32 byte length, then UTF-8 bytes.
//
// A reader of version 1 refuses higher versions. Nothing after the body.
#include "reports/report_file.h"

#include <QFile>
#include <QSaveFile>
#include <bit>
#include <cmath>
#include <cstring>
#include <zlib.h>

namespace tarn {
namespace {

constexpr char kMagic[4] = {'T', 'R', 'P', 0x1A};
constexpr size_t kHeaderSize = 16;
constexpr double kMaxMm = 10000;

class TWriter {
 public:
  void U8(uint8_t v) { bytes_.append(static_cast<char>(v)); }
  void U16(uint16_t v) { Raw(v, 2); }
  void U32(uint32_t v) { Raw(v, 4); }
  void F64(double v) { Raw(std::bit_cast<uint64_t>(v), 8); }
  void Str(const QString& s) {
    const QByteArray utf8 = s.toUtf8();
    U32(static_cast<uint32_t>(utf8.size()));
    bytes_.append(utf8);
  }
  void Rect(const QRectF& r) {
    F64(r.left());
    F64(r.top());
    F64(r.width());
    F64(r.height());
  }
  QByteArray& Bytes() { return bytes_; }

 private:
  void Raw(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_.append(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  QByteArray bytes_;
};

[[noreturn]] void Damaged(const char* what) {
  throw EReportFileError(std::string("The report file is damaged (") + what + ").");
}

class TReader {
 public:
  TReader(const char* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return static_cast<uint8_t>(Raw(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Raw(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Raw(4)); }
  double F64() { return std::bit_cast<double>(Raw(8)); }
  double Mm() {
    const double v = F64();
    if (!std::isfinite(v) || std::fabs(v) > kMaxMm) Damaged("a position is out of range");
    return v;
  }
  QString Str() {
    const uint32_t n = U32();
    if (n > Left()) Damaged("a text runs past the end");
    QString s = QString::fromUtf8(data_ + pos_, n);
    pos_ += n;
    return s;
  }
  QRectF Rect() {
    const double l = Mm(), t = Mm(), w = Mm(), h = Mm();
    return QRectF(l, t, w, h);
  }
  size_t Left() const { return size_ - pos_; }

 private:
  uint64_t Raw(int n) {
    if (Left() < static_cast<size_t>(n)) Damaged("it ends too early");
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t(static_cast<uint8_t>(data_[pos_ + i])) << (8 * i);
    pos_ += n;
    return v;
  }
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
};

uint32_t Crc(const char* data, size_t size) {
  return static_cast<uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

}  // namespace

QByteArray EncodeReportFile(const TReportDocument& document) {
  TWriter body;
  body.Str(document.title);
  body.F64(document.page_width);
  body.F64(document.page_height);
  body.U32(static_cast<uint32_t>(document.pages.size()));
  for (const TReportPage& page : document.pages) {
    body.U32(static_cast<uint32_t>(page.items.size()));
    for (const TPageItem& item : page.items) {
      if (auto* f = std::get_if<TFillItem>(&item)) {
        body.U8(1);
        body.Rect(f->rect);
        body.U32(f->color.rgba());
      } else if (auto* l = std::get_if<TLineItem>(&item)) {
        body.U8(2);
        body.F64(l->from.x());
        body.F64(l->from.y());
        body.F64(l->to.x());
        body.F64(l->to.y());
        body.F64(l->width);
        body.U32(l->color.rgba());
      } else {
        const auto& t = std::get<TTextItem>(item);
        body.U8(3);
        body.Rect(t.rect);
        body.Str(t.text);
        body.Str(t.font.family);
        body.F64(t.font.points);
        body.U8((t.font.bold ? 1 : 0) | (t.font.italic ? 2 : 0));
        body.U32(t.color.rgba());
        body.U8(static_cast<uint8_t>(t.align));
      }
    }
  }
  TWriter file;
  for (char c : kMagic) file.U8(static_cast<uint8_t>(c));
  file.U16(kReportFileVersion);
  file.U16(0);
  file.U32(static_cast<uint32_t>(body.Bytes().size()));
  file.U32(Crc(body.Bytes().constData(), body.Bytes().size()));
  file.Bytes().append(body.Bytes());
  return file.Bytes();
}

TReportDocument DecodeReportFile(const QByteArray& bytes) {
  if (bytes.size() < 4 || std::memcmp(bytes.constData(), kMagic, 4) != 0)
    throw EReportFileError("The file is not a Tarn report file.");
  TReader header(bytes.constData(), bytes.size());
  header.U32();
  if (bytes.size() < static_cast<qsizetype>(kHeaderSize)) Damaged("it ends too early");
  const uint16_t version = header.U16();
  if (version > kReportFileVersion)
    throw EReportFileError("The report file was written by a newer version of Tarn (format " +
                           std::to_string(version) + "); this version reads format " +
                           std::to_string(kReportFileVersion) + " and older.");
  if (version == 0) Damaged("its format number is 0");
  header.U16();
  const uint32_t length = header.U32();
  const uint32_t crc = header.U32();
  if (length != bytes.size() - kHeaderSize) Damaged("its length does not match");
  const char* body_bytes = bytes.constData() + kHeaderSize;
  if (Crc(body_bytes, length) != crc) Damaged("its checksum does not match");

  TReader in(body_bytes, length);
  TReportDocument doc;
  doc.title = in.Str();
  doc.page_width = in.Mm();
  doc.page_height = in.Mm();
  if (doc.page_width <= 0 || doc.page_height <= 0) Damaged("the page has no size");
  const uint32_t pages = in.U32();
  if (pages == 0 || pages > in.Left() / 4) Damaged("the page count is wrong");
  doc.pages.resize(pages);
  for (TReportPage& page : doc.pages) {
    const uint32_t items = in.U32();
    if (items > in.Left()) Damaged("an item count is wrong");
    page.items.reserve(items);
    for (uint32_t i = 0; i < items; ++i) {
      switch (in.U8()) {
        case 1: {
          TFillItem f;
          f.rect = in.Rect();
          f.color = QColor::fromRgba(in.U32());
          page.items.push_back(f);
          break;
        }
        case 2: {
          TLineItem l;
          l.from.setX(in.Mm());
          l.from.setY(in.Mm());
          l.to.setX(in.Mm());
          l.to.setY(in.Mm());
          l.width = in.Mm();
          l.color = QColor::fromRgba(in.U32());
          page.items.push_back(l);
          break;
        }
        case 3: {
          TTextItem t;
          t.rect = in.Rect();
          t.text = in.Str();
          t.font.family = in.Str();
          t.font.points = in.F64();
          if (!(t.font.points >= 1 && t.font.points <= 500)) Damaged("a font size is wrong");
          const uint8_t style = in.U8();
          t.font.bold = style & 1;
          t.font.italic = style & 2;
          t.color = QColor::fromRgba(in.U32());
          const uint8_t align = in.U8();
          if (align > 2) Damaged("an alignment is wrong");
          t.align = static_cast<TAlign>(align);
          page.items.push_back(t);
          break;
        }
        default: Damaged("an item of unknown kind");
      }
    }
  }
  if (in.Left() != 0) Damaged("bytes follow the last page");
  return doc;
}

void SaveReportFile(const TReportDocument& document, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    throw EReportFileError("Unable to write to " + path.toStdString());
  const QByteArray bytes = EncodeReportFile(document);
  if (file.write(bytes) != bytes.size() || !file.commit())
    throw EReportFileError("Unable to write to " + path.toStdString());
}

TReportDocument LoadReportFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw EReportFileError("Unable to read " + path.toStdString());
  return DecodeReportFile(file.readAll());
}

}  // namespace tarn
