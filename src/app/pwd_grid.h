// PWgrid: the grid of password records over TPwdGridModel. It keeps the
// query's current record and the grid's current row together (moving posts
// a pending edit first), paints the rows (odd record numbers in Grad4Str,
// the current column in StartColStr, the current row as a bold StartColStr
// band), stamps today into an empty Date cell when that column is entered,
// and handles the grid keys: Enter and Shift+Enter move like a tab that wraps
// across records in on-screen column order, Ctrl+Delete deletes after
// "Delete record?", Escape undoes the cell and then the record, Down on the
// last record and Tab past the last cell append a record.
#pragma once

#include <QColor>
#include <QPointer>
#include <QTableView>
#include <functional>

class QLineEdit;

namespace tarn {

class TPwdGridModel;

class TPwdGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TPwdGrid(QWidget* parent = nullptr);

  TPwdGridModel* Model() const { return model_; }

  // Colours (from the colour settings): the grid background, odd rows and
  // the current row and column.
  void SetColours(const QColor& grid, const QColor& odd_rows, const QColor& current);
  QColor GridColour() const { return grid_colour_; }
  QColor OddRowColour() const { return odd_colour_; }
  QColor CurrentColour() const { return current_colour_; }
  // The background a cell is painted with, and whether its text is bold.
  QColor CellBackground(const QModelIndex& index) const;
  bool CellBold(const QModelIndex& index) const;

  // The logical column of the current cell.
  int CurrentColumn() const;
  QString CurrentField() const;
  // Moves the current cell to `column` (logical) on the current record.
  void SetCurrentColumn(int column);

  // Enter-key navigation: one on-screen column right (or left with `back`),
  // wrapping to the next (prior) record.
  void EnterMove(bool back);

  // Shows the query's current record as the current row.
  void FollowQuery();

  // The current cell's editor, shown whenever the grid has the focus and the
  // records can be edited; none on a read-only or closed result.
  bool EditorShown() const;
  QWidget* Editor() const { return EditorShown() ? editor_.data() : nullptr; }
  // Writes what was typed in the editor into the record (no post).
  void CommitEditor();

  // Called when the grid asks for the colour settings (on focus).
  std::function<void()> OnEnter;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void focusInEvent(QFocusEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void keyboardSearch(const QString& search) override;

 private:
  friend class TPwdGridDelegate;
  // Defers showing the editor while the grid and the query are moving.
  class TBusy {
   public:
    explicit TBusy(TPwdGrid& grid);
    ~TBusy();

   private:
    TPwdGrid& grid_;
  };

  bool CanEdit() const;
  void ShowEditor();
  // Closes the editor without writing it (the rows are about to be re-read).
  void DropEditor();
  // The first change typed in the editor: the record goes into edit state.
  void BeginEdit(QLineEdit* editor);
  // Escape on an untouched cell: the record's pending changes go.
  void CancelRecord();
  // Moves the query to the record of `row`; false when the move was refused.
  bool MoveToRow(int row);
  void ColExit(int column);
  void ColEnter(int column);
  void StampEmptyDate();
  void AppendRecord();
  bool HandleKey(QKeyEvent* event, bool in_editor);

  TPwdGridModel* model_;
  QColor grid_colour_ = QColor(0xFF, 0xFF, 0xBB);
  QColor odd_colour_ = QColor(0x91, 0x91, 0xFF);
  QColor current_colour_ = QColor(0x00, 0xFF, 0x00);
  bool following_ = false;  // the view follows the query: no move back
  int last_column_ = -1;
  QPointer<QWidget> editor_;
  bool closing_editor_ = false;
  int busy_ = 0;
  bool editor_wanted_ = false;
};

}  // namespace tarn
