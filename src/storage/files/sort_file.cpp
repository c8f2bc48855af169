// TDataFile::SortRecords: reorders a table's slots in place.
//
// Both paths feed rows in key order to one output step (TSortOutput) that
// applies distinct, grouping and the maximum row count and writes the kept
// rows from slot 1 on through a buffer. The external path writes sorted
// chunks to run files (temporary: unlinked as soon as created, so nothing
// survives a crash) and merges them. Its memory does not grow with the
// table: the chunk being sorted (min(8192, 1 MiB div R) records) and its
// keys, or the merge's read buffers and output buffer (together two chunks,
// at least a record per run) and a key per run.
//
// Run file bytes: the chunk's slot images back to back, R bytes each,
// scrambled as in the data file.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <queue>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/data_file.h"

namespace cairn {
namespace {

constexpr uint32_t kMaxChunkRecords = 8192;
constexpr uint32_t kChunkBytes = 1048576;
// The external path's output buffer while merging.
constexpr uint32_t kOutputBytes = 65536;

// Applies the output rule to rows arriving in sorted order.
class TSortOutput {
 public:
  using TWrite = std::function<void(uint32_t first_slot, std::span<const uint8_t> bytes)>;
  using TScramble = std::function<void(std::span<uint8_t> image)>;

  TSortOutput(const TSortRequest& request, uint32_t record_size, uint32_t buffer_records,
              TWrite write, TScramble scramble)
      : request_(request),
        r_(record_size),
        k_(uint32_t(request.keys->KeyLength())),
        buffer_records_(std::max<uint32_t>(buffer_records, 1)),
        write_(std::move(write)),
        scramble_(std::move(scramble)) {
    buffer_.reserve(size_t(buffer_records_) * r_);
  }

  // False once the maximum row count is reached: the caller stops.
  bool Add(const uint8_t* image, const uint8_t* key) {
    if (Done()) return false;
    const bool same_as_last =
        have_last_ && request_.keys->Compare(key, last_key_.data(), false) == 0;
    if (request_.group) {
      std::span<uint8_t> row(const_cast<uint8_t*>(image), r_);
      if (!have_last_) {
        group_row_.assign(image, image + r_);
        if (request_.grouping.accumulate) request_.grouping.accumulate(group_row_, {}, true);
      } else if (same_as_last) {
        if (request_.grouping.accumulate) request_.grouping.accumulate(row, group_row_, false);
      } else {
        next_row_.assign(image, image + r_);
        if (request_.grouping.accumulate) request_.grouping.accumulate(next_row_, group_row_, true);
        CloseGroup();
        group_row_.swap(next_row_);
      }
      Remember(key);
      return !Done();
    }
    if (request_.distinct && same_as_last) return true;
    Remember(key);
    Emit(image);
    return !Done();
  }

  // Closes the last group and writes what is buffered; returns the rows written.
  uint32_t Finish() {
    if (request_.group && have_last_ && !Done()) CloseGroup();
    group_row_.clear();
    FlushBuffer();
    return rows_;
  }

 private:
  bool Done() const { return request_.max_rows >= 0 && int64_t(rows_) >= request_.max_rows; }

  void Remember(const uint8_t* key) {
    last_key_.assign(key, key + k_);
    have_last_ = true;
  }

  void CloseGroup() {
    if (request_.grouping.finish) request_.grouping.finish(group_row_);
    if (request_.grouping.keep && !request_.grouping.keep(group_row_)) return;
    Emit(group_row_.data());
  }

  void Emit(const uint8_t* image) {
    ++rows_;
    const size_t at = buffer_.size();
    buffer_.insert(buffer_.end(), image, image + r_);
    uint8_t* slot = buffer_.data() + at;
    slot[0] = 0;
    le::PutU32(slot + 1, rows_);
    le::PutU32(slot + 5, rows_);
    scramble_(std::span<uint8_t>(slot, r_));
    if (buffer_.size() >= size_t(buffer_records_) * r_) FlushBuffer();
  }

  void FlushBuffer() {
    if (buffer_.empty()) return;
    write_(written_ + 1, buffer_);
    written_ += uint32_t(buffer_.size() / r_);
    buffer_.clear();
  }

  const TSortRequest& request_;
  const uint32_t r_;
  const uint32_t k_;
  const uint32_t buffer_records_;
  TWrite write_;
  TScramble scramble_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> last_key_;
  bool have_last_ = false;
  std::vector<uint8_t> group_row_;
  std::vector<uint8_t> next_row_;
  uint32_t rows_ = 0;
  uint32_t written_ = 0;
};

// The keys of a batch of rows and their sorted order. Keys live in one
// block (no allocation per row); the order is a permutation of row numbers.
struct TSortKeysBlock {
  uint32_t k = 0;
  std::vector<uint8_t> keys;
  std::vector<uint32_t> order;

  void Reset(uint32_t rows) {
    keys.resize(size_t(rows) * k);
    order.resize(rows);
    std::iota(order.begin(), order.end(), 0u);
  }
  uint8_t* Key(uint32_t i) { return keys.data() + size_t(i) * k; }
  void Sort(const TSortKeys& sort_keys) {
    const uint8_t* base = keys.data();
    const size_t k_bytes = k;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      return sort_keys.Compare(base + a * k_bytes, base + b * k_bytes, true) < 0;
    });
  }
};

// Moves `images` (R bytes each) into the sorted order in place: position p
// receives the image that was at order[p]. One spare image, no second
// buffer, so a chunk costs its own bytes and nothing more. Consumes `order`.
void PermuteInPlace(uint8_t* images, uint32_t r, std::vector<uint32_t>& order) {
  std::vector<uint8_t> spare(r);
  for (uint32_t start = 0; start < order.size(); ++start) {
    if (order[start] == start) continue;
    std::memcpy(spare.data(), images + size_t(start) * r, r);
    uint32_t p = start;
    while (order[p] != start) {
      const uint32_t q = order[p];
      std::memcpy(images + size_t(p) * r, images + size_t(q) * r, r);
      order[p] = p;
      p = q;
    }
    std::memcpy(images + size_t(p) * r, spare.data(), r);
    order[p] = p;
  }
}

std::string RunFilePrefix(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  std::string thread = std::to_string(uint64_t(::gettid()));
  if (thread.size() > 5) thread.resize(5);
  return directory + thread;
}

// One sorted run on disk and its read position during the merge. Its read
// buffer is a window of the merge's shared buffer.
struct TRun {
  std::unique_ptr<TFileHandler> file;
  uint32_t count = 0;
  uint32_t next = 0;  // records handed out
  uint8_t* buffer = nullptr;
  uint32_t buffered_first = 0;
  uint32_t buffered = 0;
  uint8_t* key = nullptr;
};

}  // namespace

uint32_t TDataFile::SortChunkCapacity() const {
  const uint32_t r = std::max<uint32_t>(RecordSize(), 1);
  return std::max<uint32_t>(1, std::min(kMaxChunkRecords, kChunkBytes / r));
}

uint32_t TDataFile::SortRecords(const TSortRequest& request) {
  if (!request.keys) RaiseEngineError(CAIRN_INTERNALLIMIT, table_name_);
  const uint32_t slots = RecordCount();
  const uint32_t r = RecordSize();
  const uint32_t k = uint32_t(request.keys->KeyLength());
  auto write = [this](uint32_t first_slot, std::span<const uint8_t> bytes) {
    WriteSlots(SlotOffset(first_slot), bytes);
  };
  auto scramble = [this](std::span<uint8_t> image) { ScrambleSlot(image); };

  bool all_cached = cache_.Count() >= slots;
  for (uint32_t s = 1; all_cached && s <= slots; ++s) all_cached = cache_.Find(s) != nullptr;

  uint32_t rows = 0;
  TSortKeysBlock block{k, {}, {}};
  if (all_cached) {
    // Keys only: the images stay in the cache until they are written.
    std::vector<const TRecord*> records;
    records.reserve(slots);
    for (uint32_t s = 1; s <= slots; ++s) {
      const TRecord* record = cache_.Find(s);
      if (!record->IsDeleted()) records.push_back(record);
    }
    block.Reset(uint32_t(records.size()));
    for (uint32_t i = 0; i < records.size(); ++i) {
      request.keys->BuildKey(records[i]->Image(), block.Key(i));
    }
    block.Sort(*request.keys);
    // The buffer holds the whole table: one write at the end.
    TSortOutput out(request, r, std::max<uint32_t>(slots, 1), write, scramble);
    for (uint32_t i : block.order) {
      if (!out.Add(records[i]->Image().data(), block.Key(i))) break;
    }
    rows = out.Finish();
    cache_.Discard();
  } else {
    FlushRecords();
    cache_.Discard();
    const uint32_t capacity = SortChunkCapacity();
    const std::string prefix = RunFilePrefix(request.run_directory);
    std::vector<TRun> runs;
    {
      std::vector<uint8_t> chunk(size_t(std::min(capacity, slots)) * r);
      for (uint32_t first = 1; first <= slots; first += capacity) {
        const uint32_t n = std::min(capacity, slots - first + 1);
        const std::span<uint8_t> bytes(chunk.data(), size_t(n) * r);
        if (ReadSlots(SlotOffset(first), bytes) != bytes.size()) Fail(CAIRN_READERR);
        // Active rows move down over deleted ones; keys in step.
        uint32_t active = 0;
        block.Reset(n);
        for (uint32_t i = 0; i < n; ++i) {
          uint8_t* image = chunk.data() + size_t(i) * r;
          ScrambleSlot({image, r});
          if (image[0] != 0) continue;
          uint8_t* to = chunk.data() + size_t(active) * r;
          if (to != image) std::memcpy(to, image, r);
          request.keys->BuildKey({to, r}, block.Key(active));
          ++active;
        }
        if (active == 0) continue;
        block.order.resize(active);
        block.Sort(*request.keys);
        PermuteInPlace(chunk.data(), r, block.order);
        for (uint32_t i = 0; i < active; ++i) ScrambleSlot({chunk.data() + size_t(i) * r, r});
        TRun run;
        run.file = std::make_unique<TFileHandler>();
        run.file->set_temporary(true);
        for (uint32_t number = 0;; ++number) {
          run.file->set_file_name(prefix + std::to_string(number) + ".TMP");
          if (!run.file->Exists()) break;
        }
        run.file->Create();
        if (request.run_created) request.run_created(run.file->file_name());
        run.count = active;
        runs.push_back(std::move(run));
        runs.back().file->WriteAt(0, chunk.data(), int64_t(size_t(active) * r));
      }
    }
    block.keys.clear();
    block.keys.shrink_to_fit();
    block.order.clear();
    block.order.shrink_to_fit();

    // The merge may hold two chunks, as the chunk phase did. The output
    // writes in small pieces so that the runs' read buffers get nearly all
    // of it: every read is a system call, and a run's buffer refills once
    // per few records when there are hundreds of runs. With more runs than
    // that holds records, each still reads one record at a time.
    const uint32_t out_records = std::clamp<uint32_t>(kOutputBytes / r, 1, capacity);
    const uint32_t per_run =
        runs.empty() ? 1
                     : std::max<uint32_t>(1, (2 * capacity - out_records) / uint32_t(runs.size()));
    std::vector<uint8_t> merge_buffer(runs.size() * size_t(per_run) * r);
    std::vector<uint8_t> merge_keys(runs.size() * size_t(k));
    for (size_t i = 0; i < runs.size(); ++i) {
      runs[i].buffer = merge_buffer.data() + i * size_t(per_run) * r;
      runs[i].key = merge_keys.data() + i * size_t(k);
    }
    // Delivers the run's next image (unscrambled) with its key, or nullptr.
    auto next_of = [&](TRun& run) -> const uint8_t* {
      if (run.next >= run.count) return nullptr;
      if (run.next >= run.buffered_first + run.buffered || run.buffered == 0) {
        const uint32_t n = std::min(per_run, run.count - run.next);
        run.file->ReadAt(uint64_t(run.next) * r, run.buffer, int64_t(size_t(n) * r));
        for (uint32_t i = 0; i < n; ++i) ScrambleSlot({run.buffer + size_t(i) * r, r});
        run.buffered_first = run.next;
        run.buffered = n;
      }
      const uint8_t* image = run.buffer + size_t(run.next - run.buffered_first) * r;
      ++run.next;
      request.keys->BuildKey({image, r}, run.key);
      return image;
    };
    std::vector<const uint8_t*> current(runs.size(), nullptr);
    auto greater = [&](size_t a, size_t b) {
      return request.keys->Compare(runs[a].key, runs[b].key, true) > 0;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> merge(greater);
    for (size_t i = 0; i < runs.size(); ++i) {
      current[i] = next_of(runs[i]);
      if (current[i]) merge.push(i);
    }
    TSortOutput out(request, r, out_records, write, scramble);
    while (!merge.empty()) {
      const size_t i = merge.top();
      merge.pop();
      if (!out.Add(current[i], runs[i].key)) break;
      current[i] = next_of(runs[i]);
      if (current[i]) merge.push(i);
    }
    rows = out.Finish();
    // The run files close (and, being temporary, vanish) with `runs`.
  }

  if (rows < slots) Truncate(SlotOffset(rows + 1));
  header_.SetNextRecordNumber(rows + 1);
  header_.SetFirstDeleted(0);
  MarkHeaderModified();
  return rows;
}

}  // namespace cairn
