#include "storage/access/dataset_query.h"

#include <algorithm>
#include <cctype>

#include "storage/access/dataset_blob_stream.h"
#include "storage/access/dataset_fields.h"
#include "storage/access/query_statement.h"
#include "storage/base/ascii_text.h"
#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace cairn {
namespace {

using TGuard = std::lock_guard<std::recursive_mutex>;

[[noreturn]] void Refuse(const std::string& message) { throw ECairnComponentError(message); }

}  // namespace

// ------------------------------------------------------------- record view

bool TCairnRecordView::IsNull(std::string_view field) const {
  const TFieldDescriptor& d = query_->FieldDef(field);
  return !GetField(d, image_).has_value();
}

std::string TCairnRecordView::AsText(std::string_view field) const {
  const TFieldDescriptor& d = query_->FieldDef(field);
  if (d.IsBlob()) return AsMemo(field);
  return FieldText(d, image_);
}

std::optional<TCairnDate> TCairnRecordView::AsDate(std::string_view field) const {
  return FieldDate(query_->FieldDef(field), image_);
}

std::string TCairnRecordView::AsMemo(std::string_view field) const {
  return query_->BlobContents(image_, query_->FieldNumber(field));
}

// ------------------------------------------------------------------ query

TCairnQuery::TCairnQuery(const void* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {
  TCairnSessionList::Instance().AddMember(
      owner_, [this](const std::string& session) { SessionName = session; }, this);
}

TCairnQuery::~TCairnQuery() {
  // Views and handlers may be gone already; closing tells nobody.
  observers_.clear();
  BeforeClose = AfterClose = nullptr;
  try {
    Close();
  } catch (...) {
  }
  TCairnSessionList::Instance().RemoveMember(this);
}

bool TCairnQuery::IsLive() const { return statement_ && statement_->IsLive(); }

bool TCairnQuery::CanModify() const { return Active() && !cursor_read_only_ && !read_only_; }

TDataCursor* TCairnQuery::Cursor() {
  return statement_ && statement_->IsOpen() ? &statement_->Cursor() : nullptr;
}

void TCairnQuery::CheckActive() const {
  if (!Active()) Refuse("Cannot perform this operation on a closed dataset");
}

void TCairnQuery::Fire(const TDataSetNotifyEvent& event) {
  if (event) event(*this);
}

void TCairnQuery::Notify(TDataEvent event) {
  const auto observers = observers_;
  for (const auto& [id, observer] : observers) observer(event);
}

void TCairnQuery::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  Notify(TDataEvent::deUpdateState);
}

int TCairnQuery::AddObserver(TObserver observer) {
  observers_.emplace_back(next_observer_, std::move(observer));
  return next_observer_++;
}

void TCairnQuery::RemoveObserver(int id) {
  std::erase_if(observers_, [&](const auto& o) { return o.first == id; });
}

// ------------------------------------------------------------ open, close

void TCairnQuery::Open() {
  TGuard guard(TCairnSession::Lock());
  if (Active()) return;
  Fire(BeforeOpen);
  TCairnSession& session = TCairnSessionList::Instance().SessionFor(SessionName);
  TCairnDatabase& database = session.OpenDatabase(DatabaseName);
  try {
    statement_ = std::make_unique<TQueryStatement>(session.Engine(), database.Engine());
    std::string text;
    for (const std::string& line : SQL) {
      if (!text.empty()) text += '\n';
      text += line;
    }
    statement_->SetText(text);
    TQueryStatement::TProgress progress;
    if (OnQueryProgress) progress = [this](int percent) { OnQueryProgress(*this, percent); };
    statement_->Execute(RequestLive, MaxRowCount, progress);
  } catch (...) {
    statement_.reset();
    session.CloseDatabase(database);
    throw;
  }
  database_ = &database;
  database.datasets_.push_back(this);
  cursor_read_only_ = !statement_->IsLive();
  if (cursor_read_only_) read_only_ = true;
  state_ = TDataSetState::dsBrowse;
  TDataCursor& cursor = statement_->Cursor();
  cursor.SetToBegin();
  Fetch(cursor.Next(buffer_));
  bof_ = true;
  Notify(TDataEvent::deLayoutChange);
  Fire(AfterOpen);
  Fire(AfterScroll);
}

void TCairnQuery::Close() {
  TGuard guard(TCairnSession::Lock());
  if (!Active()) return;
  Fire(BeforeClose);
  if (state_ == TDataSetState::dsEdit) ReleaseEditLock();
  if (peek_) {
    peek_->Close();
    peek_.reset();
  }
  statement_.reset();  // closes the cursor and removes a copied result
  if (database_) {
    std::erase(database_->datasets_, this);
    database_->Session().CloseDatabase(*database_);
    database_ = nullptr;
  }
  state_ = TDataSetState::dsInactive;
  read_only_ = user_read_only_;
  has_current_ = false;
  bof_ = eof_ = true;
  recno_ = 0;
  buffer_.clear();
  original_.clear();
  pending_blobs_.clear();
  Notify(TDataEvent::deLayoutChange);
  Fire(AfterClose);
}

// ------------------------------------------------------------- navigation

// Takes the result of a fetch into the buffer: 8705 and 8706 are the
// beginning and end of the data (the record shown stays), other codes are
// failures.
void TCairnQuery::Fetch(uint16_t code) {
  TDataCursor& cursor = statement_->Cursor();
  cursor_edge_ = code;
  if (code == CAIRN_NONE) {
    has_current_ = true;
    recno_ = cursor.RecordNumber();
    bof_ = eof_ = false;
    return;
  }
  if (code != CAIRN_BOF && code != CAIRN_EOF && code != CAIRN_NOCURRREC) {
    RaiseEngineError(code, cursor.Table().Name());
  }
  if (code == CAIRN_EOF) eof_ = true;
  if (code == CAIRN_BOF) bof_ = true;
  if (code == CAIRN_NOCURRREC || !has_current_) {
    has_current_ = false;
    recno_ = 0;
    bof_ = eof_ = true;
    buffer_ = cursor.NewRecord();
  }
}

void TCairnQuery::CheckBrowseMove() {
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) {
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  }
}

void TCairnQuery::AfterMove() {
  Notify(TDataEvent::deDataSetScroll);
  Fire(AfterScroll);
}

void TCairnQuery::First() {
  TGuard guard(TCairnSession::Lock());
  CheckBrowseMove();
  Fire(BeforeScroll);
  TDataCursor& cursor = statement_->Cursor();
  cursor.SetToBegin();
  has_current_ = false;
  Fetch(cursor.Next(buffer_));
  bof_ = true;
  AfterMove();
}

void TCairnQuery::Last() {
  TGuard guard(TCairnSession::Lock());
  CheckBrowseMove();
  Fire(BeforeScroll);
  TDataCursor& cursor = statement_->Cursor();
  cursor.SetToEnd();
  has_current_ = false;
  Fetch(cursor.Prior(buffer_));
  eof_ = true;
  AfterMove();
}

int TCairnQuery::MoveBy(int distance) {
  TGuard guard(TCairnSession::Lock());
  CheckBrowseMove();
  if (distance == 0) return 0;
  Fire(BeforeScroll);
  TDataCursor& cursor = statement_->Cursor();
  int moved = 0;
  std::vector<uint8_t> record;
  // A cursor that ran off an end steps back onto the record still shown.
  if (has_current_ && ((distance < 0 && cursor_edge_ == CAIRN_EOF) ||
                       (distance > 0 && cursor_edge_ == CAIRN_BOF))) {
    const uint16_t code = distance > 0 ? cursor.Next(record) : cursor.Prior(record);
    if (code != CAIRN_NONE) Fetch(code);
  }
  while (moved != distance) {
    const uint16_t code = distance > 0 ? cursor.Next(record) : cursor.Prior(record);
    if (code != CAIRN_NONE) {
      Fetch(code);
      break;
    }
    buffer_ = record;
    Fetch(code);
    moved += distance > 0 ? 1 : -1;
  }
  AfterMove();
  return moved;
}

void TCairnQuery::Next() { MoveBy(1); }
void TCairnQuery::Prior() { MoveBy(-1); }

bool TCairnQuery::IsEmpty() {
  CheckActive();
  return !has_current_ && state_ != TDataSetState::dsInsert;
}

uint32_t TCairnQuery::RecNo() const {
  if (!Active() || state_ == TDataSetState::dsInsert || !has_current_) return 0;
  return recno_;
}

void TCairnQuery::SetRecNo(uint32_t recno) {
  TGuard guard(TCairnSession::Lock());
  CheckBrowseMove();
  Fire(BeforeScroll);
  TDataCursor& cursor = statement_->Cursor();
  const uint16_t code = cursor.SetToRecordNumber(recno);
  has_current_ = false;
  Fetch(code == CAIRN_NONE ? cursor.GetCurrent(buffer_) : code);
  AfterMove();
}

uint32_t TCairnQuery::RecordCount() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  return statement_->Cursor().RecordCount();
}

std::optional<TCairnRecordView> TCairnQuery::FetchRecord(uint32_t recno) const {
  TGuard guard(TCairnSession::Lock());
  if (!Active() || recno == 0) return std::nullopt;
  if (!peek_) {
    peek_ = std::make_unique<TDataCursor>();
    peek_->Open(statement_->ResultDirectory(), statement_->ResultTable(), statement_->ResultIndex(),
                false, true);
  }
  TCairnRecordView view;
  if (peek_->SetToRecordNumber(recno) != CAIRN_NONE) return std::nullopt;
  if (peek_->GetCurrent(view.image_) != CAIRN_NONE) return std::nullopt;
  view.query_ = this;
  view.recno_ = recno;
  return view;
}

// ----------------------------------------------------------------- editing

void TCairnQuery::ReleaseEditLock() {
  TDataCursor* cursor = Cursor();
  if (cursor && cursor->LockedSlot() != 0) cursor->Unlock();
}

void TCairnQuery::Edit() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (!CanModify()) Refuse("Cannot modify a read-only dataset");
  if (!has_current_) {
    Insert();
    return;
  }
  Fire(BeforeEdit);
  TDataCursor& cursor = statement_->Cursor();
  std::vector<uint8_t> shown = buffer_;
  const uint16_t code = cursor.GetCurrent(shown, true);
  if (code != CAIRN_NONE) {
    ReleaseEditLock();
    RaiseEngineError(code, cursor.Table().Name());
  }
  buffer_ = shown;
  original_ = buffer_;
  pending_blobs_.clear();
  modified_ = false;
  SetState(TDataSetState::dsEdit);
  Fire(AfterEdit);
}

void TCairnQuery::Insert() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  if (!CanModify()) Refuse("Cannot modify a read-only dataset");
  if (state_ == TDataSetState::dsEdit) {
    // The edited record's lock goes before the new record takes its place.
    ReleaseEditLock();
    if (modified_) {
      Post();
    } else {
      state_ = TDataSetState::dsBrowse;
      buffer_ = original_;
    }
  } else if (state_ == TDataSetState::dsInsert) {
    CheckBrowseMove();
  }
  Fire(BeforeInsert);
  Fire(BeforeScroll);
  original_ = buffer_;
  buffer_ = statement_->Cursor().NewRecord();
  pending_blobs_.clear();
  modified_ = false;
  SetState(TDataSetState::dsInsert);
  Fire(OnNewRecord);
  Notify(TDataEvent::deRecordChange);
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TCairnQuery::Append() { Insert(); }

void TCairnQuery::Post() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforePost);
  TDataCursor& cursor = statement_->Cursor();
  if (state_ == TDataSetState::dsEdit) {
    cursor.Modify(buffer_, true, pending_blobs_);
  } else {
    cursor.Append(buffer_, pending_blobs_);
  }
  pending_blobs_.clear();
  modified_ = false;
  has_current_ = false;
  Fetch(cursor.GetCurrent(buffer_));
  SetState(TDataSetState::dsBrowse);
  Notify(TDataEvent::deDataSetChange);
  Fire(AfterPost);
}

void TCairnQuery::Cancel() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforeCancel);
  if (state_ == TDataSetState::dsEdit) ReleaseEditLock();
  pending_blobs_.clear();
  modified_ = false;
  buffer_ = original_;
  TDataCursor& cursor = statement_->Cursor();
  std::vector<uint8_t> current;
  if (cursor.GetCurrent(current) == CAIRN_NONE) buffer_ = std::move(current);
  SetState(TDataSetState::dsBrowse);
  Notify(TDataEvent::deRecordChange);
  Fire(AfterCancel);
}

void TCairnQuery::Delete() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (!CanModify()) Refuse("Cannot modify a read-only dataset");
  if (!has_current_) Refuse("Cannot perform this operation on an empty dataset");
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  TDataCursor& cursor = statement_->Cursor();
  cursor.Delete(state_ == TDataSetState::dsEdit ? original_ : buffer_);
  pending_blobs_.clear();
  modified_ = false;
  state_ = TDataSetState::dsBrowse;
  has_current_ = false;
  std::vector<uint8_t> record;
  uint16_t code = cursor.Next(record);
  if (code == CAIRN_NONE) {
    buffer_ = std::move(record);
  } else {
    code = cursor.Prior(record);
    if (code == CAIRN_NONE) buffer_ = std::move(record);
  }
  Fetch(code);
  if (code == CAIRN_NONE) bof_ = eof_ = false;
  Notify(TDataEvent::deUpdateState);
  Notify(TDataEvent::deDataSetChange);
  Fire(AfterDelete);
  Fire(AfterScroll);
}

void TCairnQuery::Refresh() {
  TGuard guard(TCairnSession::Lock());
  CheckBrowseMove();
  Fire(BeforeRefresh);
  TDataCursor& cursor = statement_->Cursor();
  cursor.Refresh();
  has_current_ = false;
  uint16_t code = cursor.GetCurrent(buffer_);
  if (code != CAIRN_NONE) code = cursor.Next(buffer_);
  Fetch(code);
  if (code == CAIRN_NONE) bof_ = eof_ = false;
  Notify(TDataEvent::deDataSetChange);
  Fire(AfterRefresh);
}

void TCairnQuery::FlushBuffers() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  TDataCursor& cursor = statement_->Cursor();
  cursor.FlushBuffers();
  cursor.FlushOsBuffers();
}

// ------------------------------------------------------------------ fields

std::vector<std::string> TCairnQuery::FieldNames() const {
  std::vector<std::string> names;
  if (!statement_) return names;
  for (const TResultField& f : statement_->ResultFields()) names.push_back(f.name);
  return names;
}

bool TCairnQuery::HasField(std::string_view name) const {
  if (!statement_) return false;
  for (const TResultField& f : statement_->ResultFields()) {
    if (SameAsciiText(f.name, name)) return true;
  }
  return false;
}

uint16_t TCairnQuery::FieldNumber(std::string_view name) const {
  CheckActive();
  for (const TResultField& f : statement_->ResultFields()) {
    if (SameAsciiText(f.name, name)) return f.field;
  }
  Refuse("Field '" + std::string(name) + "' not found");
}

const TFieldDescriptor& TCairnQuery::FieldDef(std::string_view name) const {
  CheckActive();
  for (const TResultField& f : statement_->ResultFields()) {
    if (SameAsciiText(f.name, name)) return f.descriptor;
  }
  Refuse("Field '" + std::string(name) + "' not found");
}

std::string TCairnQuery::DisplayLabel(std::string_view name) const {
  const TFieldDescriptor& d = FieldDef(name);
  if (AutoDisplayLabels) {
    std::string description = d.Description();
    if (!description.empty()) return description;
  }
  return d.Name();
}

bool TCairnQuery::FieldIsNull(std::string_view name) const {
  const uint16_t field = FieldNumber(name);
  const TFieldDescriptor& d = FieldDef(name);
  if (d.IsBlob()) {
    if (auto it = pending_blobs_.find(field); it != pending_blobs_.end()) return it->second.empty();
  }
  return !GetField(d, buffer_).has_value();
}

std::string TCairnQuery::FieldAsText(std::string_view name) const {
  const TFieldDescriptor& d = FieldDef(name);
  if (d.IsBlob()) return FieldAsMemo(name);
  return FieldText(d, buffer_);
}

std::optional<TCairnDate> TCairnQuery::FieldAsDate(std::string_view name) const {
  return FieldDate(FieldDef(name), buffer_);
}

std::string TCairnQuery::BlobContents(std::span<const uint8_t> image, uint16_t field) const {
  TDataCursor* cursor = statement_ && statement_->IsOpen() ? &statement_->Cursor() : nullptr;
  if (!cursor) Refuse("Cannot perform this operation on a closed dataset");
  const std::vector<uint8_t> bytes = cursor->ReadBlob(image, field);
  return std::string(bytes.begin(), bytes.end());
}

std::string TCairnQuery::FieldAsMemo(std::string_view name) const {
  const uint16_t field = FieldNumber(name);
  if (auto it = pending_blobs_.find(field); it != pending_blobs_.end()) {
    return std::string(it->second.begin(), it->second.end());
  }
  if (state_ == TDataSetState::dsInsert || !GetField(FieldDef(name), buffer_)) return {};
  return BlobContents(buffer_, field);
}

namespace {
void CheckEditing(TDataSetState state) {
  if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert) {
    throw ECairnComponentError("Dataset not in edit or insert mode");
  }
}
}  // namespace

void TCairnQuery::SetFieldAsText(std::string_view name, std::string_view text) {
  CheckActive();
  CheckEditing(state_);
  const TFieldDescriptor& d = FieldDef(name);
  if (d.IsBlob()) {
    SetBlob(d.FieldNumber(), std::vector<uint8_t>(text.begin(), text.end()));
    return;
  }
  std::vector<uint8_t> changed = buffer_;
  if (!SetFieldText(d, changed, text)) {
    Refuse("'" + std::string(text) + "' is not a valid value for field '" + d.Name() + "'");
  }
  buffer_ = std::move(changed);
  modified_ = true;
  Notify(TDataEvent::deRecordChange);
}

void TCairnQuery::SetFieldAsDate(std::string_view name, std::optional<TCairnDate> date) {
  CheckActive();
  CheckEditing(state_);
  const TFieldDescriptor& d = FieldDef(name);
  std::vector<uint8_t> changed = buffer_;
  if (!SetFieldDate(d, changed, date)) {
    Refuse("Invalid date for field '" + d.Name() + "'");
  }
  buffer_ = std::move(changed);
  modified_ = true;
  Notify(TDataEvent::deRecordChange);
}

void TCairnQuery::SetFieldAsMemo(std::string_view name, std::string_view text) {
  SetFieldAsText(name, text);
}

void TCairnQuery::SetFieldNull(std::string_view name) { SetFieldAsText(name, {}); }

void TCairnQuery::SetBlob(uint16_t field, std::vector<uint8_t> bytes) {
  CheckEditing(state_);
  pending_blobs_[field] = std::move(bytes);
  modified_ = true;
  Notify(TDataEvent::deRecordChange);
}

std::unique_ptr<TCairnBlobStream> TCairnQuery::CreateBlobStream(std::string_view name,
                                                                TBlobStreamMode mode) {
  CheckActive();
  if (mode != TBlobStreamMode::bmRead) CheckEditing(state_);
  return std::make_unique<TCairnBlobStream>(*this, name, mode);
}

// --------------------------------------------------------------- bookmarks

TBookmark TCairnQuery::GetBookmark() {
  TGuard guard(TCairnSession::Lock());
  CheckActive();
  if (!has_current_) return {};
  return statement_->Cursor().GetBookmark();
}

void TCairnQuery::GotoBookmark(const TBookmark& bookmark) {
  TGuard guard(TCairnSession::Lock());
  CheckBrowseMove();
  Fire(BeforeScroll);
  TDataCursor& cursor = statement_->Cursor();
  const uint16_t code = cursor.SetToBookmark(bookmark);
  has_current_ = false;
  Fetch(code == CAIRN_NONE ? cursor.GetCurrent(buffer_) : code);
  AfterMove();
}

bool TCairnQuery::BookmarkValid(const TBookmark& bookmark) {
  TGuard guard(TCairnSession::Lock());
  if (!Active() || bookmark.empty()) return false;
  if (!FetchRecord(1) && RecordCount() == 0) return false;
  if (peek_->SetToBookmark(bookmark) != CAIRN_NONE) return false;
  return peek_->GetBookmark() == bookmark;
}

int TCairnQuery::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  return statement_->Cursor().CompareBookmarks(a, b);
}

}  // namespace cairn
