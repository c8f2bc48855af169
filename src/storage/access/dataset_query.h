// TCairnQuery: the query dataset a window binds to. Opening compiles and
// executes SQL (TQueryStatement) with RequestLive and MaxRowCount; a copied
// result makes ReadOnly true. The dataset moves through the result cursor,
// keeps the current record in a buffer, edits it under the session's lock
// protocol and posts it back; the before/after events and the data
// observers tell bound views what happened.
//
// Field values are read and written by field name: as text (dates
// "dd/mm/yyyy", date-times with " hh:mm:ss" unless at midnight), as dates,
// as memo text and through blob streams. An unknown field name raises
// ECairnComponentError "Field '<name>' not found".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/access/data_cursor.h"
#include "storage/access/dataset_database.h"
#include "storage/access/dataset_session.h"

namespace cairn {

class TQueryStatement;
class TCairnBlobStream;
class TCairnQuery;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// What changed, for observers (grid models, memo views, navigators).
enum class TDataEvent {
  deLayoutChange,   // opened or closed: fields and rows are new
  deDataSetChange,  // rows were added, removed, re-read or re-ordered
  deRecordChange,   // a field of the current (edited) record changed
  deDataSetScroll,  // the current record moved
  deUpdateState,    // the state (browse/edit/insert) changed
};

using TBookmark = std::vector<uint8_t>;

struct TCairnDate {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const TCairnDate&) const = default;
};

// A record fetched by number without moving the dataset; valid while the
// query stays open.
class TCairnRecordView {
 public:
  uint32_t RecNo() const { return recno_; }
  bool IsNull(std::string_view field) const;
  std::string AsText(std::string_view field) const;
  std::optional<TCairnDate> AsDate(std::string_view field) const;
  // Memo or blob contents (read on demand).
  std::string AsMemo(std::string_view field) const;
  std::span<const uint8_t> Image() const { return image_; }

 private:
  friend class TCairnQuery;
  const TCairnQuery* query_ = nullptr;
  uint32_t recno_ = 0;
  std::vector<uint8_t> image_;
};

// Base of the engine's datasets: properties shared by every dataset kind.
class TCairnDataSet {
 public:
  using TDataSetNotifyEvent = std::function<void(TCairnQuery& dataset)>;

  std::string DatabaseName;
  std::string SessionName;
  bool AutoCalcFields = true;
  bool AutoDisplayLabels = false;
  bool CopyOnAppend = false;
  std::string Filter;
  bool Filtered = false;
  uint32_t FilterOptions = 0;

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeEdit, AfterEdit, BeforeInsert, AfterInsert;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord;
};

class TCairnDBDataSet : public TCairnDataSet {};

class TCairnQuery : public TCairnDBDataSet {
 public:
  // Progress of a long execution (copying and sorting a result), percent.
  using TProgressEvent = std::function<void(TCairnQuery& dataset, int percent)>;
  using TObserver = std::function<void(TDataEvent event)>;

  explicit TCairnQuery(const void* owner = nullptr, std::string name = "Query");
  ~TCairnQuery();
  TCairnQuery(const TCairnQuery&) = delete;
  TCairnQuery& operator=(const TCairnQuery&) = delete;

  const void* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  std::string_view EngineVersion() const { return kCairnEngineVersion; }

  // Statement lines, joined with line breaks. Changing them closes the query.
  std::vector<std::string> SQL;
  std::vector<std::string> Params;
  bool ParamCheck = true;
  const void* DataSource = nullptr;
  bool RequestLive = false;
  int32_t MaxRowCount = -1;
  TProgressEvent OnQueryProgress;

  // --- Open / close -------------------------------------------------------
  void Open();
  void Close();
  bool Active() const { return state_ != TDataSetState::dsInactive; }
  void SetActive(bool active) { active ? Open() : Close(); }
  TDataSetState State() const { return state_; }
  // Whether the open result is a cursor on the table itself.
  bool IsLive() const;

  bool ReadOnly() const { return read_only_; }
  // Taken at the next open. A copied result reads true while it is open;
  // closing restores the value set here, so a later live result can edit.
  void SetReadOnly(bool value) {
    user_read_only_ = value;
    if (!Active() || value) read_only_ = value;
  }
  // Writable cursor and not ReadOnly.
  bool CanModify() const;

  // --- Navigation: moving while editing or inserting posts first ---------
  void First();
  void Prior();
  void Next();
  void Last();
  // Moves up to `distance` records; returns how far it moved.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty();
  // 1-based number of the current record; 0 with none (or while inserting).
  uint32_t RecNo() const;
  void SetRecNo(uint32_t recno);
  uint32_t RecordCount();

  // A record by its 1-based number without moving the dataset: one descent
  // through the counted index. nullopt outside 1..RecordCount.
  std::optional<TCairnRecordView> FetchRecord(uint32_t recno) const;

  // --- Editing ------------------------------------------------------------
  // "Cannot modify a read-only dataset" when !CanModify().
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  void FlushBuffers();

  // --- Fields -------------------------------------------------------------
  std::vector<std::string> FieldNames() const;
  bool HasField(std::string_view name) const;
  // Display label: the field's description when AutoDisplayLabels is on and
  // it has one, else its name.
  std::string DisplayLabel(std::string_view name) const;
  const TFieldDescriptor& FieldDef(std::string_view name) const;

  bool FieldIsNull(std::string_view name) const;
  std::string FieldAsText(std::string_view name) const;
  std::optional<TCairnDate> FieldAsDate(std::string_view name) const;
  std::string FieldAsMemo(std::string_view name) const;
  // The setters need the edit or insert state ("Dataset not in edit or
  // insert mode" otherwise). An empty text makes the field null.
  void SetFieldAsText(std::string_view name, std::string_view text);
  void SetFieldAsDate(std::string_view name, std::optional<TCairnDate> date);
  void SetFieldAsMemo(std::string_view name, std::string_view text);
  void SetFieldNull(std::string_view name);
  // Read or write the blob field's contents as a stream.
  enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
  std::unique_ptr<TCairnBlobStream> CreateBlobStream(std::string_view name, TBlobStreamMode mode);

  // --- Bookmarks ----------------------------------------------------------
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkValid(const TBookmark& bookmark);
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;

  // --- Change notification ------------------------------------------------
  int AddObserver(TObserver observer);
  void RemoveObserver(int id);

  // The engine objects (for tools and tests).
  TDataCursor* Cursor();
  TQueryStatement* Statement() { return statement_.get(); }

 private:
  friend class TCairnBlobStream;
  friend class TCairnRecordView;

  uint16_t FieldNumber(std::string_view name) const;
  void CheckActive() const;
  void CheckBrowseMove();
  void Fetch(uint16_t code);
  void AfterMove();
  void Notify(TDataEvent event);
  void Fire(const TDataSetNotifyEvent& event);
  void SetState(TDataSetState state);
  std::string BlobContents(std::span<const uint8_t> image, uint16_t field) const;
  void SetBlob(uint16_t field, std::vector<uint8_t> bytes);
  void ReleaseEditLock();

  const void* owner_;
  std::string name_;
  TDataSetState state_ = TDataSetState::dsInactive;
  bool read_only_ = false;
  bool user_read_only_ = false;
  bool cursor_read_only_ = false;
  bool bof_ = true;
  bool eof_ = true;
  uint32_t recno_ = 0;
  TCairnDatabase* database_ = nullptr;
  std::unique_ptr<TQueryStatement> statement_;
  mutable std::unique_ptr<TDataCursor> peek_;  // FetchRecord's own cursor
  std::vector<uint8_t> buffer_;                // current (or edited) record
  std::vector<uint8_t> original_;              // as read, for the edit's compare
  TBlobValues pending_blobs_;
  bool has_current_ = false;
  bool modified_ = false;     // the edit or insert changed a field
  uint16_t cursor_edge_ = 0;  // code of the last fetch (8705/8706 at an end)
  int next_observer_ = 1;
  std::vector<std::pair<int, TObserver>> observers_;
};

}  // namespace cairn
