// The grid's rows over the live query: the row count is the query's record
// count and each row is fetched by its record number (one descent through
// the counted index), so opening and scrolling cost the same at any table
// size. A small cache keeps the rows just painted; every change the query
// reports drops it. While a new record is being inserted it shows as an
// extra row where the insert began. The current record, while edited, shows
// the edited values.
//
// Columns are Item, Date, User, PW and Web; the view may show them in another
// order. Header titles show the current column red and bold.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QFont>
#include <QStringList>
#include <array>

namespace cairn {
class TCairnQuery;
}

namespace tarn {

class TPwdGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 5;
  static constexpr int kCacheRows = 256;

  explicit TPwdGridModel(QObject* parent = nullptr);
  ~TPwdGridModel() override;

  // Binds to `query` (or to none); the model follows its changes.
  void SetQuery(cairn::TCairnQuery* query);
  cairn::TCairnQuery* Query() const { return query_; }

  static const char* FieldOfColumn(int column);
  static int ColumnOfField(const QString& field);

  // The 1-based record number a row shows; 0 for the row being inserted.
  uint32_t RecNoOfRow(int row) const;
  // The row of the query's current record (the insert row while inserting); -1 with none.
  int CurrentRow() const;
  // Where the next insert shows; the query inserts before its current record.
  void SetInsertRow(int row) { pending_insert_row_ = row; }
  int InsertRow() const { return insert_row_; }
  // True once a field of the record being edited was changed, or a field of
  // the record being inserted holds something.
  bool RecordModified() const;

  void SetCurrentColumn(int column);
  int CurrentColumn() const { return current_column_; }
  void SetTitleFont(const QFont& font) { title_font_ = font; }

  // Rows fetched from the table since the last Reset (for benchmarks).
  qint64 Fetches() const { return fetches_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Puts the record in edit state and sets the field; the text must fit the
  // table (see table_text.h). Failures go to the exception handler.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  // The rows are about to be re-read.
  void AboutToRebuild();
  // The model was rebuilt (opened, closed, re-ordered, rows added or removed).
  void Rebuilt();
  // The query's current record changed.
  void CurrentRecordMoved();

 private:
  using TRow = std::array<QString, kColumnCount>;

  void OnQueryEvent(int event);
  void Rebuild();
  const TRow* FetchRow(uint32_t recno) const;
  QString CurrentValue(int column) const;

  cairn::TCairnQuery* query_ = nullptr;
  int observer_ = 0;
  uint32_t count_ = 0;
  int insert_row_ = -1;
  int pending_insert_row_ = -1;
  bool modified_ = false;
  int current_column_ = 0;
  QFont title_font_;
  mutable QCache<uint32_t, TRow> cache_{kCacheRows};
  mutable qint64 fetches_ = 0;
};

}  // namespace tarn
