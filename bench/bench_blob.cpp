// Blob values through the blob file and its block cache: 100,000 values of
// about 200 bytes (a password record's notes) written one update at a time,
// read back in order and at random, rewritten in place; then a few 1 MB
// values written and read, plain and scrambled.
//
// Usage: bench_blob [COUNT] [DIR] [BIG]   (defaults: 100000, the temp folder, 8)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "storage/files/blob_file.h"

namespace {

using cairn::TBlobBuffer;
using cairn::TBlobFile;
using cairn::TBlobOpenMode;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Row(const char* workload, size_t values, double bytes, double seconds) {
  std::printf("%-40s %10zu %12.0f %10.1f\n", workload, values, values / seconds,
              bytes / seconds / 1e6);
}

std::vector<uint8_t> Value(std::mt19937& rng, size_t size) {
  std::vector<uint8_t> v(size);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

struct Loc {
  uint32_t first;
  int32_t stamp;
  size_t size;
};

std::unique_ptr<TBlobFile> Fresh(const std::string& path, bool encrypted) {
  std::filesystem::remove(path);
  {
    TBlobFile f("Bench", path, 512, encrypted);
    f.Create();
  }
  auto f = std::make_unique<TBlobFile>("Bench", path, 512, encrypted);
  f->Open();
  return f;
}

std::unique_ptr<TBlobFile> Reopen(const std::string& path, bool encrypted) {
  auto f = std::make_unique<TBlobFile>("Bench", path, 512, encrypted);
  f->Open();
  return f;
}

void Small(const std::string& path, size_t count) {
  std::mt19937 rng(7);
  std::vector<Loc> locs(count);
  int32_t stamp = 0;
  double bytes = 0;
  auto f = Fresh(path, false);

  auto t = Clock::now();
  for (Loc& loc : locs) {
    TBlobBuffer b(4, 1, 0, 0, TBlobOpenMode::kReadWrite);
    b.SetContents(Value(rng, 150 + rng() % 101));
    f->WriteBlobValue(b, ++stamp);
    f->FlushAll(false);  // every post ends with a table flush
    loc = {b.FirstBlock(), b.Stamp(), b.Length()};
    bytes += double(loc.size);
  }
  Row("write ~200 B, one flush each", count, bytes, Seconds(t));

  f = Reopen(path, false);
  t = Clock::now();
  size_t checked = 0;
  for (const Loc& loc : locs) {
    TBlobBuffer b(4, 1, loc.first, loc.stamp, TBlobOpenMode::kReadOnly);
    f->ReadBlobValue(b);
    checked += b.Length() == loc.size;
  }
  Row("read ~200 B in file order (cold)", count, bytes, Seconds(t));

  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), rng);
  f = Reopen(path, false);
  t = Clock::now();
  for (size_t i : order) {
    TBlobBuffer b(4, 1, locs[i].first, locs[i].stamp, TBlobOpenMode::kReadOnly);
    f->ReadBlobValue(b);
    checked += b.Length() == locs[i].size;
  }
  Row("read ~200 B at random (cold)", count, bytes, Seconds(t));

  t = Clock::now();
  double rewritten = 0;
  for (Loc& loc : locs) {
    TBlobBuffer b(4, 1, loc.first, loc.stamp, TBlobOpenMode::kReadWrite);
    b.SetContents(Value(rng, 150 + rng() % 101));
    f->WriteBlobValue(b, ++stamp);
    f->FlushAll(false);
    loc = {b.FirstBlock(), b.Stamp(), b.Length()};
    rewritten += double(loc.size);
  }
  Row("rewrite ~200 B in place, one flush each", count, rewritten, Seconds(t));
  if (checked != 2 * count) std::printf("!! %zu values read back wrong\n", 2 * count - checked);
}

void Big(const std::string& path, size_t count, bool encrypted) {
  std::mt19937 rng(9);
  const size_t size = 1 << 20;
  std::vector<Loc> locs(count);
  int32_t stamp = 0;
  auto f = Fresh(path, encrypted);
  const std::vector<uint8_t> value = Value(rng, size);

  auto t = Clock::now();
  for (Loc& loc : locs) {
    TBlobBuffer b(4, 1, 0, 0, TBlobOpenMode::kReadWrite);
    b.SetContents(value);
    f->WriteBlobValue(b, ++stamp);
    f->FlushAll(false);
    f->TrimBlockCache();
    loc = {b.FirstBlock(), b.Stamp(), b.Length()};
  }
  Row(encrypted ? "write 1 MB, scrambled" : "write 1 MB", count, double(size * count), Seconds(t));

  f = Reopen(path, encrypted);
  t = Clock::now();
  size_t wrong = 0;
  for (const Loc& loc : locs) {
    TBlobBuffer b(4, 1, loc.first, loc.stamp, TBlobOpenMode::kReadOnly);
    f->ReadBlobValue(b);
    wrong += !std::equal(value.begin(), value.end(), b.Contents().begin(), b.Contents().end());
  }
  Row(encrypted ? "read 1 MB, scrambled (cold)" : "read 1 MB (cold)", count, double(size * count),
      Seconds(t));
  if (wrong) std::printf("!! %zu values read back wrong\n", wrong);
}

// The same 1 MB values with plain pwrite/pread of whole values, for scale.
void Raw(const std::string& path, size_t count) {
  std::mt19937 rng(9);
  const size_t size = 1 << 20;
  const std::vector<uint8_t> value = Value(rng, size);
  std::vector<uint8_t> back(size);
  std::filesystem::remove(path);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  auto t = Clock::now();
  for (size_t i = 0; i < count; ++i) {
    if (::pwrite(fd, value.data(), size, off_t(i * size)) != ssize_t(size)) break;
  }
  Row("raw pwrite 1 MB", count, double(size * count), Seconds(t));
  ::close(fd);
  const int rd = ::open(path.c_str(), O_RDONLY);
  t = Clock::now();
  for (size_t i = 0; i < count; ++i) {
    if (::pread(rd, back.data(), size, off_t(i * size)) != ssize_t(size)) break;
  }
  Row("raw pread 1 MB", count, double(size * count), Seconds(t));
  ::close(rd);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  const size_t big = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 8;
  const std::string path = dir + "/bench_blob_" + std::to_string(::getpid()) + ".BLB";
  std::printf("%-40s %10s %12s %10s\n", "workload (block size 512)", "values", "values/s", "MB/s");
  try {
    Small(path, count);
    Big(path, big, false);
    Big(path, big, true);
    Raw(path, big);
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    std::filesystem::remove(path);
    return 1;
  }
  std::filesystem::remove(path);
  return 0;
}
