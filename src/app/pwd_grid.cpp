#include "app/pwd_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

#include "app/date_formats.h"
#include "app/exception_log.h"
#include "app/message_box.h"
#include "app/pwd_grid_model.h"
#include "app/repository_store.h"
#include "storage/access/dataset_query.h"

namespace tarn {

// Paints the cells with the grid's colours and gives the cell editor the
// grid's keys: the editor is always shown in the current cell, so the keys
// that move between cells and records, and Escape on an untouched cell, are
// the grid's, as are Left and Right once the caret is at the text's edge.
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

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      const char* field = TPwdGridModel::FieldOfColumn(index.column());
      const int size = PalFieldSize(field);
      line->setMaxLength(size > 0 ? size : 10);  // a date: dd/mm/yyyy
      line->setAlignment(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()));
      // The grid's pop-up menu, not the text box's own.
      line->setContextMenuPolicy(Qt::NoContextMenu);
      QPalette p = line->palette();
      p.setColor(QPalette::Base, grid_->CurrentColour());
      line->setPalette(p);
      // The record goes into edit state (and is locked) with the first change.
      QObject::connect(line, &QLineEdit::textEdited, grid_,
                       [grid = grid_, line] { grid->BeginEdit(line); });
    }
    grid_->editor_ = editor;
    return editor;
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    // An editor nobody typed into leaves the record alone.
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line != nullptr && !line->isModified()) return;
    QStyledItemDelegate::setModelData(editor, model, index);
    if (line != nullptr) line->setModified(false);
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor != nullptr && event->type() == QEvent::KeyPress &&
        HandleEditorKey(editor, static_cast<QKeyEvent*>(event)))
      return true;
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  bool HandleEditorKey(QWidget* editor, QKeyEvent* key) {
    auto* line = qobject_cast<QLineEdit*>(editor);
    const bool ctrl = key->modifiers() & Qt::ControlModifier;
    const bool all_selected = line != nullptr && line->selectedText() == line->text();
    const bool at_left = line == nullptr || all_selected ||
                         (line->cursorPosition() == 0 && !line->hasSelectedText());
    const bool at_right =
        line == nullptr || all_selected ||
        (line->cursorPosition() == line->text().size() && !line->hasSelectedText());
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        emit commitData(editor);
        grid_->EnterMove(key->modifiers() & Qt::ShiftModifier);
        return true;
      case Qt::Key_Escape:
        if (line != nullptr && line->isModified()) {
          // First the typing in the cell goes; the record's changes stay.
          setEditorData(line, grid_->currentIndex());
          line->setModified(false);
          line->selectAll();
        } else {
          grid_->CancelRecord();
        }
        return true;
      case Qt::Key_F2:
        // The caret goes to the end, so that typing adds to the text.
        if (line != nullptr) line->end(false);
        return true;
      case Qt::Key_Delete:
        if (!ctrl) return false;
        grid_->DropEditor();
        grid_->HandleKey(key, true);
        grid_->ShowEditor();  // the question may have been answered No
        return true;
      case Qt::Key_Left:
      case Qt::Key_Home:
        if (!ctrl && !at_left) return false;
        break;
      case Qt::Key_Right:
      case Qt::Key_End:
        if (!ctrl && !at_right) return false;
        break;
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
        break;
      case Qt::Key_Insert:
        if (key->modifiers() != Qt::NoModifier) return false;
        break;
      default:
        return false;
    }
    // A move: the grid posts or keeps the typing as its rules say.
    grid_->keyPressEvent(key);
    return true;
  }

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
  connect(model_, &TPwdGridModel::AboutToRebuild, this, &TPwdGrid::DropEditor);
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
  TBusy busy(*this);
  following_ = true;
  const int row = model_->CurrentRow();
  const int column = CurrentColumn();
  if (row >= 0) {
    const QModelIndex target = model_->index(row, column);
    if (currentIndex() != target)
      selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    scrollTo(target);
  }
  following_ = false;
  if (model_->CurrentColumn() != column) model_->SetCurrentColumn(column);
  viewport()->update();
  verticalHeader()->viewport()->update();
  ShowEditor();
}

void TPwdGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  TBusy busy(*this);
  {
    // Leaving the cell writes what was typed into the record.
    QScopedValueRollback closing(closing_editor_, true);
    QTableView::currentChanged(current, previous);
  }
  if (!current.isValid()) return;
  if (!following_ && current.row() != model_->CurrentRow()) {
    if (!MoveToRow(current.row())) {
      // Refused (a post that failed): stay on the record being edited.
      editor_wanted_ = false;
      QMetaObject::invokeMethod(this, &TPwdGrid::FollowQuery, Qt::QueuedConnection);
      return;
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
  ShowEditor();
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
      CancelRecord();
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
  if (!closing_editor_) ShowEditor();
}

bool TPwdGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (!CanEdit()) return false;
  return QTableView::edit(index, trigger, event);
}

void TPwdGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  {
    QScopedValueRollback closing(closing_editor_, true);
    QTableView::closeEditor(editor, hint);
  }
  ShowEditor();
}

void TPwdGrid::keyboardSearch(const QString&) {
  // No search by typing: it would read every record of a large table.
}

bool TPwdGrid::CanEdit() const {
  const cairn::TCairnQuery* query = model_->Query();
  return query != nullptr && query->CanModify();
}

bool TPwdGrid::EditorShown() const {
  return editor_ != nullptr && state() == QAbstractItemView::EditingState;
}

void TPwdGrid::ShowEditor() {
  if (busy_ > 0) {
    editor_wanted_ = true;
    return;
  }
  editor_wanted_ = false;
  if (closing_editor_ || EditorShown() || !CanEdit() || !currentIndex().isValid()) return;
  // Only the grid with the focus shows its editor: opening one takes the focus.
  QWidget* focus = QApplication::focusWidget();
  if (focus != this && !isAncestorOf(focus)) return;
  QTableView::edit(currentIndex());
}

void TPwdGrid::DropEditor() {
  if (!EditorShown()) return;
  TBusy busy(*this);
  closeEditor(editor_, QAbstractItemDelegate::NoHint);
  editor_wanted_ = false;  // shown again once the rows are back
}

void TPwdGrid::CommitEditor() {
  if (EditorShown()) commitData(editor_);
}

void TPwdGrid::BeginEdit(QLineEdit* editor) {
  cairn::TCairnQuery* query = model_->Query();
  if (query == nullptr || query->State() != cairn::TDataSetState::dsBrowse) return;
  try {
    query->Edit();
  } catch (...) {
    // Refused (locked by another program): the cell shows the record again.
    if (editor_ == editor) {
      itemDelegate()->setEditorData(editor, currentIndex());
      editor->setModified(false);
      editor->selectAll();
    }
    LogCurrentException(this);
  }
}

void TPwdGrid::CancelRecord() {
  cairn::TCairnQuery* query = model_->Query();
  if (query == nullptr || !Editing(*query)) return;
  DropEditor();
  Guarded(this, [&] { query->Cancel(); });
  ShowEditor();
}

TPwdGrid::TBusy::TBusy(TPwdGrid& grid) : grid_(grid) { ++grid_.busy_; }

TPwdGrid::TBusy::~TBusy() {
  if (--grid_.busy_ == 0 && grid_.editor_wanted_) grid_.ShowEditor();
}

}  // namespace tarn
