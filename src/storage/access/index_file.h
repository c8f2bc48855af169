// TIndexFile: the ".IDX" file of one open table, shared by all its cursors.
//
// It keeps the 4096-byte header page in memory (authoritative while open), a
// key layout and page shape per index, and a small page cache per index (a
// list sorted by page number plus an MRU chain; the two most recent pages are
// probed first). Pages come pinned from GetPage/NewPage and every one must be
// given back with ReleasePage (TPinnedPage does that). Dirty pages stay in
// memory until Flush, which writes them sorted, one write per run of
// consecutive pages, enciphered when the table is encrypted. Pages of
// temporary indexes live in a scratch file in the private directory and their
// descriptors never reach the disk.
//
// Every failure raises ECairnEngineError: 12035 wrong signature, 8961 header
// fails validation, 8965 a page that is not what the tree says, 9479 the file
// would pass its limits, 9487/9993/10010/10022/10027/12292 bad index
// definitions. Not thread-safe: callers hold the session lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/access/index_format.h"
#include "storage/access/index_key.h"
#include "storage/access/index_page.h"
#include "storage/access/index_pending.h"
#include "storage/files/file_handler.h"

namespace cairn {

// What the index file needs to know of its table.
struct TIndexTableInfo {
  std::string table_name;
  bool encrypted = false;
  std::vector<TKeyField> fields;  // the data file's fields, in number order
  uint32_t locale = 0;            // sort id * 65536 + language id; 0 none
  std::string private_dir;        // scratch files of temporary indexes
  uint32_t index_buffer_size = 16384;
  bool strict_change_detection = false;
  // Asked before a page is read from disk (unless strict change detection is
  // on): true when another process changed the table. The get then returns
  // no page and the caller restarts from the root.
  std::function<bool()> changed_by_other;
  // True while the table is inside a transaction (no flush to make room).
  std::function<bool()> in_transaction;
};

class TIndexFile : public TFileHandler {
 public:
  // A change that writes out under its undo (a transaction, a rebuild) lets
  // the caches of the permanent indexes fill up to this many cache targets
  // of pages in all before dirty pages are written, so a page changed again
  // and again is written once per fill rather than at every eviction. With a
  // 1 MB index buffer: 512 pages, about 2.4 MB in memory.
  static constexpr size_t kBulkCacheTargets = 4;

  explicit TIndexFile(TIndexTableInfo info);
  ~TIndexFile() override;

  const TIndexTableInfo& info() const { return info_; }
  const std::string& table_name() const { return info_.table_name; }
  [[noreturn]] void RaiseIndex(uint16_t code) const;

  // New file: fresh header (signature 5, next page 1, the two fixed
  // descriptors) written at once; the file stays open.
  void CreateIndexFile();
  // Opens the file, reads and validates the header.
  void OpenIndexFile();
  // Drops temporary indexes and the scratch file, pools every cached page
  // without writing, and closes the file.
  void CloseIndexFile();

  // Writes the header when forced or modified; true when it wrote.
  bool WriteHeader(bool force = false);
  // Reads page 0 again; true (and the new header adopted, cached pages of the
  // permanent indexes dropped) when its change counter differs.
  // With `force` the header is taken from disk even when the counters match
  // (a rollback drops changes that were never written).
  bool ReReadHeader(bool force = false);
  // Reads page 0 and compares the change counter only.
  bool HeaderChanged();
  // Resets every tree: next page 1, roots, free lists and parameter pages 0,
  // file truncated to the header, active count 0.
  void EmptyIndexes();

  // Pages. GetPage returns nullptr only when another process changed the
  // table (see TIndexTableInfo::changed_by_other).
  TPage* GetPage(int index, int32_t page);
  TPage* NewPage(int index);
  void FreePage(TPage* page);
  void ReleasePage(TPage* page);
  void MarkDirty(TPage* page) { page->dirty = true; }
  // Writes dirty unpinned pages of the permanent (or temporary) indexes,
  // the keys waiting for the permanent ones merged in first; pages of
  // permanent ones written mark the header modified, so that the next
  // WriteHeader moves the change counter.
  bool Flush(bool temporary = false);
  // Evicts least recently used clean pages down to the cache target.
  void TrimCache();
  // Forgets every cached page of the permanent indexes (another process wrote).
  void DiscardPages();

  // Descriptors.
  int secondary_count() const { return header_[hdr::kSecondaryCount]; }
  TIndexDescriptor Descriptor(int index) const;
  bool IndexInUse(int index) const;
  int32_t Root(int index) const;
  void SetRoot(int index, int32_t page);
  int32_t FreeHead(int index) const;
  void SetFreeHead(int index, int32_t page);
  int32_t NextPage(int index) const;
  int32_t active_count() const { return le::I32(&header_[hdr::kActiveCount]); }
  void SetActiveCount(int32_t n);
  void IncrementActiveCount() { SetActiveCount(active_count() + 1); }
  void DecrementActiveCount() { SetActiveCount(active_count() - 1); }
  bool no_primary_key() const { return header_[hdr::kNoPrimaryKey] != 0; }
  void SetNoPrimaryKey(bool value);
  uint32_t change_counter() const { return le::U32(&header_[hdr::kChangeCounter]); }
  bool header_modified() const { return header_modified_; }
  const std::array<uint8_t, kIndexPageSize>& header() const { return header_; }
  const TKeyLayout& Layout(int index) const { return layouts_[index]; }
  const TPageShape& Shape(int index) const { return shapes_[index]; }
  // Index number of a secondary index by name (case-insensitive, trimmed); -1.
  int FindSecondary(std::string_view name) const;

  // Index definitions. The key length is computed from the fields; the
  // descriptor's root and free list start empty.
  void AddPrimaryIndex(TIndexDescriptor d);
  // Returns the new index's number.
  int AddSecondaryIndex(TIndexDescriptor d);
  void ReplaceDescriptor(int index, const TIndexDescriptor& d);
  void RemoveSecondaryIndex(int index);

  // Inserts that wait. Inside a change that writes out as it goes (a
  // transaction), the inserts of a permanent index whose keys compare as
  // bytes wait in memory and go into the tree in key order (TIndexTree
  // merges them before anything reads or changes that tree, and Flush
  // before pages are written): from the first insert when the tree is
  // empty, else once the change has inserted a 32nd of its key count (the
  // filter is then built from every key of the tree). Returns where the
  // key goes, or nullptr: insert at once. Called once per insert.
  TPendingKeys* DeferInsert(int index);
  // The keys waiting for `index`, or nullptr.
  TPendingKeys* Pending(int index) const { return pending_[index].keys.get(); }
  bool HasPending(int index) const {
    return pending_[index].keys && !pending_[index].keys->empty() &&
           !pending_[index].keys->settling;
  }
  // Waiting entries past this many bytes (two index buffers) are merged.
  size_t PendingLimit() const;
  // Merges the waiting keys of every index into their trees.
  void SettleAll();

  struct TStats {
    uint64_t page_reads = 0, page_writes = 0, flushes = 0;
  };
  const TStats& stats() const { return stats_; }
  // Pages currently cached for an index (for tests and trimming checks).
  size_t CachedPages(int index) const { return caches_[index].list.size(); }

 private:
  struct TCache {
    std::vector<TPage*> list;  // sorted by page number
    TPage* head = nullptr;     // MRU
    TPage* tail = nullptr;
    size_t capacity = 0;
  };

  void ValidateHeader();
  void RebuildLayouts();
  bool IsTemporary(int index) const;
  TFileHandler& StorageFor(int index);
  void EnsureScratch();
  size_t CacheTarget() const;
  bool BulkRoom(int index) const;
  TPage* ObtainPage(int index);
  void MruUnlink(TCache& c, TPage* p);
  void MruPushFront(TCache& c, TPage* p);
  void CacheInsert(int index, TPage* p);
  void CacheRemove(int index, TPage* p);
  TPage* CacheFind(int index, int32_t page);
  void ReadPage(int index, TPage* p);
  void DropAllPages(bool temporary_only, bool permanent_only);
  void DropTemporaryIndexes();
  void StoreDescriptor(int index, const TIndexDescriptor& d);
  void SetModified() { header_modified_ = true; }
  bool WritePages(bool temporary);
  // Pages must stay in the cache (a change that holds every page until its
  // commit), except while a flush merges waiting keys.
  bool MustGrow() const;
  // Inserts of this change wait for some index (its caches stay small).
  bool Deferring() const;
  // Forgets waiting keys and filters (their pages are dropped too).
  void ResetPending();
  void CheckDefinition(TIndexDescriptor& d, bool primary, int replacing);

  TIndexTableInfo info_;
  std::shared_ptr<const TTableLocale> locale_;
  std::array<uint8_t, kIndexPageSize> header_{};
  bool header_modified_ = false;
  TPageStack pool_;
  std::array<TCache, kIndexCount> caches_;
  std::array<TKeyLayout, kIndexCount> layouts_;
  std::array<TPageShape, kIndexCount> shapes_;
  std::unique_ptr<TFileHandler> scratch_;
  int32_t scratch_next_ = 1;
  TStats stats_;
  std::vector<uint8_t> io_buffer_;
  struct TDeferral {
    uint64_t undo = 0;     // the undo (UndoCount) these belong to
    uint32_t inserts = 0;  // inserts of that change so far
    std::unique_ptr<TPendingKeys> keys;
  };
  std::array<TDeferral, kIndexCount> pending_;
  bool flushing_ = false;
  uint64_t deferring_undo_ = 0;  // the undo whose inserts wait
};

// A pinned page that is released when it goes out of scope.
class TPinnedPage {
 public:
  TPinnedPage() = default;
  TPinnedPage(TIndexFile* file, TPage* page) : file_(file), page_(page) {}
  TPinnedPage(TPinnedPage&& o) noexcept : file_(o.file_), page_(o.page_) { o.page_ = nullptr; }
  TPinnedPage& operator=(TPinnedPage&& o) noexcept {
    if (this != &o) {
      Reset();
      file_ = o.file_;
      page_ = o.page_;
      o.page_ = nullptr;
    }
    return *this;
  }
  ~TPinnedPage() { Reset(); }
  void Reset() {
    if (page_) file_->ReleasePage(page_);
    page_ = nullptr;
  }
  TPage* get() const { return page_; }
  TPage* operator->() const { return page_; }
  TPage& operator*() const { return *page_; }
  explicit operator bool() const { return page_ != nullptr; }

 private:
  TIndexFile* file_ = nullptr;
  TPage* page_ = nullptr;
};

// Name checks shared with the table layer.
bool IsValidIndexName(std::string_view name);
std::string TrimUpper(std::string_view name);

}  // namespace cairn
