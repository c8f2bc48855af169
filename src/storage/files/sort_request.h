// What TDataFile::SortRecords needs: the sort key of a record and its order,
// and what to do with the rows that arrive in that order (distinct,
// grouping, a maximum row count).
//
// A sort key is, for each sort field in order, the presence byte and the
// field's value in index-key form (per-field descending built in for tables
// without a locale, strings upper-cased when the sort ignores case), then
// the record ID in key form (4 bytes). The key encoding belongs to the index
// layer, so the caller hands it in through TSortKeys.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace cairn {

class TSortKeys {
 public:
  virtual ~TSortKeys() = default;
  // Key length including the 4-byte record-ID suffix.
  virtual int KeyLength() const = 0;
  // Builds the key of a record image (R bytes, unscrambled).
  virtual void BuildKey(std::span<const uint8_t> record, uint8_t* key) const = 0;
  // -1, 0, 1. Without `with_suffix` the record ID is ignored (distinct and
  // group tests); with it, equal fields fall back to the ID, ascending.
  virtual int Compare(const uint8_t* a, const uint8_t* b, bool with_suffix) const = 0;
};

// Grouping callbacks of the query layer. Rows are record images.
struct TSortGrouping {
  // start: begin a new output row from `row` (`current` is the output row
  // being closed, empty for the first); otherwise fold `row` into `current`.
  std::function<void(std::span<uint8_t> row, std::span<uint8_t> current, bool start)> accumulate;
  // Completes the aggregates of an output row; empty: no finish step.
  std::function<void(std::span<uint8_t> row)> finish;
  // The HAVING test of a finished row; empty: every row is kept.
  std::function<bool(std::span<const uint8_t> row)> keep;
};

struct TSortRequest {
  const TSortKeys* keys = nullptr;
  // Negative: every row.
  int64_t max_rows = -1;
  bool distinct = false;
  bool group = false;
  TSortGrouping grouping;
  // Folder of the run files of the external sort (with or without a
  // trailing separator); empty: the current folder.
  std::string run_directory;
  // Told the name of each run file as it is created (tests, progress).
  std::function<void(const std::string& name)> run_created;
};

}  // namespace cairn
