// Byte-range lock offsets of the table files. They lie beyond any real file
// content, near the top of the 32-bit offset space, and every process that
// opens a table must use exactly these bytes.
//
//   .DAT  table write lock       byte 2^32 - 1
//   .DAT  record lock of slot n  byte 2^32 - 2 - n   (n >= 1)
//   .DAT  release of all record locks: 200000001 bytes from 4094967293
//         (the bytes of slots 1 ... 200000001)
//   .IDX/.BLB write lock         65536 bytes from 2^32 - 65537
//   .IDX/.BLB read lock          byte 2^32 - 1 - r, r in 1 ... 65535
//
// The index and blob write-lock range covers every read-lock byte: one writer
// excludes all readers. A record-lock byte never meets the table write-lock
// byte because slots start at 1.
#pragma once

#include <chrono>
#include <cstdint>

namespace cairn {

inline constexpr uint64_t kTableWriteLockOffset = 4294967295ULL;
inline constexpr uint64_t kTableWriteLockLength = 1;
inline constexpr uint64_t kRecordLockBase = 4294967294ULL;
inline constexpr uint64_t kAllRecordLocksOffset = 4094967293ULL;
inline constexpr uint64_t kAllRecordLocksLength = 200000001ULL;
inline constexpr uint64_t kAreaWriteLockOffset = 4294901759ULL;
inline constexpr uint64_t kAreaWriteLockLength = 65536;
inline constexpr uint64_t kReadLockBase = 4294967295ULL;

// The lock byte of record slot `slot` (slot >= 1).
constexpr uint64_t RecordLockOffset(uint32_t slot) { return kRecordLockBase - slot; }
// The lock byte of read-lock number `r` (1 ... 65535).
constexpr uint64_t ReadLockOffset(uint16_t r) { return kReadLockBase - r; }

// How often a blocking lock is tried and how long to wait between attempts.
struct TLockRetry {
  int attempts = 32767;
  std::chrono::milliseconds wait{3};
};

}  // namespace cairn
