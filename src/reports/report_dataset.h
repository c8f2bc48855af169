// The records a report's detail band prints. The engine walks the dataset
// itself, from First() until Eof(), and leaves it where the walk ended (on
// the last record): it neither saves nor restores the position. FieldText is
// the text the report prints for a field of the current record (dates in the
// program's short date format); an unknown field gives an empty text.
#pragma once

#include <QString>
#include <map>
#include <vector>

namespace tarn {

class TReportDataset {
 public:
  virtual ~TReportDataset() = default;
  virtual void First() = 0;
  virtual void Next() = 0;
  virtual bool Eof() const = 0;
  virtual QString FieldText(const QString& name) const = 0;
};

// Rows held in memory. Eof() follows the live query's rule: Next() on the
// last row stays on it and sets Eof(), so after a walk the last row is current.
class TRowsDataset : public TReportDataset {
 public:
  using TRow = std::map<QString, QString>;
  explicit TRowsDataset(std::vector<TRow> rows = {}) : rows_(std::move(rows)) {}

  void First() override {
    index_ = 0;
    eof_ = rows_.empty();
  }
  void Next() override {
    if (index_ + 1 < rows_.size())
      ++index_;
    else
      eof_ = true;
  }
  bool Eof() const override { return eof_; }
  QString FieldText(const QString& name) const override {
    if (index_ >= rows_.size()) return {};
    auto it = rows_[index_].find(name);
    return it == rows_[index_].end() ? QString() : it->second;
  }
  // Index of the current row (0 when empty).
  size_t Current() const { return index_; }
  void MoveTo(size_t index) { index_ = index; }

 private:
  std::vector<TRow> rows_;
  size_t index_ = 0;
  bool eof_ = false;
};

}  // namespace tarn
