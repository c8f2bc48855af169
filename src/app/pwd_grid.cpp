#include "app/pwd_grid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>

#include "app/date_formats.h"
#include "app/exception_log.h"
#include "app/message_box.h"
#include "app/pwd_grid_model.h"
#include "storage/access/dataset_query.h"

namespace tarn {

// Paints the cells with the grid's colours and sends the grid keys typed in
// a cell editor to the grid.
class TPwdGridDelegate : public QStyledItemDelegate {
 public:
  explicit TPwdGridDelegate(TPwdGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    painter->save();
    painter->fillRect(option.rect, grid_->CellBackground(index));
    QFont font = option.font;
    font.setBold(grid_->CellBold(index));
    painter->setFont(font);
    painter->setPen(Qt::black);
    const QRect text_box = option.rect.adjusted(2, 0, -2, 0);
    const auto alignment = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
    const QString text = QFontMetrics(font).elidedText(index.data(Qt::DisplayRole).toString(),
                                                       Qt::ElideRight, text_box.width());
    painter->drawText(text_box, static_cast<int>(alignment), text);
    painter->restore();
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor != nullptr && event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
      if (enter) {
        emit commitData(editor);
        emit closeEditor(editor, QAbstractItemDelegate::NoHint);
        grid_->EnterMove(key->modifiers() & Qt::ShiftModifier);
        return true;
      }
      if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier)) {
        emit closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        grid_->HandleKey(key, true);
        return true;
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  TPwdGrid* grid_;
};

namespace {

bool Editing(const cairn::TCairnQuery& query) {
  return query.State() == cairn::TDataSetState::dsEdit ||
         query.State() == cairn::TDataSetState::dsInsert;
}

}  // namespace

TPwdGrid::TPwdGrid(QWidget* parent) : QTableView(parent), model_(new TPwdGridModel(this)) {
  setModel(model_);
  setItemDelegate(new TPwdGridDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
  setTabKeyNavigation(true);
  setShowGrid(true);
  setCornerButtonEnabled(false);
  setWordWrap(false);
  horizontalHeader()->setSectionsMovable(true);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
  // Rows are one height, so a million of them cost nothing to lay out.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(18);
  verticalHeader()->setMinimumWidth(12);
  verticalHeader()->setHighlightSections(false);
  connect(model_, &TPwdGridModel::Rebuilt, this, &TPwdGrid::FollowQuery);
  connect(model_, &TPwdGridModel::CurrentRecordMoved, this, &TPwdGrid::FollowQuery);
}

void TPwdGrid::SetColours(const QColor& grid, const QColor& odd_rows, const QColor& current) {
  grid_colour_ = grid;
  odd_colour_ = odd_rows;
  current_colour_ = current;
  QPalette p = palette();
  p.setColor(QPalette::Base, grid);
  setPalette(p);
  viewport()->update();
}

QColor TPwdGrid::CellBackground(const QModelIndex& index) const {
  const int current_row = model_->CurrentRow();
  if (index.row() == current_row && current_row >= 0) return current_colour_;
  const uint32_t recno = model_->RecNoOfRow(index.row());
  if (recno % 2 == 1) return odd_colour_;
  return index.column() == CurrentColumn() ? current_colour_ : grid_colour_;
}

bool TPwdGrid::CellBold(const QModelIndex& index) const {
  return index.row() == model_->CurrentRow() || index == currentIndex();
}

int TPwdGrid::CurrentColumn() const {
  if (currentIndex().isValid()) return currentIndex().column();
  return last_column_ >= 0 ? last_column_ : horizontalHeader()->logicalIndex(0);
}

QString TPwdGrid::CurrentField() const {
  return QString::fromLatin1(TPwdGridModel::FieldOfColumn(CurrentColumn()));
}

void TPwdGrid::SetCurrentColumn(int column) {
  const int row = currentIndex().isValid() ? currentIndex().row() : model_->CurrentRow();
  if (row < 0) {
    // No records: the column still becomes current for its colours.
    const int before = last_column_;
    last_column_ = column;
    if (before != column) {
      ColExit(before);
      ColEnter(column);
    }
    return;
  }
  setCurrentIndex(model_->index(row, column));
}

void TPwdGrid::FollowQuery() {
  following_ = true;
  const int row = model_->CurrentRow();
  const int column = CurrentColumn();
  if (row >= 0) {
    const QModelIndex target = model_->index(row, column);
    if (currentIndex() != target) selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    scrollTo(target);
  }
  following_ = false;
  if (model_->CurrentColumn() != column) model_->SetCurrentColumn(column);
  viewport()->update();
  verticalHeader()->viewport()->update();
}

void TPwdGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (!current.isValid()) return;
  if (!following_ && current.row() != model_->CurrentRow()) {
    if (!MoveToRow(current.row())) {
      // Refused (a post that failed): stay on the record being edited.
      QMetaObject::invokeMethod(this, &TPwdGrid::FollowQuery, Qt::QueuedConnection);
    }
  }
  const int column = current.column();
  if (column != last_column_) {
    const int before = last_column_;
    last_column_ = column;
    ColExit(before);
    ColEnter(column);
  }
  viewport()->update();
  verticalHeader()->viewport()->update();
}

bool TPwdGrid::MoveToRow(int row) {
  cairn::TCairnQuery* query = model_->Query();
  if (query == nullptr || !query->Active()) return false;
  bool moved = false;
  Guarded(this, [&] {
    const uint32_t recno = model_->RecNoOfRow(row);
    if (recno == 0) return;
    // Leaving an inserted record nobody typed into drops it; other edits post.
    if (query->State() == cairn::TDataSetState::dsInsert && !model_->RecordModified()) {
      query->Cancel();
    } else if (Editing(*query)) {
      query->Post();
    }
    query->SetRecNo(recno);
    moved = true;
  });
  return moved;
}

void TPwdGrid::ColExit(int column) { Q_UNUSED(column); }

void TPwdGrid::ColEnter(int column) {
  model_->SetCurrentColumn(column);
  if (QLatin1String(TPwdGridModel::FieldOfColumn(column)) == QLatin1String("Date")) {
    Guarded(this, [this] { StampEmptyDate(); });
  }
}

void TPwdGrid::StampEmptyDate() {
  cairn::TCairnQuery* query = model_->Query();
  if (query == nullptr || !query->Active()) return;
  if (query->State() == cairn::TDataSetState::dsBrowse && query->RecNo() == 0) return;
  if (query->FieldAsDate("Date").has_value()) return;
  if (query->State() == cairn::TDataSetState::dsBrowse) query->Edit();
  const QDate today = Now().date();
  query->SetFieldAsDate("Date", cairn::TCairnDate{today.year(), today.month(), today.day()});
  query->Post();
}

void TPwdGrid::AppendRecord() {
  cairn::TCairnQuery* query = model_->Query();
  if (query == nullptr || !query->Active()) return;
  Guarded(this, [&] {
    if (Editing(*query)) query->Post();
    model_->SetInsertRow(model_->rowCount());
    query->Append();
  });
}

void TPwdGrid::EnterMove(bool back) {
  QHeaderView* header = horizontalHeader();
  const int visual = header->visualIndex(CurrentColumn());
  const int last_visual = header->count() - 1;
  const int row = currentIndex().isValid() ? currentIndex().row() : model_->CurrentRow();
  if (row < 0) return;
  if (!back && visual < last_visual) {
    SetCurrentColumn(header->logicalIndex(visual + 1));
    return;
  }
  if (back && visual > 0) {
    SetCurrentColumn(header->logicalIndex(visual - 1));
    return;
  }
  const int next_row = back ? row - 1 : row + 1;
  const int column = header->logicalIndex(back ? last_visual : 0);
  if (next_row >= 0 && next_row < model_->rowCount()) {
    setCurrentIndex(model_->index(next_row, column));
    return;
  }
  // First or last record: the record step does nothing but post, the column wraps.
  cairn::TCairnQuery* query = model_->Query();
  if (query != nullptr && Editing(*query)) {
    bool posted = false;
    Guarded(this, [&] {
      query->Post();
      posted = true;
    });
    if (!posted) return;
  }
  SetCurrentColumn(column);
}

bool TPwdGrid::HandleKey(QKeyEvent* event, bool in_editor) {
  cairn::TCairnQuery* query = model_->Query();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      EnterMove(event->modifiers() & Qt::ShiftModifier);
      return true;
    case Qt::Key_Delete:
      if (!ctrl) return false;
      Guarded(this, [&] {
        if (query == nullptr || !query->Active()) {
          if (query != nullptr) query->Delete();  // the closed query says why
          return;
        }
        if (AskConfirmation(this, QStringLiteral("Delete record?"), TMsgButtons::kOkCancel) ==
            TMsgResult::kOk)
          query->Delete();
      });
      return true;
    case Qt::Key_Escape:
      if (in_editor || query == nullptr || !Editing(*query)) return false;
      Guarded(this, [&] { query->Cancel(); });
      return true;
    case Qt::Key_Insert:
      if (query == nullptr || !query->Active()) return false;
      Guarded(this, [&] {
        if (Editing(*query)) query->Post();
        model_->SetInsertRow(std::max(0, model_->CurrentRow()));
        query->Insert();
      });
      return true;
    case Qt::Key_Down:
      if (ctrl || query == nullptr || !query->Active() || !query->IsLive()) return false;
      if (model_->CurrentRow() == model_->rowCount() - 1 &&
          query->State() != cairn::TDataSetState::dsInsert) {
        AppendRecord();
        return true;
      }
      return false;
    case Qt::Key_Tab: {
      if (query == nullptr || !query->Active() || !query->IsLive()) return false;
      const QHeaderView* header = horizontalHeader();
      if (header->visualIndex(CurrentColumn()) == header->count() - 1 &&
          model_->CurrentRow() == model_->rowCount() - 1 &&
          query->State() != cairn::TDataSetState::dsInsert) {
        AppendRecord();
        SetCurrentColumn(header->logicalIndex(0));
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

void TPwdGrid::keyPressEvent(QKeyEvent* event) {
  if (HandleKey(event, false)) {
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

void TPwdGrid::focusInEvent(QFocusEvent* event) {
  if (OnEnter) OnEnter();
  QTableView::focusInEvent(event);
}

bool TPwdGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  cairn::TCairnQuery* query = model_->Query();
  if (query == nullptr || !query->Active()) return false;
  return QTableView::edit(index, trigger, event);
}

}  // namespace tarn
