// Record slots through the data file's cache against plain pread/pwrite of
// the same bytes, side by side: 1,000,000 slots of the password-record
// layout (581 bytes), written and read sequentially and at random.
//
// Usage: bench_slots [SLOTS] [DIR] [REPS]   (defaults: 1000000, the temp folder, 3)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "storage/files/data_file.h"
#include "storage/files/scramble.h"

namespace {

using cairn::TDataFile;
using Clock = std::chrono::steady_clock;

std::vector<cairn::TFieldDescriptor> PasswordFields() {
  using cairn::TFieldDescriptor;
  return {TFieldDescriptor::Make("Item", cairn::kFldString, 0, 100),
          TFieldDescriptor::Make("User", cairn::kFldString, 0, 100),
          TFieldDescriptor::Make("PW", cairn::kFldString, 0, 100),
          TFieldDescriptor::Make("Details", cairn::kFldBlob, cairn::kSubMemo),
          TFieldDescriptor::Make("Web", cairn::kFldString, 0, 250),
          TFieldDescriptor::Make("Date", cairn::kFldDate)};
}

struct Row {
  std::string workload;
  double cache_s;
  double raw_s;
};

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Print(const std::vector<Row>& rows, uint32_t slots, uint32_t r) {
  std::printf("\n%-34s %14s %10s %14s %10s %7s\n", "workload", "cache slots/s", "MB/s",
              "raw slots/s", "MB/s", "ratio");
  for (const Row& row : rows) {
    const double c = slots / row.cache_s, w = slots / row.raw_s;
    std::printf("%-34s %14.0f %10.1f %14.0f %10.1f %7.2f\n", row.workload.c_str(), c, c * r / 1e6,
                w, w * r / 1e6, c / w);
  }
}

// Best of `reps` runs of each side, the two sides taking turns so that a
// busy moment of the machine does not fall on one side only.
template <typename A, typename B>
std::pair<double, double> BestPair(int reps, A&& cache_side, B&& raw_side) {
  double a = 1e300, b = 1e300;
  for (int i = 0; i < reps; ++i) {
    auto t = Clock::now();
    cache_side();
    a = std::min(a, Seconds(t));
    t = Clock::now();
    raw_side();
    b = std::min(b, Seconds(t));
  }
  return {a, b};
}

// Best of `reps` runs of `work`, in seconds.
template <typename Fn>
double Best(int reps, Fn&& work) {
  double best = 1e300;
  for (int i = 0; i < reps; ++i) {
    auto t = Clock::now();
    work();
    best = std::min(best, Seconds(t));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t slots = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const std::filesystem::path dir =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
  const int reps = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const std::string data_path = (dir / "bench_slots.DAT").string();
  const std::string raw_path = (dir / "bench_slots.raw").string();

  std::mt19937 rng(12345);
  std::vector<uint32_t> order(slots);
  for (uint32_t i = 0; i < slots; ++i) order[i] = i + 1;
  std::shuffle(order.begin(), order.end(), rng);

  std::vector<Row> rows;
  uint32_t r = 0;
  uint64_t checksum = 0;
  for (bool encrypted : {false, true}) {
    cairn::TDataCreateParams params;
    params.fields = PasswordFields();
    params.encrypted = encrypted;
    if (encrypted) params.password = "bench";
    TDataFile file("bench");
    file.set_file_name(data_path);
    file.CreateHeader(params);
    r = file.RecordSize();
    const uint64_t base = file.SlotAreaOffset();
    std::vector<uint8_t> slot(r, 0);
    int fd = ::open(raw_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return std::perror("open"), 1;
    // The raw side applies the scramble too when the table is encrypted.
    auto scramble = [&](std::span<uint8_t> s) {
      if (encrypted) cairn::Scramble(s, cairn::kBufferSeed);
    };
    auto raw_read = [&](uint32_t s) {
      if (::pread(fd, slot.data(), r, off_t(base + uint64_t(s - 1) * r)) != ssize_t(r)) {
        std::perror("pread");
        std::exit(1);
      }
      scramble(slot);
    };
    auto raw_write = [&](uint32_t s) {
      scramble(slot);
      if (::pwrite(fd, slot.data(), r, off_t(base + uint64_t(s - 1) * r)) != ssize_t(r)) {
        std::perror("pwrite");
        std::exit(1);
      }
    };
    const char* suffix = encrypted ? ", encrypted" : "";
    auto add = [&](const char* name, double cache_s, double raw_s) {
      rows.push_back({std::string(name) + suffix, cache_s, raw_s});
    };

    // Sequential write: append every slot (fields filled) and flush; the
    // raw side writes the same bytes with one pwrite per slot.
    double cache_s = Best(1, [&] {
      for (uint32_t i = 0; i < slots; ++i) {
        cairn::TRecord* rec = file.AllocateSlot(false);
        file.PutString(1, *rec, "item");
        file.PutString(5, *rec, "https://example.org/");
        file.ReleaseRecord(rec);
      }
      file.FlushBuffers();
    });
    double raw_s = Best(reps, [&] {
      for (uint32_t s = 1; s <= slots; ++s) {
        std::memset(slot.data(), 0, r);
        std::memcpy(&slot[1], &s, 4);
        raw_write(s);
      }
    });
    add("sequential write", cache_s, raw_s);

    // From here on the raw side reads and rewrites the table's own file, so
    // both sides see the same bytes laid out the same way.
    ::close(fd);
    fd = ::open(data_path.c_str(), O_RDWR);
    if (fd < 0) return std::perror("open"), 1;

    // Sequential read with read-ahead.
    std::tie(cache_s, raw_s) = BestPair(
        reps,
        [&] {
          file.DiscardRecords();
          for (uint32_t s = 1; s <= slots; ++s) {
            checksum += file.GetRecord(s, false, true)->Image()[10];
          }
        },
        [&] {
          for (uint32_t s = 1; s <= slots; ++s) {
            raw_read(s);
            checksum += slot[10];
          }
        });
    add("sequential read", cache_s, raw_s);

    // Random reads, one slot per miss.
    std::tie(cache_s, raw_s) = BestPair(
        reps,
        [&] {
          file.DiscardRecords();
          for (uint32_t s : order) checksum += file.GetRecord(s, false)->Image()[10];
        },
        [&] {
          for (uint32_t s : order) {
            raw_read(s);
            checksum += slot[10];
          }
        });
    add("random read", cache_s, raw_s);

    // Random updates: read, change, written back by eviction and the flush.
    std::tie(cache_s, raw_s) = BestPair(
        reps,
        [&] {
          file.DiscardRecords();
          for (uint32_t s : order) {
            cairn::TRecord* rec = file.GetRecord(s, false);
            rec->Image()[12] ^= 1;
            rec->SetModified(true);
          }
          file.FlushBuffers();
        },
        [&] {
          for (uint32_t s : order) {
            raw_read(s);
            slot[12] ^= 1;
            raw_write(s);
          }
        });
    add("random update", cache_s, raw_s);
    ::close(fd);
    file.Close();
  }
  std::filesystem::remove(data_path);
  std::filesystem::remove(raw_path);
  std::printf(
      "bench_slots: %u slots of %u bytes (%.0f MB); cache of %u records, read-ahead %u;"
      " best of %d runs (sequential write: one run)",
      slots, r, double(slots) * r / 1e6, 16384 / r, 8192 / r, reps);
  Print(rows, slots, r);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  return 0;
}
