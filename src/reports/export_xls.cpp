// Excel worksheet (.xls): a BIFF8 workbook stream in a compound document.
// The report's text columns become the sheet's columns, its lines of text
// its rows, page after page (optionally a sheet per page).
//
// Compound document written here: 512-byte sectors; the workbook stream
// first (padded to at least 4096 bytes so that it never goes to the mini
// stream), then one directory sector (root entry and "Workbook"), then the
// allocation table sectors, all listed in the header's first 109 slots.
#include <QtEndian>
#include <algorithm>
#include <cmath>

#include "reports/export_formats.h"

namespace tarn {
namespace {

class TBytes {
 public:
  void U8(uint8_t v) { b_.append(static_cast<char>(v)); }
  void U16(uint16_t v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void Append(const QByteArray& bytes) { b_.append(bytes); }
  // Unicode string: 16-bit characters, flag byte 1.
  void Chars(const QString& s) {
    U8(1);
    for (QChar c : s) U16(c.unicode());
  }
  QByteArray& Data() { return b_; }
  qsizetype Size() const { return b_.size(); }
  void PatchU32(qsizetype at, uint32_t v) { qToLittleEndian<uint32_t>(v, b_.data() + at); }

 private:
  QByteArray b_;
};

void Record(TBytes& out, uint16_t type, const QByteArray& body) {
  out.U16(type);
  out.U16(static_cast<uint16_t>(body.size()));
  out.Append(body);
}

QByteArray Bof(uint16_t kind) {
  TBytes b;
  b.U16(0x0600);
  b.U16(kind);
  b.U16(0x0DBB);
  b.U16(0x07CC);
  b.U32(0);
  b.U32(0x06);
  return b.Data();
}

QByteArray Font(bool bold) {
  TBytes b;
  b.U16(200);  // 10 points, in twentieths
  b.U16(0);
  b.U16(0x7FFF);
  b.U16(bold ? 700 : 400);
  b.U16(0);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  const QString name = QStringLiteral("Arial");
  b.U8(static_cast<uint8_t>(name.size()));
  b.Chars(name);
  return b.Data();
}

// `style`: a style record (parent none) or a cell record (parent Normal).
QByteArray Xf(uint16_t font, bool style, uint8_t halign) {
  TBytes b;
  b.U16(font);
  b.U16(0);                                  // General number format
  b.U16(style ? 0xFFF5 : 0x0001);            // locked; style with no parent, or cell of Normal
  b.U8(static_cast<uint8_t>(halign | 0x20));  // bottom aligned
  b.U8(0);
  b.U8(0);
  b.U8(style ? 0x00 : 0xF8);                 // a cell record sets its own attributes
  b.U32(0);
  b.U32(0);
  b.U16(0x20C0);                             // automatic pattern colours
  return b.Data();
}

// Cell formats after the 15 style records: 15 normal, 16 bold, then right
// aligned 17 and bold right aligned 18, centred 19.
uint16_t CellXf(const TTextItem& t) {
  if (t.align == TAlign::kRight) return t.font.bold ? 18 : 17;
  if (t.align == TAlign::kCenter) return 19;
  return t.font.bold ? 16 : 15;
}

struct TCell {
  int row, column;
  const TTextItem* text;
};

QByteArray Sheet(const std::vector<TCell>& cells, const std::vector<double>& columns,
                 double page_width) {
  TBytes s;
  Record(s, 0x0809, Bof(0x0010));
  int rows = 0;
  for (const auto& c : cells) rows = std::max(rows, c.row + 1);
  TBytes dim;
  dim.U32(0);
  dim.U32(static_cast<uint32_t>(rows));
  dim.U16(0);
  int used_columns = static_cast<int>(columns.size());
  for (const auto& c : cells) used_columns = std::max(used_columns, c.column + 1);
  dim.U16(static_cast<uint16_t>(used_columns));
  dim.U16(0);
  Record(s, 0x0200, dim.Data());
  for (size_t i = 0; i < columns.size(); ++i) {
    const double right = i + 1 < columns.size() ? columns[i + 1] : page_width;
    // Column widths count 1/256 of a character, about 2 mm at 10 points.
    const double width_mm = std::max(5.0, right - columns[i]);
    TBytes col;
    col.U16(static_cast<uint16_t>(i));
    col.U16(static_cast<uint16_t>(i));
    col.U16(static_cast<uint16_t>(std::min(65535.0, width_mm / 2.0 * 256)));
    col.U16(15);
    col.U16(0);
    col.U16(0);
    Record(s, 0x007D, col.Data());
  }
  for (const auto& c : cells) {
    TBytes label;
    label.U16(static_cast<uint16_t>(c.row));
    label.U16(static_cast<uint16_t>(c.column));
    label.U16(CellXf(*c.text));
    const QString text = c.text->text.left(255);
    label.U16(static_cast<uint16_t>(text.size()));
    label.Chars(text);
    Record(s, 0x0204, label.Data());
  }
  TBytes window;
  window.U16(0x06B6);
  window.U16(0);
  window.U16(0);
  window.U32(0x40);
  window.U16(0);
  window.U16(0);
  window.U32(0);
  Record(s, 0x023E, window.Data());
  Record(s, 0x000A, {});
  return s.Data();
}

QByteArray Workbook(const std::vector<QString>& names, const std::vector<QByteArray>& sheets) {
  TBytes w;
  Record(w, 0x0809, Bof(0x0005));
  TBytes codepage;
  codepage.U16(1200);
  Record(w, 0x0042, codepage.Data());
  TBytes window;
  for (uint16_t v : {0, 0, 0x3A98, 0x2328, 0x38, 0, 0, 1, 0x0258}) window.U16(v);
  Record(w, 0x003D, window.Data());
  for (int i = 0; i < 4; ++i) Record(w, 0x0031, Font(false));
  Record(w, 0x0031, Font(true));  // index 5: index 4 does not exist
  for (int i = 0; i < 15; ++i) Record(w, 0x00E0, Xf(0, true, 0));
  Record(w, 0x00E0, Xf(0, false, 0));
  Record(w, 0x00E0, Xf(5, false, 0));
  Record(w, 0x00E0, Xf(0, false, 3));
  Record(w, 0x00E0, Xf(5, false, 3));
  Record(w, 0x00E0, Xf(0, false, 2));
  TBytes style;
  style.U16(0x8000);
  style.U8(0);
  style.U8(0xFF);
  Record(w, 0x0293, style.Data());
  std::vector<qsizetype> offsets;
  for (const QString& name : names) {
    TBytes sheet;
    offsets.push_back(w.Size() + 4);
    sheet.U32(0);  // patched with the sheet's position
    sheet.U8(0);
    sheet.U8(0);
    sheet.U8(static_cast<uint8_t>(name.size()));
    sheet.Chars(name);
    Record(w, 0x0085, sheet.Data());
  }
  Record(w, 0x000A, {});
  for (size_t i = 0; i < sheets.size(); ++i) {
    w.PatchU32(offsets[i], static_cast<uint32_t>(w.Size()));
    w.Append(sheets[i]);
  }
  return w.Data();
}

void DirEntry(TBytes& d, const QString& name, uint8_t type, uint32_t child, uint32_t start,
              uint32_t size) {
  const qsizetype at = d.Size();
  for (QChar c : name) d.U16(c.unicode());
  while (d.Size() < at + 64) d.U8(0);
  d.U16(name.isEmpty() ? 0 : static_cast<uint16_t>((name.size() + 1) * 2));
  d.U8(type);
  d.U8(1);  // black
  d.U32(0xFFFFFFFF);
  d.U32(0xFFFFFFFF);
  d.U32(child);
  while (d.Size() < at + 116) d.U8(0);  // class id, state, times
  d.U32(start);
  d.U32(size);
  d.U32(0);
}

QByteArray CompoundFile(QByteArray stream) {
  constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSector = 0xFFFFFFFD;
  const uint32_t stream_size = static_cast<uint32_t>(std::max<qsizetype>(stream.size(), 4096));
  stream.append(QByteArray(((stream_size + 511) / 512) * 512 - stream.size(), '\0'));
  const uint32_t stream_sectors = static_cast<uint32_t>(stream.size() / 512);
  uint32_t fat_sectors = 1;
  while ((stream_sectors + 1 + fat_sectors + 127) / 128 > fat_sectors) ++fat_sectors;
  if (fat_sectors > 109) throw EExportError("The report is too large for a worksheet file.");
  const uint32_t dir_sector = stream_sectors;

  TBytes header;
  for (uint8_t v : {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}) header.U8(v);
  for (int i = 0; i < 16; ++i) header.U8(0);
  header.U16(0x003E);
  header.U16(0x0003);
  header.U16(0xFFFE);
  header.U16(9);
  header.U16(6);
  for (int i = 0; i < 6; ++i) header.U8(0);
  header.U32(0);
  header.U32(fat_sectors);
  header.U32(dir_sector);
  header.U32(0);
  header.U32(4096);
  header.U32(kEnd);
  header.U32(0);
  header.U32(kEnd);
  header.U32(0);
  for (uint32_t i = 0; i < 109; ++i) header.U32(i < fat_sectors ? dir_sector + 1 + i : kFree);

  TBytes dir;
  DirEntry(dir, QStringLiteral("Root Entry"), 5, 1, kEnd, 0);
  DirEntry(dir, QStringLiteral("Workbook"), 2, 0xFFFFFFFF, 0, stream_size);
  DirEntry(dir, {}, 0, 0xFFFFFFFF, 0, 0);
  DirEntry(dir, {}, 0, 0xFFFFFFFF, 0, 0);

  TBytes fat;
  for (uint32_t i = 0; i < stream_sectors; ++i) fat.U32(i + 1 < stream_sectors ? i + 1 : kEnd);
  fat.U32(kEnd);
  for (uint32_t i = 0; i < fat_sectors; ++i) fat.U32(kFatSector);
  while (fat.Size() < static_cast<qsizetype>(fat_sectors) * 512) fat.U32(kFree);

  QByteArray file = header.Data();
  file.append(stream);
  file.append(dir.Data());
  file.append(fat.Data());
  return file;
}

class TXlsExporter : public TBasicExporter {
 public:
  TXlsExporter()
      : TBasicExporter(QStringLiteral("Microsoft Excel Worksheet"), QStringLiteral("xls")) {
    AddChoice(QStringLiteral("sheets"), QStringLiteral("Pages"),
              {QStringLiteral("All pages on one sheet"), QStringLiteral("A sheet for every page")},
              0);
    AddText(QStringLiteral("name"), QStringLiteral("Sheet name"), QStringLiteral("Report"));
    AddBool(QStringLiteral("gap"), QStringLiteral("An empty row between pages"), false);
  }

  void Write(const TReportDocument& document, const QString& path) const override {
    const std::vector<double> columns = TextColumns(document);
    const bool per_page = Value(QStringLiteral("sheets")).toInt() == 1;
    QString name = Value(QStringLiteral("name")).toString().left(25);
    for (QChar& c : name)
      if (QStringLiteral("[]:*?/\\").contains(c)) c = QLatin1Char('_');
    if (name.isEmpty()) name = QStringLiteral("Report");

    std::vector<QString> names;
    std::vector<QByteArray> sheets;
    std::vector<TCell> cells;
    int row = 0;
    for (size_t p = 0; p < document.pages.size(); ++p) {
      for (const TTextRow& line : TextRows(document.pages[p])) {
        int used = -1;  // two texts of a line never share a cell
        for (const TTextItem* t : line.cells) {
          used = std::max(used + 1, ColumnOf(columns, t->rect.left()));
          cells.push_back({row, used, t});
        }
        ++row;
      }
      if (per_page) {
        names.push_back(QStringLiteral("%1 %2").arg(name).arg(p + 1));
        sheets.push_back(Sheet(cells, columns, document.page_width));
        cells.clear();
        row = 0;
      } else if (Value(QStringLiteral("gap")).toBool()) {
        ++row;
      }
      if (row > 65535) throw EExportError("The report has too many lines for a worksheet.");
    }
    if (!per_page || sheets.empty()) {
      names.push_back(name);
      sheets.push_back(Sheet(cells, columns, document.page_width));
    }
    WriteFileBytes(path, CompoundFile(Workbook(names, sheets)));
  }
};

}  // namespace

std::unique_ptr<TReportExporter> MakeXlsExporter() { return std::make_unique<TXlsExporter>(); }

}  // namespace tarn
