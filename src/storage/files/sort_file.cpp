// TDataFile::SortRecords: reorders a table's slots in place.
//
// Both paths feed rows in key order to one output step (TSortOutput) that
// applies distinct, grouping and the maximum row count and writes the kept
// rows from slot 1 on through a buffer. The external path writes sorted
// chunks to run files (temporary: unlinked as soon as created, so nothing
// survives a crash) and merges them.
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
// Slots read at once from one run while merging.
constexpr uint32_t kRunReadBytes = 8192;

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
        std::vector<uint8_t> next(image, image + r_);
        if (request_.grouping.accumulate) request_.grouping.accumulate(next, group_row_, true);
        CloseGroup();
        group_row_ = std::move(next);
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
  uint32_t rows_ = 0;
  uint32_t written_ = 0;
};

// Images and keys of a batch of rows, sorted through an index permutation.
struct TSortBatch {
  uint32_t r = 0;
  uint32_t k = 0;
  std::vector<uint8_t> images;
  std::vector<uint8_t> keys;
  std::vector<uint32_t> order;

  uint32_t Count() const { return uint32_t(order.size()); }
  const uint8_t* Image(uint32_t i) const { return images.data() + size_t(i) * r; }
  const uint8_t* Key(uint32_t i) const { return keys.data() + size_t(i) * k; }

  void Add(const uint8_t* image, const TSortKeys& sort_keys) {
    const uint32_t i = uint32_t(order.size());
    images.insert(images.end(), image, image + r);
    keys.resize(size_t(i + 1) * k);
    sort_keys.BuildKey({Image(i), r}, keys.data() + size_t(i) * k);
    order.push_back(i);
  }

  void Sort(const TSortKeys& sort_keys) {
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return sort_keys.Compare(Key(a), Key(b), true) < 0; });
  }
};

std::string RunFilePrefix(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  std::string thread = std::to_string(uint64_t(::gettid()));
  if (thread.size() > 5) thread.resize(5);
  return directory + thread;
}

// One sorted run on disk and its read position during the merge.
struct TRun {
  std::unique_ptr<TFileHandler> file;
  uint32_t count = 0;
  uint32_t next = 0;  // records handed out
  std::vector<uint8_t> buffer;
  uint32_t buffered_first = 0;
  uint32_t buffered = 0;
  std::vector<uint8_t> key;
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
  if (all_cached) {
    TSortBatch batch{r, k, {}, {}, {}};
    batch.images.reserve(size_t(slots) * r);
    for (uint32_t s = 1; s <= slots; ++s) {
      const TRecord* record = cache_.Find(s);
      if (!record->IsDeleted()) batch.Add(record->Image().data(), *request.keys);
    }
    batch.Sort(*request.keys);
    // The buffer holds the whole table: one write at the end.
    TSortOutput out(request, r, std::max<uint32_t>(slots, 1), write, scramble);
    for (uint32_t i : batch.order) {
      if (!out.Add(batch.Image(i), batch.Key(i))) break;
    }
    rows = out.Finish();
    cache_.Discard();
  } else {
    FlushRecords();
    cache_.Discard();
    const uint32_t capacity = SortChunkCapacity();
    const std::string prefix = RunFilePrefix(request.run_directory);
    std::vector<TRun> runs;
    std::vector<uint8_t> chunk;
    for (uint32_t first = 1; first <= slots; first += capacity) {
      const uint32_t n = std::min(capacity, slots - first + 1);
      chunk.resize(size_t(n) * r);
      if (ReadSlots(SlotOffset(first), chunk) != chunk.size()) Fail(CAIRN_READERR);
      TSortBatch batch{r, k, {}, {}, {}};
      batch.images.reserve(chunk.size());
      for (uint32_t i = 0; i < n; ++i) {
        std::span<uint8_t> image(chunk.data() + size_t(i) * r, r);
        ScrambleSlot(image);
        if (image[0] == 0) batch.Add(image.data(), *request.keys);
      }
      if (batch.Count() == 0) continue;
      batch.Sort(*request.keys);
      chunk.clear();
      for (uint32_t i : batch.order) {
        chunk.insert(chunk.end(), batch.Image(i), batch.Image(i) + r);
        ScrambleSlot({chunk.data() + chunk.size() - r, r});
      }
      TRun run;
      run.file = std::make_unique<TFileHandler>();
      run.file->set_temporary(true);
      for (uint32_t number = 0;; ++number) {
        run.file->set_file_name(prefix + std::to_string(number) + ".TMP");
        if (!run.file->Exists()) break;
      }
      run.file->Create();
      if (request.run_created) request.run_created(run.file->file_name());
      run.count = batch.Count();
      runs.push_back(std::move(run));
      runs.back().file->WriteAt(0, chunk.data(), int64_t(chunk.size()));
    }
    chunk = {};

    // Delivers the run's next image (unscrambled) with its key, or nullptr.
    auto next_of = [&](TRun& run) -> const uint8_t* {
      if (run.next >= run.count) return nullptr;
      const uint32_t per_read = std::max<uint32_t>(1, kRunReadBytes / std::max<uint32_t>(r, 1));
      if (run.next >= run.buffered_first + run.buffered || run.buffered == 0) {
        const uint32_t n = std::min(per_read, run.count - run.next);
        run.buffer.resize(size_t(n) * r);
        run.file->ReadAt(uint64_t(run.next) * r, run.buffer.data(), int64_t(run.buffer.size()));
        for (uint32_t i = 0; i < n; ++i) ScrambleSlot({run.buffer.data() + size_t(i) * r, r});
        run.buffered_first = run.next;
        run.buffered = n;
      }
      const uint8_t* image = run.buffer.data() + size_t(run.next - run.buffered_first) * r;
      ++run.next;
      run.key.resize(k);
      request.keys->BuildKey({image, r}, run.key.data());
      return image;
    };
    std::vector<const uint8_t*> current(runs.size(), nullptr);
    auto greater = [&](size_t a, size_t b) {
      return request.keys->Compare(runs[a].key.data(), runs[b].key.data(), true) > 0;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> merge(greater);
    for (size_t i = 0; i < runs.size(); ++i) {
      current[i] = next_of(runs[i]);
      if (current[i]) merge.push(i);
    }
    TSortOutput out(request, r, capacity, write, scramble);
    while (!merge.empty()) {
      const size_t i = merge.top();
      merge.pop();
      if (!out.Add(current[i], runs[i].key.data())) break;
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
