#include <QSaveFile>
#include <algorithm>
#include <cmath>

#include "reports/export_formats.h"

namespace tarn {

std::vector<TTextRow> TextRows(const TReportPage& page) {
  std::vector<const TTextItem*> texts;
  for (const TPageItem& item : page.items)
    if (auto* t = std::get_if<TTextItem>(&item)) texts.push_back(t);
  std::stable_sort(texts.begin(), texts.end(), [](const TTextItem* a, const TTextItem* b) {
    return a->rect.top() < b->rect.top();
  });
  std::vector<TTextRow> rows;
  for (const TTextItem* t : texts) {
    // Texts whose tops lie within half a millimetre share a line.
    if (rows.empty() || t->rect.top() > rows.back().top + 0.5) {
      rows.push_back({t->rect.top(), t->rect.bottom(), {}});
    }
    rows.back().bottom = std::max(rows.back().bottom, t->rect.bottom());
    rows.back().cells.push_back(t);
  }
  for (auto& row : rows)
    std::stable_sort(row.cells.begin(), row.cells.end(),
                     [](const TTextItem* a, const TTextItem* b) {
                       return a->rect.left() < b->rect.left();
                     });
  return rows;
}

std::vector<double> TextColumns(const TReportDocument& document) {
  // The table's columns are those of its fullest lines (headings, records);
  // lines with fewer texts (titles, footers) fall into them.
  std::vector<TTextRow> rows;
  size_t widest = 0;
  for (const auto& page : document.pages)
    for (TTextRow& row : TextRows(page)) {
      widest = std::max(widest, row.cells.size());
      rows.push_back(std::move(row));
    }
  std::vector<double> lefts;
  for (const auto& row : rows)
    if (row.cells.size() == widest)
      for (const TTextItem* t : row.cells) lefts.push_back(t->rect.left());
  std::sort(lefts.begin(), lefts.end());
  std::vector<double> columns;
  for (double left : lefts)
    if (columns.empty() || left - columns.back() >= 1.0) columns.push_back(left);
  if (columns.empty()) columns.push_back(0);
  return columns;
}

int ColumnOf(const std::vector<double>& columns, double left) {
  int column = 0;
  for (int i = 0; i < static_cast<int>(columns.size()); ++i)
    if (columns[i] <= left + 0.5) column = i;
  return column;
}

void WriteFileBytes(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    throw EExportError("Unable to write to " + path.toStdString());
}

}  // namespace tarn
