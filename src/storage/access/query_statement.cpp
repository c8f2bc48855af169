#include "storage/access/query_statement.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "storage/access/data_table.h"
#include "storage/access/index_file.h"
#include "storage/access/query_sort_keys.h"
#include "storage/base/ascii_text.h"
#include "storage/base/engine_error.h"
#include "storage/files/blob_buffer.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"

namespace cairn {
namespace {

namespace fs = std::filesystem;

// Result tables are "_QR<pid>_<n>": the process id tells, at clean-up,
// whether the owner still runs.
constexpr std::string_view kResultPrefix = "_QR";

[[noreturn]] void SqlError(const std::string& message) {
  throw ECairnEngineError(CAIRN_SQLPARSE, {message});
}

// The owner's pid of a result table file name, or 0.
long ResultOwner(const std::string& file) {
  if (file.size() <= kResultPrefix.size() + 4 || file.compare(0, 3, kResultPrefix) != 0) return 0;
  const std::string ext = file.substr(file.size() - 4);
  if (!SameAsciiText(ext, ".DAT") && !SameAsciiText(ext, ".IDX") && !SameAsciiText(ext, ".BLB") &&
      !SameAsciiText(ext, ".JNL"))
    return 0;
  const std::string rest = file.substr(3, file.size() - 7);
  const size_t sep = rest.find('_');
  if (sep == 0 || sep == std::string::npos || sep + 1 >= rest.size()) return 0;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (i != sep && !std::isdigit(static_cast<unsigned char>(rest[i]))) return 0;
  }
  return std::stol(rest.substr(0, sep));
}

}  // namespace

TQueryStatement::TQueryStatement(TDataSession& session, TDataDirectory& directory)
    : session_(session), directory_(directory) {}

TQueryStatement::~TQueryStatement() {
  try {
    Close();
  } catch (...) {
  }
}

void TQueryStatement::SetText(std::string text) {
  Close();
  text_ = std::move(text);
}

void TQueryStatement::Compile() { query_ = ParseQuery(text_); }

void TQueryStatement::RemoveStaleResults(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const long pid = ResultOwner(entry.path().filename().string());
    if (pid <= 0 || pid == long(::getpid())) continue;
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code rm;
    fs::remove(entry.path(), rm);
  }
}

void TQueryStatement::Execute(bool request_live, int32_t max_rows, TProgress progress) {
  Close();
  query_ = ParseQuery(text_);
  auto source = std::make_unique<TDataCursor>();
  source->Open(directory_, query_.tables.front().name);
  try {
    Resolve(*source);
    const bool plain = !query_.where && !query_.group_by && !query_.having && !query_.distinct &&
                       !query_.top && !query_.into && !query_.aggregates && !query_.union_;
    const bool live =
        request_live && plain && max_rows < 0 && (!query_.has_order_by || MatchIndex(*source));
    if (live) {
      result_index_ = query_.index_number > 0
                          ? source->Table().Index().Descriptor(query_.index_number).name
                          : std::string();
      source->SetIndex(result_index_);
      source->SetToBegin();
      for (TResultField& f : result_fields_) f.descriptor = source->Table().Data().Field(f.field);
      cursor_ = std::move(source);
      result_directory_ = &directory_;
      result_table_ = query_.tables.front().name;
      live_ = true;
      return;
    }
    OpenCopied(*source, max_rows, progress);
    source->Close();
  } catch (...) {
    source->Close();
    Close();
    throw;
  }
}

void TQueryStatement::Resolve(TDataCursor& source) {
  const TSourceTable& table = query_.tables.front();
  TDataFile& data = source.Table().Data();
  auto correlation_ok = [&](const std::string& correlation) {
    return correlation.empty() || SameAsciiText(correlation, table.correlation) ||
           (table.correlation.empty() && SameAsciiText(correlation, table.name));
  };
  result_fields_.clear();
  if (query_.select_all) {
    for (const TFieldDescriptor& f : data.Fields()) {
      result_fields_.push_back({f.Name(), f.FieldNumber(), f});
    }
  } else {
    for (const TSelectColumn& c : query_.select) {
      const TFieldDescriptor f = data.FieldByName(c.name);
      if (f.FieldNumber() == 0 || !correlation_ok(c.correlation)) {
        SqlError("Invalid column name '" + c.name + "' or table correlation name '" +
                 c.correlation + "' specified in select list");
      }
      result_fields_.push_back({f.Name(), f.FieldNumber(), f});
    }
  }
  if (query_.order_by.size() > kMaxOrderByColumns) {
    SqlError("Maximum number of columns (" + std::to_string(kMaxOrderByColumns) +
             ") in ORDER BY clause exceeded");
  }
  for (TOrderByColumn& o : query_.order_by) {
    if (o.number > 0) {
      if (o.number > int64_t(result_fields_.size()) ||
          result_fields_[size_t(o.number - 1)].descriptor.IsBlob()) {
        SqlError("Invalid column number '" + std::to_string(o.number) +
                 "' specified in ORDER BY clause");
      }
      o.field = result_fields_[size_t(o.number - 1)].field;
      continue;
    }
    uint16_t found = 0;
    if (correlation_ok(o.correlation)) {
      for (const TResultField& r : result_fields_) {
        if (SameAsciiText(r.name, o.name)) {
          found = r.field;
          break;
        }
      }
      if (!found && !o.name.empty()) found = data.FieldByName(o.name).FieldNumber();
    }
    if (!found || data.Field(found).IsBlob()) {
      SqlError("Invalid column name '" + o.name + "' or table correlation name '" + o.correlation +
               "' specified in ORDER BY clause");
    }
    o.field = found;
  }
}

bool TQueryStatement::MatchIndex(TDataCursor& source) {
  TDataTable& table = source.Table();
  TIndexFile& index = table.Index();
  const size_t n = std::min<size_t>(query_.order_by.size(), kMaxKeyFields);
  bool all_descending = true, any_string = false;
  for (size_t j = 0; j < n; ++j) {
    all_descending = all_descending && query_.order_by[j].descending;
    any_string = any_string || table.Data().Field(query_.order_by[j].field).Type() == kFldString;
  }
  for (int i = 0; i <= kMaxSecondaryIndexes; ++i) {
    if (i == 0 ? !table.HasPrimaryKey() : !index.IndexInUse(i)) continue;
    const TIndexDescriptor d = index.Descriptor(i);
    if (d.descending != all_descending) continue;
    if (any_string && d.case_insensitive != query_.nocase) continue;
    if (d.field_count < n) continue;
    bool match = true;
    for (size_t j = 0; j < n && match; ++j) {
      const TOrderByColumn& o = query_.order_by[j];
      // Under an overall descending index every field runs descending, so
      // only the per-field flags of an ascending index tell the order.
      match = d.fields[j] == int16_t(o.field) &&
              (d.descending || (d.field_descending[j] != 0) == o.descending);
    }
    if (match) {
      query_.index_matched = true;
      query_.index_number = i;
      return true;
    }
  }
  return false;
}

void TQueryStatement::OpenCopied(TDataCursor& source, int32_t max_rows, const TProgress& progress) {
  // The rows of an in-memory table stay in memory: its copy goes there too.
  std::string folder = directory_.InMemory() ? directory_.Path() : session_.ScratchDirectory();
  if (folder.empty()) folder = ".";
  if (!directory_.InMemory()) {
    static std::mutex mutex;
    static std::set<std::string> cleaned;
    std::lock_guard<std::mutex> lock(mutex);
    if (cleaned.insert(folder).second) RemoveStaleResults(folder);
  }
  TDataDirectory& scratch = session_.OpenDirectory(folder);
  TDataFile& src = source.Table().Data();

  // The result's columns: the select list, then ORDER BY fields it lacks.
  std::vector<uint16_t> sources;
  for (const TResultField& f : result_fields_) sources.push_back(f.field);
  for (const TOrderByColumn& o : query_.order_by) {
    if (std::find(sources.begin(), sources.end(), o.field) == sources.end()) {
      sources.push_back(o.field);
    }
  }
  TTableDefinition definition;
  for (uint16_t s : sources) {
    TFieldDescriptor f = src.Field(s);
    // A copy holds values, not rules: the ID becomes a plain integer (the
    // sort renumbers record IDs) and no checks apply.
    if (f.IsAutoInc()) f.SetSubtype(kSubNone);
    f.SetRequired(false);
    f.SetMinValue("");
    f.SetMaxValue("");
    f.SetDefaultValue("");
    definition.fields.push_back(f);
  }
  LayoutFields(definition.fields);
  definition.locale = TTableLocale::MakeLcid(src.LanguageId(), src.SortId());
  definition.password = src.Password();
  definition.blob_block_size = src.BlobBlockSize();

  std::string name;
  for (int n = 0;; ++n) {
    name = std::string(kResultPrefix) + std::to_string(::getpid()) + "_" + std::to_string(n);
    if (!scratch.TableExists(name)) break;
  }
  // The name carries this process's id, so whatever a failed creation
  // leaves under it is ours to remove.
  copy_directory_ = &scratch;
  copy_name_ = name;
  scratch.CreateTable(name, definition);

  {
    TDataTable& table = scratch.OpenTable(name, true, false);
    struct TCloser {
      TDataDirectory& dir;
      TDataTable& table;
      ~TCloser() {
        try {
          dir.CloseTable(table);
        } catch (...) {
        }
      }
    } closer{scratch, table};
    TDataFile& dst = table.Data();
    // A memory table's copy keeps every row in the record cache, so the sort
    // below takes its in-memory path and needs no run files on disk.
    if (scratch.InMemory()) dst.Cache().Configure(dst.RecordSize(), UINT32_MAX, UINT32_MAX);
    const uint32_t total = source.RecordCount();
    const bool limit_while_copying = max_rows >= 0 && !query_.has_order_by;
    uint32_t copied = 0;
    int last_percent = -1;
    // One read lock for the whole copy: the copy is one moment of the
    // table, and the reads below need no lock of their own.
    TDataTable& source_table = source.Table();
    const bool locked_here = !source_table.ReadLockHeld() && (source_table.ReadLock(), true) &&
                             source_table.ReadLockHeld();
    struct TUnlock {
      TDataTable& table;
      bool armed;
      ~TUnlock() {
        try {
          if (armed && table.ReadLockHeld()) table.ReadUnlock();
        } catch (...) {
        }
      }
    } unlock{source_table, locked_here};
    // With an ORDER BY the sort decides the order, so the rows are read in
    // slot order (sequential reads); equal keys then keep that order.
    // Without one the copy takes the table's own order.
    std::vector<uint8_t> image;
    const bool slot_order = query_.has_order_by;
    const uint32_t slots = src.RecordCount();
    uint32_t slot = 0;
    auto next_row = [&]() -> bool {
      if (!slot_order) return source.Next(image) == CAIRN_NONE;
      while (++slot <= slots) {
        TPinnedRecord row(src, src.GetRecord(slot, true, true));
        if (!row) RaiseEngineError(CAIRN_FILECORRUPT, source_table.Name());
        if (row->IsDeleted()) continue;
        image.assign(row->Image().begin(), row->Image().end());
        return true;
      }
      return false;
    };
    source.SetToBegin();
    while (!(limit_while_copying && int64_t(copied) >= max_rows) && next_row()) {
      TPinnedRecord record(dst, dst.AllocateSlot(false));
      if (!record) RaiseEngineError(CAIRN_FILECORRUPT, name);
      std::span<uint8_t> out = record->Image();
      for (size_t i = 0; i < sources.size(); ++i) {
        const TFieldDescriptor& from = src.Field(sources[i]);
        const TFieldDescriptor& to = dst.Field(uint16_t(i + 1));
        if (from.IsBlob()) {
          const std::vector<uint8_t> contents = source.ReadBlob(image, from.FieldNumber());
          if (contents.empty()) continue;
          if (!table.Blob()) RaiseEngineError(CAIRN_MEMOCORRUPT, name);
          TBlobBuffer buffer(to.FieldNumber(), record->Slot(), 0, 0, TBlobOpenMode::kReadWrite);
          buffer.SetContents(contents);
          table.Blob()->WriteBlobValue(buffer, dst.NextBlobRevision());
          PutBlobReference(to, out, int32_t(buffer.FirstBlock()), buffer.FirstBlock() != 0);
          SetBlobRevision(to, out, buffer.Stamp());
        } else if (FieldFits(from, image.size()) && FieldFits(to, out.size())) {
          // Stored bytes as they are: presence byte and value area (the ID of
          // an auto-increment field lives in the record header).
          if (from.IsAutoInc()) {
            out[to.Offset()] = 1;
            std::memcpy(&out[to.Offset() + 1u], &image[5], 4);
          } else {
            std::memcpy(&out[to.Offset()], &image[from.Offset()], size_t(to.StorageSize()) + 1);
          }
        }
      }
      record->SetModified(true);
      ++copied;
      if (progress && total > 0) {
        const int percent = int(uint64_t(copied) * 100 / total);
        if (percent != last_percent) progress(last_percent = percent);
      }
    }
    if (query_.has_order_by) {
      std::vector<TSortField> fields;
      for (const TOrderByColumn& o : query_.order_by) {
        const auto at = std::find(sources.begin(), sources.end(), o.field) - sources.begin();
        fields.push_back({uint16_t(at + 1), o.descending});
      }
      auto keys = TQuerySortKeys::Make(dst, fields, query_.nocase);
      if (!keys) RaiseEngineError(CAIRN_INVALIDFLDTYPE, name);
      TSortRequest request;
      request.keys = &*keys;
      request.max_rows = max_rows;
      request.run_directory = scratch.InMemory() ? session_.ScratchDirectory() : folder;
      dst.SortRecords(request);
    }
    table.Flush();
  }
  // The index file's status entries name the records as they were before
  // the sort; opening without it rebuilds them from the data file.
  scratch.RemoveTableFile(name, ".IDX");
  TDataCursor builder;
  builder.Open(scratch, name);
  cursor_ = std::make_unique<TDataCursor>();
  cursor_->Open(scratch, name, {}, false, true);
  builder.Close();
  cursor_->SetToBegin();
  for (size_t i = 0; i < result_fields_.size(); ++i) {
    result_fields_[i].field = uint16_t(i + 1);
    result_fields_[i].descriptor = cursor_->Table().Data().Field(uint16_t(i + 1));
  }
  result_directory_ = &scratch;
  result_table_ = name;
  result_index_.clear();
  live_ = false;
}

void TQueryStatement::Close() {
  if (cursor_) {
    cursor_->Close();
    cursor_.reset();
  }
  if (copy_directory_) {
    try {
      // With the journal a failed change may have left beside the files.
      copy_directory_->DeleteTable(copy_name_);
    } catch (...) {
      // Only a file still open elsewhere in the process stays; the next
      // statement's clean-up takes a disk one.
    }
    copy_directory_ = nullptr;
    copy_name_.clear();
  }
  live_ = false;
  result_directory_ = nullptr;
  result_table_.clear();
  result_index_.clear();
}

}  // namespace cairn
