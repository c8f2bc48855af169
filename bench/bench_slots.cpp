// Record slots through the data file's cache against plain pread/pwrite of
// the same bytes, side by side: 1,000,000 slots of the password-record
// layout (581 bytes), written and read sequentially and at random.
//
// Usage: bench_slots [SLOTS] [DIR]   (defaults: 1000000, the temp folder)
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
  const char* workload;
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
    std::printf("%-34s %14.0f %10.1f %14.0f %10.1f %7.2f\n", row.workload, c, c * r / 1e6, w,
                w * r / 1e6, c / w);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t slots = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
  const std::filesystem::path dir =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
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

    // Sequential write: append every slot with its fields filled.
    auto t = Clock::now();
    for (uint32_t i = 0; i < slots; ++i) {
      cairn::TRecord* rec = file.AllocateSlot(false);
      file.PutString(1, *rec, "item");
      file.PutString(5, *rec, "https://example.org/");
      file.ReleaseRecord(rec);
    }
    file.FlushBuffers();
    const double seq_write = Seconds(t);

    // Sequential read with read-ahead.
    file.DiscardRecords();
    t = Clock::now();
    for (uint32_t s = 1; s <= slots; ++s) {
      checksum += file.GetRecord(s, false, true)->Image()[10];
    }
    const double seq_read = Seconds(t);

    // Random reads, one slot per miss.
    file.DiscardRecords();
    t = Clock::now();
    for (uint32_t s : order) checksum += file.GetRecord(s, false)->Image()[10];
    const double rnd_read = Seconds(t);

    // Random updates: read, change, write back through eviction and flush.
    file.DiscardRecords();
    t = Clock::now();
    for (uint32_t s : order) {
      cairn::TRecord* rec = file.GetRecord(s, false);
      rec->Image()[12] ^= 1;
      rec->SetModified(true);
    }
    file.FlushBuffers();
    const double rnd_update = Seconds(t);
    file.Close();

    // The same bytes with plain pread / pwrite, one call per slot; the
    // scramble is applied too when the table is encrypted.
    std::vector<uint8_t> slot(r, 0);
    int fd = ::open(raw_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return std::perror("open"), 1;
    auto scramble = [&](std::span<uint8_t> s) {
      if (encrypted) cairn::Scramble(s, cairn::kBufferSeed);
    };
    t = Clock::now();
    for (uint32_t s = 1; s <= slots; ++s) {
      slot[0] = 0;
      std::memcpy(&slot[1], &s, 4);
      scramble(slot);
      if (::pwrite(fd, slot.data(), r, off_t(base + uint64_t(s - 1) * r)) != ssize_t(r)) return 1;
    }
    const double raw_seq_write = Seconds(t);
    t = Clock::now();
    for (uint32_t s = 1; s <= slots; ++s) {
      if (::pread(fd, slot.data(), r, off_t(base + uint64_t(s - 1) * r)) != ssize_t(r)) return 1;
      scramble(slot);
      checksum += slot[10];
    }
    const double raw_seq_read = Seconds(t);
    t = Clock::now();
    for (uint32_t s : order) {
      if (::pread(fd, slot.data(), r, off_t(base + uint64_t(s - 1) * r)) != ssize_t(r)) return 1;
      scramble(slot);
      checksum += slot[10];
    }
    const double raw_rnd_read = Seconds(t);
    t = Clock::now();
    for (uint32_t s : order) {
      const off_t at = off_t(base + uint64_t(s - 1) * r);
      if (::pread(fd, slot.data(), r, at) != ssize_t(r)) return 1;
      scramble(slot);
      slot[12] ^= 1;
      scramble(slot);
      if (::pwrite(fd, slot.data(), r, at) != ssize_t(r)) return 1;
    }
    const double raw_rnd_update = Seconds(t);
    ::close(fd);

    const bool e = encrypted;
    rows.push_back(
        {e ? "sequential write, encrypted" : "sequential write", seq_write, raw_seq_write});
    rows.push_back({e ? "sequential read, encrypted" : "sequential read", seq_read, raw_seq_read});
    rows.push_back({e ? "random read, encrypted" : "random read", rnd_read, raw_rnd_read});
    rows.push_back({e ? "random update, encrypted" : "random update", rnd_update, raw_rnd_update});
  }
  std::filesystem::remove(data_path);
  std::filesystem::remove(raw_path);
  std::printf("bench_slots: %u slots of %u bytes (%.0f MB); cache of %u records, read-ahead %u",
              slots, r, double(slots) * r / 1e6, 16384 / r, 8192 / r);
  Print(rows, slots, r);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
  return 0;
}
