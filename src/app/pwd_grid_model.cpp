#include "app/pwd_grid_model.h"

#include <QBrush>
#include <QColor>

#include "app/exception_log.h"
#include "app/repository_store.h"
#include "app/table_text.h"
#include "storage/access/dataset_query.h"

namespace tarn {
namespace {

constexpr const char* kColumnFields[TPwdGridModel::kColumnCount] = {"Item", "Date", "User", "PW",
                                                                    "Web"};

bool Editing(const cairn::TCairnQuery& query) {
  return query.State() == cairn::TDataSetState::dsEdit ||
         query.State() == cairn::TDataSetState::dsInsert;
}

}  // namespace

TPwdGridModel::TPwdGridModel(QObject* parent) : QAbstractTableModel(parent) {}

TPwdGridModel::~TPwdGridModel() {
  // No rebuild here: the view may already be going.
  if (query_ != nullptr && observer_ != 0) query_->RemoveObserver(observer_);
}

const char* TPwdGridModel::FieldOfColumn(int column) {
  return column >= 0 && column < kColumnCount ? kColumnFields[column] : "";
}

int TPwdGridModel::ColumnOfField(const QString& field) {
  for (int i = 0; i < kColumnCount; ++i)
    if (field == QLatin1String(kColumnFields[i])) return i;
  return -1;
}

void TPwdGridModel::SetQuery(cairn::TCairnQuery* query) {
  if (query_ != nullptr && observer_ != 0) query_->RemoveObserver(observer_);
  query_ = query;
  observer_ = 0;
  if (query_ != nullptr) {
    observer_ =
        query_->AddObserver([this](cairn::TDataEvent e) { OnQueryEvent(static_cast<int>(e)); });
  }
  Rebuild();
}

void TPwdGridModel::OnQueryEvent(int event) {
  switch (static_cast<cairn::TDataEvent>(event)) {
    case cairn::TDataEvent::deRecordChange: {
      modified_ = true;
      const int row = CurrentRow();
      if (row >= 0) emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
      return;
    }
    case cairn::TDataEvent::deDataSetScroll: {
      // Another process may have changed what the rows show: read them again.
      cache_.clear();
      const uint32_t count = query_ != nullptr && query_->Active() ? query_->RecordCount() : 0;
      if (count != count_) {
        Rebuild();
      } else if (count_ > 0) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
        emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
      }
      emit CurrentRecordMoved();
      return;
    }
    case cairn::TDataEvent::deUpdateState:
      if (query_ == nullptr || !Editing(*query_)) modified_ = false;
      if (query_ != nullptr && query_->State() == cairn::TDataSetState::dsEdit) {
        const int row = CurrentRow();
        if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
        return;
      }
      Rebuild();
      return;
    case cairn::TDataEvent::deLayoutChange:
    case cairn::TDataEvent::deDataSetChange:
      Rebuild();
      return;
  }
}

void TPwdGridModel::Rebuild() {
  emit AboutToRebuild();
  beginResetModel();
  cache_.clear();
  fetches_ = 0;
  const bool active = query_ != nullptr && query_->Active();
  count_ = active ? query_->RecordCount() : 0;
  if (active && query_->State() == cairn::TDataSetState::dsInsert) {
    if (insert_row_ < 0) insert_row_ = pending_insert_row_;
    insert_row_ = std::clamp(insert_row_, 0, static_cast<int>(count_));
  } else {
    insert_row_ = -1;
  }
  pending_insert_row_ = -1;
  endResetModel();
  emit Rebuilt();
}

uint32_t TPwdGridModel::RecNoOfRow(int row) const {
  if (row < 0 || row >= rowCount()) return 0;
  if (insert_row_ < 0 || row < insert_row_) return static_cast<uint32_t>(row) + 1;
  if (row == insert_row_) return 0;
  return static_cast<uint32_t>(row);
}

int TPwdGridModel::CurrentRow() const {
  if (query_ == nullptr || !query_->Active()) return -1;
  if (insert_row_ >= 0) return insert_row_;
  const uint32_t recno = query_->RecNo();
  if (recno == 0 || recno > count_) return -1;
  return static_cast<int>(recno) - 1;
}

bool TPwdGridModel::RecordModified() const {
  // The insert itself reports its blank record as a change: an inserted
  // record counts as touched once a field holds something.
  if (query_ != nullptr && query_->State() == cairn::TDataSetState::dsInsert) {
    for (const TPalField& field : kPalFields)
      if (!query_->FieldIsNull(field.name)) return true;
    return false;
  }
  return modified_;
}

void TPwdGridModel::SetCurrentColumn(int column) {
  const int before = current_column_;
  current_column_ = column;
  if (before >= 0 && before < kColumnCount) emit headerDataChanged(Qt::Horizontal, before, before);
  if (column >= 0 && column < kColumnCount) emit headerDataChanged(Qt::Horizontal, column, column);
}

int TPwdGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(count_) + (insert_row_ >= 0 ? 1 : 0);
}

int TPwdGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

const TPwdGridModel::TRow* TPwdGridModel::FetchRow(uint32_t recno) const {
  if (TRow* cached = cache_.object(recno)) return cached;
  const std::optional<cairn::TCairnRecordView> view = query_->FetchRecord(recno);
  if (!view) return nullptr;
  ++fetches_;
  auto row = std::make_unique<TRow>();
  for (int i = 0; i < kColumnCount; ++i) (*row)[i] = FromTableText(view->AsText(kColumnFields[i]));
  const TRow* result = row.get();
  cache_.insert(recno, row.release());
  return result;
}

QString TPwdGridModel::CurrentValue(int column) const {
  return FromTableText(query_->FieldAsText(kColumnFields[column]));
}

QVariant TPwdGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || query_ == nullptr || !query_->Active()) return {};
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(index.column() == 1 ? Qt::AlignRight | Qt::AlignVCenter
                                                   : Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  try {
    // The current record while edited (or inserted) shows its edited values.
    if (Editing(*query_) && index.row() == CurrentRow()) return CurrentValue(index.column());
    const uint32_t recno = RecNoOfRow(index.row());
    if (recno == 0) return QString();
    const TRow* row = FetchRow(recno);
    return row != nullptr ? (*row)[index.column()] : QString();
  } catch (...) {
    // Painting must not throw; a row that cannot be read shows empty.
    return QString();
  }
}

QVariant TPwdGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    switch (role) {
      case Qt::DisplayRole:
        return QString::fromLatin1(FieldOfColumn(section));
      case Qt::TextAlignmentRole:
        return QVariant::fromValue(section == 1 ? Qt::AlignRight | Qt::AlignVCenter
                                                : Qt::AlignLeft | Qt::AlignVCenter);
      case Qt::ForegroundRole:
        return QBrush(section == current_column_ ? QColor(Qt::red) : QColor(Qt::black));
      case Qt::FontRole: {
        QFont font = title_font_;
        font.setBold(section == current_column_);
        return font;
      }
      default:
        return {};
    }
  }
  if (role != Qt::DisplayRole) return {};
  // The record indicator: the current record, marked by what is happening to it.
  if (section != CurrentRow()) return QString();
  switch (query_->State()) {
    case cairn::TDataSetState::dsEdit:
      return QStringLiteral("I");
    case cairn::TDataSetState::dsInsert:
      return QStringLiteral("*");
    default:
      return QStringLiteral("\u25B6");
  }
}

Qt::ItemFlags TPwdGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  // A read-only (copied) or closed result opens no cell editor.
  return query_ != nullptr && query_->CanModify() ? flags | Qt::ItemIsEditable : flags;
}

bool TPwdGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || query_ == nullptr) return false;
  const char* field = kColumnFields[index.column()];
  const QString text = value.toString();
  bool done = false;
  Guarded(this, [&] {
    // Unchanged text leaves the record alone (no edit state, no lock, and an
    // inserted record stays untouched).
    if (text == data(index, Qt::EditRole).toString()) return;
    const std::string bytes = ToTableText(text, field, PalFieldSize(field));
    if (!Editing(*query_)) query_->Edit();
    query_->SetFieldAsText(field, bytes);
    modified_ = true;
    done = true;
  });
  if (done) emit dataChanged(index, index);
  return done;
}

}  // namespace tarn
