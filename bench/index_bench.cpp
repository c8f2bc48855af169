// bench_index: 1,000,000 keys through one index of a table file on disk:
// inserts (random and ascending order), exact lookups, a walk in key order,
// positioning by ordinal and deletes, for an uncompressed and a fully
// compressed index; with pages and bytes per key. The key is shaped like the
// password table's natural key: a 100-character text (key length 102).
// TARN_BENCH_KEYS overrides the key count, TARN_BENCH_INDEX_BUFFER the
// session's index buffer size (default 16384 bytes: a 2-page cache).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "storage/access/index_file.h"
#include "storage/access/index_tree.h"

namespace {

using namespace cairn;
using Clock = std::chrono::steady_clock;

struct TResult {
  std::string what;
  double seconds;
  size_t ops;
};

std::vector<TKeyField> Fields() { return {{1, "Item", 1, 0, 101, 9}, {2, "Num", 6, 0, 4, 111}}; }

std::vector<uint8_t> Record(uint32_t n) {
  std::vector<uint8_t> r(116, 0);
  char text[32];
  const int len = std::snprintf(text, sizeof(text), "account %09u", n);
  r[9] = 1;
  std::memcpy(&r[10], text, size_t(len));
  r[111] = 1;
  le::PutI32(&r[112], int32_t(n % 1000));
  le::PutI32(&r[5], int32_t(n + 1));
  return r;
}

class TBench {
 public:
  TBench(uint8_t compression, size_t keys) : keys_(keys) {
    path_ = (std::filesystem::temp_directory_path() /
             ("bench_index_" + std::to_string(::getpid()) + ".IDX"))
                .string();
    TIndexTableInfo info;
    info.table_name = "Bench";
    info.fields = Fields();
    if (const char* b = std::getenv("TARN_BENCH_INDEX_BUFFER"))
      info.index_buffer_size = uint32_t(std::strtoul(b, nullptr, 10));
    file_ = std::make_unique<TIndexFile>(info);
    file_->set_file_name(path_);
    file_->CreateIndexFile();
    TIndexDescriptor pk;
    pk.field_count = 1;
    pk.fields[0] = 1;
    pk.compression = compression;
    file_->AddPrimaryIndex(pk);
    key_length_ = file_->Shape(0).key_length;
    name_ = compression == kCompressNone ? "none" : "full";
  }
  ~TBench() {
    file_->CloseIndexFile();
    std::filesystem::remove(path_);
  }

  std::vector<uint8_t> Key(uint32_t n) {
    std::vector<uint8_t> k(static_cast<size_t>(key_length_));
    file_->Layout(0).BuildKey(Record(n), k);
    return k;
  }

  // Commits like the cursor layer does after each batch of changes.
  void Commit() {
    file_->WriteHeader();
    file_->Flush();
    file_->TrimCache();
  }

  template <typename F>
  void Time(const std::string& what, size_t ops, F&& f) {
    const auto t0 = Clock::now();
    f();
    Commit();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    results_.push_back({name_ + " " + what, s, ops});
  }

  void Run(bool random_order) {
    std::vector<uint32_t> order(keys_);
    for (size_t i = 0; i < keys_; ++i) order[i] = uint32_t(i);
    std::mt19937 rng(42);
    if (random_order) std::shuffle(order.begin(), order.end(), rng);
    const std::string how = random_order ? "random" : "ascending";
    Time("insert " + how, keys_, [&] {
      TIndexTree tree(*file_, 0);
      for (size_t i = 0; i < keys_; ++i) {
        tree.Insert(Key(order[i]), int32_t(order[i] + 1));
        if (i % 1000 == 999) Commit();
      }
    });
    const int64_t bytes = file_->Size();
    const double pages = double(bytes) / kIndexPageSize - 1;
    std::printf("%-6s %-9s index: %.0f pages, %.4f pages/key, %.1f bytes/key\n", name_.c_str(),
                how.c_str(), pages, pages / double(keys_), double(bytes) / double(keys_));
    std::shuffle(order.begin(), order.end(), rng);
    Time("lookup " + how, keys_, [&] {
      TIndexTree tree(*file_, 0);
      for (size_t i = 0; i < keys_; ++i)
        if (!tree.Find(Key(order[i]))) std::abort();
    });
    Time("walk " + how, keys_, [&] {
      TIndexTree tree(*file_, 0);
      TIndexEntry e;
      size_t n = 0;
      for (bool more = tree.First(e); more; more = tree.Next(e)) ++n;
      if (n != keys_) std::abort();
    });
    Time("ordinal " + how, keys_ / 10, [&] {
      TIndexTree tree(*file_, 0);
      TIndexEntry e;
      for (size_t i = 0; i < keys_ / 10; ++i)
        if (!tree.SeekOrdinal(uint32_t(rng() % keys_) + 1, e)) std::abort();
    });
    Time("delete " + how, keys_, [&] {
      TIndexTree tree(*file_, 0);
      for (size_t i = 0; i < keys_; ++i) {
        tree.Delete(Key(order[i]));
        if (i % 1000 == 999) Commit();
      }
    });
    if (file_->Root(0) != 0) std::abort();
  }

  const std::vector<TResult>& results() const { return results_; }

 private:
  size_t keys_;
  std::string path_;
  std::string name_;
  int key_length_ = 0;
  std::unique_ptr<TIndexFile> file_;
  std::vector<TResult> results_;
};

}  // namespace

int main() {
  const char* env = std::getenv("TARN_BENCH_KEYS");
  const size_t keys = env ? size_t(std::strtoul(env, nullptr, 10)) : 1000000;
  std::printf("bench_index: %zu keys, key length 102 (text of 100), commit every 1000 changes\n",
              keys);
  std::vector<TResult> all;
  for (uint8_t comp : {kCompressNone, kCompressFull}) {
    for (bool random_order : {true, false}) {
      TBench b(comp, keys);
      b.Run(random_order);
      all.insert(all.end(), b.results().begin(), b.results().end());
    }
  }
  std::printf("\n%-28s %12s %14s %12s\n", "workload", "seconds", "ops/second", "us/op");
  for (const TResult& r : all)
    std::printf("%-28s %12.3f %14.0f %12.3f\n", r.what.c_str(), r.seconds,
                double(r.ops) / r.seconds, r.seconds * 1e6 / double(r.ops));
  return 0;
}
