// The main window's repository: opened during creation once the start-up
// password is known, posted when the window closes, flushed when it is
// destroyed. The program uses the table-backed TRepositoryStore; without a
// query the window has an empty grid.
#pragma once

#include <QString>

class QWidget;

namespace cairn {
class TCairnQuery;
}

namespace tarn {

class TRepositorySeam {
 public:
  virtual ~TRepositorySeam() = default;
  // Opens the store; may ask the user questions and request termination.
  virtual void Open(QWidget* owner) = 0;
  virtual bool IsOpen() const = 0;
  // True when the open result accepts edits (otherwise "Edits Disabled").
  virtual bool IsLive() const = 0;
  // True while a record is in edit or insert state.
  virtual bool IsEditing() const = 0;
  // Posts the pending edit; throws on failure (duplicate key, lock refused).
  virtual void Post() = 0;
  // Writes every buffered change of the table to disk.
  virtual void FlushBuffers() = 0;
  // Reopens the records ordered by `field`; throws when that fails.
  virtual void Reorder(const QString& field) {}
  // The live query the grid binds to; none without a table-backed store.
  virtual cairn::TCairnQuery* Query() { return nullptr; }
};

// No store: never open, nothing to post or flush.
class TNoRepository : public TRepositorySeam {
 public:
  void Open(QWidget*) override {}
  bool IsOpen() const override { return false; }
  bool IsLive() const override { return false; }
  bool IsEditing() const override { return false; }
  void Post() override {}
  void FlushBuffers() override {}
};

}  // namespace tarn
