#include "storage/files/journal.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/data_endian.h"
#include "storage/files/file_faults.h"
#include "storage/files/physical_file.h"

namespace cairn {
namespace {

constexpr char kMagic[8] = {'C', 'a', 'i', 'r', 'n', 'J', 'n', 'l'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kSealedVersion = 2;
constexpr size_t kHeaderSize = 8 + 4 + 4 + 8 * TJournal::kFiles + 4;
constexpr size_t kEntryHead = 1 + 8 + 4;
constexpr uint64_t kNoFile = UINT64_MAX;
constexpr uint8_t kSuperEntry = 255;
constexpr uint8_t kAfterRecord = 128;  // + the file's number
constexpr uint32_t kAfterBytes = 8;
constexpr char kSuperMagic[8] = {'C', 'a', 'i', 'r', 'n', 'S', 'J', 'n'};

uint32_t Crc(uint32_t crc, const void* bytes, size_t length) {
  return uint32_t(crc32(crc, static_cast<const Bytef*>(bytes), uInt(length)));
}

// This process's id, asked of the system once per process (a fork forgets
// it), not once per post.
std::atomic<pid_t> process_id{0};
void ForgetProcessId() { process_id.store(0, std::memory_order_relaxed); }

// A fresh nonce for each journal. Opening the random device for every post
// costs more than some of the post's writes, so it seeds a generator once
// per thread; the process id keeps forked processes apart.
uint32_t NewNonce() {
  static const bool registered = ::pthread_atfork(nullptr, nullptr, ForgetProcessId) == 0;
  pid_t pid = process_id.load(std::memory_order_relaxed);
  if (pid == 0 || !registered) {
    pid = ::getpid();
    process_id.store(pid, std::memory_order_relaxed);
  }
  thread_local std::mt19937 engine{std::random_device{}()};
  return uint32_t(engine()) ^ (uint32_t(pid) * 0x9E3779B1u);
}

// An open-file lock on a super-journal's first byte, held while its commit
// runs.
bool LockSuper(int fd) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 1;
  while (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

[[noreturn]] void JournalFailed(const std::string& path) {
  RaiseEngineError(CAIRN_WRITEERR, path);
}

// The whole file behind `fd`; false on a read error.
bool ReadWhole(int fd, std::vector<uint8_t>& bytes) {
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
}

// A journal's header and its whole entries, up to the first torn one.
struct TParsed {
  struct TEntry {
    int file;
    uint64_t offset;
    size_t at;
    uint32_t length;
  };
  struct TAfter {
    int file;
    uint64_t offset;
    uint32_t length;
    uint32_t crc;
  };
  bool valid = false;
  bool sealed = false;
  std::array<uint64_t, TJournal::kFiles> sizes{};
  std::vector<TEntry> entries;
  std::vector<TAfter> afters;
  std::string super;  // the file name of the super-journal it names, if any
};

bool KnownVersion(uint32_t version) { return version == kVersion || version == kSealedVersion; }

TParsed Parse(const std::vector<uint8_t>& bytes) {
  TParsed parsed;
  parsed.valid = bytes.size() >= kHeaderSize && std::memcmp(bytes.data(), kMagic, 8) == 0 &&
                 KnownVersion(le::U32(&bytes[8])) &&
                 le::U32(&bytes[kHeaderSize - 4]) == Crc(0, bytes.data(), kHeaderSize - 4);
  if (!parsed.valid) return parsed;
  parsed.sealed = le::U32(&bytes[8]) == kSealedVersion;
  for (int i = 0; i < TJournal::kFiles; ++i) parsed.sizes[size_t(i)] = le::U64(&bytes[16 + 8 * i]);
  uint8_t nonce[4];
  le::PutU32(nonce, le::U32(&bytes[12]));
  size_t at = kHeaderSize;
  while (bytes.size() - at >= kEntryHead + 4) {
    const int file = bytes[at];
    const uint64_t offset = le::U64(&bytes[at + 1]);
    const uint32_t length = le::U32(&bytes[at + 9]);
    const bool after = file >= kAfterRecord && file < kAfterRecord + TJournal::kFiles;
    if ((file >= TJournal::kFiles && file != kSuperEntry && !after) ||
        (after && length != kAfterBytes) || bytes.size() - at - kEntryHead - 4 < length)
      break;
    const size_t crc_at = at + kEntryHead + length;
    if (le::U32(&bytes[crc_at]) != Crc(Crc(0, nonce, 4), &bytes[at], crc_at - at)) break;
    if (after) {
      parsed.afters.push_back({file - kAfterRecord, offset, le::U32(&bytes[at + kEntryHead]),
                               le::U32(&bytes[at + kEntryHead + 4])});
    } else if (file == kSuperEntry) {
      parsed.super.assign(reinterpret_cast<const char*>(&bytes[at + kEntryHead]), length);
    } else {
      parsed.entries.push_back({file, offset, at + kEntryHead, length});
    }
    at = crc_at + 4;
  }
  return parsed;
}

// True when `fd` holds a whole, valid header: a change that has not reached
// its commit point. `nonce` gets the nonce the header bytes carry, valid or
// not (an invalidated header keeps it).
bool HeaderValid(int fd, uint32_t* nonce = nullptr) {
  uint8_t header[kHeaderSize];
  ssize_t n;
  do {
    n = ::pread(fd, header, kHeaderSize, 0);
  } while (n < 0 && errno == EINTR);
  if (n != ssize_t(kHeaderSize)) return false;
  if (nonce) *nonce = le::U32(&header[12]);
  return std::memcmp(header, kMagic, 8) == 0 && KnownVersion(le::U32(&header[8])) &&
         le::U32(&header[kHeaderSize - 4]) == Crc(0, header, kHeaderSize - 4);
}

// Deletes a super-journal once no journal beside it names it.
void ForgetSuperIfUnused(const std::string& super) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path folder = fs::path(super).parent_path();
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().extension() != ".JNL") continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    std::vector<uint8_t> bytes;
    const bool read = ReadWhole(fd, bytes);
    ::close(fd);
    if (!read || Parse(bytes).super == fs::path(super).filename().string()) return;
  }
  if (::unlink(super.c_str()) != 0) return;
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().Removed(super);
  TPhysicalFile::SyncFolderOf(super);
}

// True when the table files hold every write a sealed journal lists, and
// the sizes those writes leave: the change reached the disk whole.
bool ReachedDisk(const TParsed& parsed, const std::array<TFileHandler*, TJournal::kFiles>& files) {
  if (!parsed.sealed || !parsed.super.empty()) return false;
  std::array<uint64_t, TJournal::kFiles> sizes = parsed.sizes;
  std::vector<uint8_t> bytes;
  try {
    for (const TParsed::TAfter& after : parsed.afters) {
      TFileHandler* file = files[size_t(after.file)];
      if (!file || !file->is_open() || sizes[size_t(after.file)] == kNoFile || after.length == 0)
        return false;
      bytes.resize(after.length);
      if (file->ReadAt(after.offset, bytes.data(), after.length, true) != int64_t(after.length) ||
          Crc(0, bytes.data(), bytes.size()) != after.crc)
        return false;
      sizes[size_t(after.file)] = std::max(sizes[size_t(after.file)], after.offset + after.length);
    }
    for (int i = 0; i < TJournal::kFiles; ++i) {
      TFileHandler* file = files[size_t(i)];
      if (sizes[size_t(i)] == kNoFile) continue;
      if (!file || !file->is_open() || uint64_t(file->Size()) != sizes[size_t(i)]) return false;
    }
  } catch (const ECairnEngineError&) {
    return false;  // then played back, which reports what fails
  }
  return true;
}

}  // namespace

TJournal::TJournal(std::string path, std::array<TFileHandler*, kFiles> files)
    : path_(std::move(path)), files_(files) {}

TJournal::~TJournal() {
  Attach(false);
  // A change that never reached its commit point stays for the next writer
  // to play back; a journal with none in it goes, unless it is in use.
  if (active_) {
    Abandon();
  } else {
    Tidy();
  }
}

void TJournal::Attach(bool attach) {
  attached_ = attach;
  for (TFileHandler* file : files_) {
    if (file) file->SetWriteObserver(attach ? this : nullptr);
  }
}

namespace {

// The stamp of the journal behind our descriptor, from its status and the
// nonce its header carries; unknown while the header is not whole.
TJournalStamp StampOf(const struct stat& st, uint64_t epoch, uint32_t nonce) {
  TJournalStamp stamp;
  if (st.st_size < off_t(kHeaderSize)) return stamp;
  stamp.known = true;
  stamp.epoch = epoch;
  stamp.nonce = nonce;
  stamp.size = int64_t(st.st_size);
  stamp.mtime_ns = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  return stamp;
}

}  // namespace

bool TJournal::Exists() {
  stamp_ = {};
  clean_ = false;
  struct stat st;
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_nlink > 0) {
    uint32_t nonce = 0;
    if (HeaderValid(fd_, &nonce)) return true;
    stamp_ = StampOf(st, epoch_, nonce);
    clean_ = true;
    clean_nonce_ = nonce;
    return false;
  }
  // Unlinked: the name may stand for another file now.
  if (fd_ >= 0 && !active_) Abandon();
  int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd >= 0 && fd_ < 0) {
    // Kept, so that the next test (each lock taken) reads it in one call.
    fd_ = fd;
    ++epoch_;
    folder_unsynced_ = true;
    return HeaderValid(fd_);
  }
  // No such file (the usual case) needs no second try read-only.
  if (fd < 0 && errno != ENOENT) fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool valid = HeaderValid(fd);
  ::close(fd);
  return valid;
}

bool TJournal::LeftAt(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool valid = HeaderValid(fd);
  ::close(fd);
  return valid;
}

int TJournal::IndexOf(const TFileHandler& file) const {
  for (int i = 0; i < kFiles; ++i) {
    if (files_[size_t(i)] == &file) return i;
  }
  return -1;
}

// Entries wait in memory until a table write is about to follow them (or a
// sync): a flush whose table writes are held back journals in one call.
void TJournal::Append(const void* bytes, size_t length) {
  const auto* in = static_cast<const uint8_t*>(bytes);
  pending_.insert(pending_.end(), in, in + length);
  if (pending_.size() >= kPendingLimit) WritePending();
}

void TJournal::WriteAt(uint64_t offset, const uint8_t* in, size_t length) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd_, in, length, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) JournalFailed(path_);
    if (TFileFaults::Instance().recording()) TFileFaults::Instance().Wrote(path_, offset, in, n);
    in += n;
    offset += uint64_t(n);
    length -= size_t(n);
  }
  unsynced_ = true;
}

void TJournal::WritePending() {
  if (pending_.empty()) return;
  WriteAt(end_, pending_.data(), pending_.size());
  end_ += pending_.size();
  pending_.clear();
}

void TJournal::Sync() {
  WritePending();
  if (!unsynced_) return;
  if (::fdatasync(fd_) != 0) JournalFailed(path_);
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().Flushed(path_);
  unsynced_ = false;
}

void TJournal::OpenFile() {
  TFileFaults& faults = TFileFaults::Instance();
  for (;;) {
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (faults.recording()) faults.Created(path_);
    } else if (errno == EEXIST) {
      fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;  // gone in between
    }
    if (fd < 0) JournalFailed(path_);
    fd_ = fd;
    ++epoch_;
    // Found or made by this process: its folder entry may not be on disk.
    folder_unsynced_ = true;
    return;
  }
}

// Under the table's write lock, taken with a look at the journal (Exists,
// which opens again a file unlinked meanwhile): nobody else writes, cuts or
// tidies the file away until the lock goes.
void TJournal::Start() {
  if (fd_ < 0) {
    OpenFile();
    clean_ = false;
  }
  // Seen without a change under this lock (or left so by our last commit):
  // not read again.
  uint32_t old_nonce = clean_nonce_;
  if (!clean_ && HeaderValid(fd_, &old_nonce)) {
    // Another change's journal, never played back: it is not overwritten.
    Abandon();
    JournalFailed(path_);
  }
  active_ = true;
  clean_ = false;
  end_ = 0;
  pending_.clear();
  for (auto& ranges : journaled_) ranges.clear();
  for (auto& ranges : written_) ranges.clear();
  sealable_ = force_flush_;
  sealed_ = false;
  // Entries of earlier changes may follow this one's in the file; the nonce
  // in their checksums tells them apart.
  do {
    nonce_ = NewNonce();
  } while (nonce_ == old_nonce);
  static_assert(sizeof header_ == kHeaderSize);
  uint8_t* header = header_.data();
  header_.fill(0);
  std::memcpy(header, kMagic, 8);
  le::PutU32(header + 8, kVersion);
  le::PutU32(header + 12, nonce_);
  for (int i = 0; i < kFiles; ++i) {
    TFileHandler* file = files_[size_t(i)];
    if (!file || !file->is_open()) {
      sizes_[size_t(i)] = kNoFile;
    } else if (file->UndoActive() && file->UndoCount() != committed_undo_[size_t(i)]) {
      // The size the change began with, as its undo knows it (no journal of
      // this change committed since): no need to ask the system.
      sizes_[size_t(i)] = file->UndoSize();
    } else {
      sizes_[size_t(i)] = uint64_t(file->Size());
    }
    le::PutU64(header + 16 + 8 * i, sizes_[size_t(i)]);
  }
  le::PutU32(header + kHeaderSize - 4, Crc(0, header, kHeaderSize - 4));
  // On disk before the first table write (MakeDurable).
  try {
    Append(header, kHeaderSize);
  } catch (...) {
    Abandon();
    throw;
  }
}

bool TJournal::Unlink() {
  if (::unlink(path_.c_str()) != 0) return false;
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().Removed(path_);
  return true;
}

void TJournal::PhysicalSyncFolder() { TPhysicalFile::SyncFolderOf(path_); }

void TJournal::BeforeWrite(TFileHandler& file, uint64_t offset, int64_t length,
                           std::span<const uint8_t> replaced, std::span<const uint8_t> written) {
  if (playing_back_ || !attached_) return;
  const int index = IndexOf(file);
  if (index < 0) return;
  if (!active_) Start();
  // A write the seal did not list: unsealed on disk before it can land.
  if (sealed_) SetSealed(false);
  const uint64_t limit = sizes_[size_t(index)];
  const uint64_t end = length == 0 ? limit : std::min(limit, offset + uint64_t(length));
  auto& journaled = journaled_[size_t(index)];
  const auto earlier = journaled.find(offset);
  if (offset < end && (earlier == journaled.end() || earlier->second < end)) {
    // The bytes this write replaces: the undo's copy, else read through the
    // shared file object without moving the handler's position; the entry
    // is made in place among those that wait.
    const size_t count = size_t(end - offset);
    const size_t at = pending_.size();
    uint8_t head[kEntryHead];
    head[0] = uint8_t(index);
    le::PutU64(&head[1], offset);
    le::PutU32(&head[9], uint32_t(count));
    pending_.insert(pending_.end(), head, head + kEntryHead);
    TAbstractFile* object = file.file();
    if (replaced.size() >= count) {
      pending_.insert(pending_.end(), replaced.begin(), replaced.begin() + std::ptrdiff_t(count));
    } else {
      pending_.resize(at + kEntryHead + count);
      std::lock_guard guard(object->mutex());
      const int id = file.handle_id();
      const int64_t position = object->Seek(id, kSeekCurrent, 0);
      object->Seek(id, kSeekStart, int64_t(offset));
      const int64_t got = object->Read(id, &pending_[at + kEntryHead], int64_t(count));
      object->Seek(id, kSeekStart, position);
      if (got != int64_t(count)) {
        pending_.resize(at);
        RaiseEngineError(CAIRN_READERR, file.file_name());
      }
    }
    uint8_t nonce[4];
    le::PutU32(nonce, nonce_);
    uint8_t crc[4];
    le::PutU32(crc, Crc(Crc(0, nonce, 4), &pending_[at], kEntryHead + count));
    pending_.insert(pending_.end(), crc, crc + 4);
    if (pending_.size() >= kPendingLimit) WritePending();
    journaled[offset] = end;
  }
  if (sealable_) AddAfterRecord(index, offset, length, written);
  // The journal goes (to disk, when flushes are forced) before the table
  // file is touched; a write held back waits for BeforeHeldWrites, so that a
  // flush writes and syncs the journal once.
  if (file.HoldingWrites()) return;
  sealable_ = false;  // a table write lands before any seal
  WritePending();
  if (force_flush_) MakeDurable();
}

void TJournal::AddAfterRecord(int index, uint64_t offset, int64_t length,
                              std::span<const uint8_t> written) {
  auto& ranges = written_[size_t(index)];
  const uint64_t end = offset + uint64_t(std::max<int64_t>(length, 0));
  // Only the last write to a byte could be checked on disk, and a cut
  // changes what the sizes prove: such a change is not sealed.
  bool overlaps = length <= 0 || ranges.size() >= kMaxSealedWrites;
  for (size_t i = 0; i < ranges.size() && !overlaps; ++i)
    overlaps = offset < ranges[i].second && ranges[i].first < end;
  if (overlaps) {
    sealable_ = false;
    return;
  }
  ranges.emplace_back(offset, end);
  uint8_t entry[kEntryHead + kAfterBytes + 4];
  entry[0] = uint8_t(kAfterRecord + index);
  le::PutU64(&entry[1], offset);
  le::PutU32(&entry[9], kAfterBytes);
  le::PutU32(&entry[kEntryHead], uint32_t(length));
  le::PutU32(&entry[kEntryHead + 4], Crc(0, written.data(), written.size()));
  uint8_t nonce[4];
  le::PutU32(nonce, nonce_);
  le::PutU32(&entry[kEntryHead + kAfterBytes], Crc(Crc(0, nonce, 4), entry, kEntryHead + kAfterBytes));
  Append(entry, sizeof entry);
}

void TJournal::Seal() {
  if (!active_ || !sealable_ || sealed_ || held_ || !force_flush_) return;
  SetSealed(true);
}

void TJournal::SetSealed(bool sealed) {
  le::PutU32(&header_[8], sealed ? kSealedVersion : kVersion);
  le::PutU32(&header_[kHeaderSize - 4], Crc(0, header_.data(), kHeaderSize - 4));
  sealed_ = sealed;
  if (!sealed) sealable_ = false;
  // Still waiting to be written, or written (and then put on disk with the
  // next entries, before any table write that follows).
  if (end_ == 0 && pending_.size() >= kHeaderSize) {
    std::memcpy(pending_.data(), header_.data(), kHeaderSize);
  } else {
    WriteAt(0, header_.data(), kHeaderSize);
  }
}

void TJournal::BeforeHeldWrites() {
  if (!active_) return;
  // Table writes go out now: only those of a sealed flush may follow a seal.
  if (!sealed_) sealable_ = false;
  WritePending();
  if (force_flush_) MakeDurable();
}

void TJournal::MakeDurable() {
  if (!active_) return;
  Sync();
  if (folder_unsynced_) {
    PhysicalSyncFolder();
    folder_unsynced_ = false;
  }
}

void TJournal::Commit() {
  if (!active_) return;
  // Every write the journal guards is on disk before the journal goes, also
  // those a cache made before its table's flush.
  if (force_flush_) TFileHandler::FlushTogether(files_);
  // Joined to a super-journal: its removal commits, this journal goes after.
  if (held_) return;
  // Entries still waiting belong to no table write.
  pending_.clear();
  for (int i = 0; i < kFiles; ++i) {
    const TFileHandler* file = files_[size_t(i)];
    committed_undo_[size_t(i)] = file ? file->UndoCount() : 0;
  }
  // Invalidated under the table's write lock: nobody can take it for a
  // journal left behind. The file stays for the next change.
  static constexpr uint8_t kZeros[sizeof kMagic] = {};
  try {
    WriteAt(0, kZeros, sizeof kZeros);
    // A sealed change's files prove it whole should this write be lost.
    if (force_flush_ && !sealed_) Sync();
  } catch (...) {
    Abandon();
    throw;
  }
  TFileFaults& faults = TFileFaults::Instance();
  // A large transaction's journal does not keep its disk space; losing
  // this cut to a crash loses nothing, the header is invalid already.
  if (end_ > kKeptJournalBytes && ::ftruncate(fd_, 0) == 0 && faults.recording())
    faults.Wrote(path_, 0, nullptr, 0);
  active_ = false;
  sealed_ = sealable_ = false;
  clean_ = true;
  clean_nonce_ = nonce_;
}

TJournalStamp TJournal::CommittedStamp() {
  struct stat st;
  if (active_ || fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_nlink == 0) return {};
  return StampOf(st, epoch_, nonce_);
}

void TJournal::Abandon() {
  held_ = false;
  active_ = false;
  clean_ = false;
  sealed_ = sealable_ = false;
  unsynced_ = false;
  pending_.clear();
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void TJournal::Tidy() {
  const bool own = fd_ >= 0;
  const int fd = own ? fd_ : ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  fd_ = -1;
  if (fd < 0) return;
  // Under the table's write lock, had at once or not at all: no writer is
  // at work or can start before the file goes. Unlinked by nobody and the
  // file the name stands for, and holding no change.
  TFileHandler* data = files_[0];
  if (data && data->is_open() && data->LockTableWrite(TLockRetry{1, {}})) {
    struct stat by_fd, by_name;
    if (::fstat(fd, &by_fd) == 0 && by_fd.st_nlink > 0 && ::stat(path_.c_str(), &by_name) == 0 &&
        by_fd.st_ino == by_name.st_ino && by_fd.st_dev == by_name.st_dev && !HeaderValid(fd)) {
      Unlink();
    }
    data->UnlockTableWrite();
  }
  ::close(fd);
}

bool TJournal::RecoverIfLeft() {
  kept_whole_ = false;
  if (active_) {
    // Our own change could not be rolled back: play it back now.
    Abandon();
  }
  const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<uint8_t> bytes;
  if (!ReadWhole(fd, bytes)) {
    ::close(fd);
    RaiseEngineError(CAIRN_READERR, path_);
  }
  const TParsed parsed = Parse(bytes);
  if (!parsed.valid) {
    // No change in it (committed, or cut short before its header was
    // whole, so before any table write).
    ::close(fd);
    return false;
  }
  const auto& entries = parsed.entries;
  const auto& sizes = parsed.sizes;
  // Done with the change: the journal goes, on disk before anything new.
  const auto remove = [&] {
    const bool removed = Unlink();
    ::close(fd);
    if (!removed) JournalFailed(path_);
    PhysicalSyncFolder();
  };
  // Beside the journal, wherever the folder has been moved or copied to.
  const std::string super =
      parsed.super.empty()
          ? std::string()
          : (std::filesystem::path(path_).parent_path() / parsed.super).string();
  if (!super.empty() && ::access(super.c_str(), F_OK) != 0 && errno == ENOENT) {
    // Its super-journal is gone: the change committed with the other tables.
    remove();
    return true;
  }
  if (ReachedDisk(parsed, files_)) {
    // Whole on disk but for the zeroed magic: kept, once surely on disk.
    try {
      for (TFileHandler* file : files_)
        if (file && file->is_open()) file->Flush();
    } catch (...) {
      ::close(fd);
      throw;
    }
    remove();
    kept_whole_ = true;
    return true;
  }
  playing_back_ = true;
  try {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      TFileHandler* file = files_[size_t(it->file)];
      if (file) file->WriteAt(it->offset, &bytes[it->at], it->length);
    }
    for (int i = 0; i < kFiles; ++i) {
      TFileHandler* file = files_[size_t(i)];
      if (!file || sizes[size_t(i)] == kNoFile) continue;
      if (uint64_t(file->Size()) != sizes[size_t(i)]) file->Truncate(sizes[size_t(i)]);
      file->Flush();
    }
  } catch (...) {
    playing_back_ = false;
    ::close(fd);
    throw;
  }
  playing_back_ = false;
  remove();
  if (!super.empty()) ForgetSuperIfUnused(super);
  return true;
}

void TJournal::JoinSuper(const std::string& super_path) {
  if (!active_) Start();
  // The super-journal's removal is the commit point of every table.
  if (sealed_) SetSealed(false);
  sealable_ = false;
  const std::string name = std::filesystem::path(super_path).filename().string();
  std::vector<uint8_t> entry(kEntryHead + name.size() + 4);
  entry[0] = kSuperEntry;
  le::PutU64(&entry[1], 0);
  le::PutU32(&entry[9], uint32_t(name.size()));
  std::memcpy(&entry[kEntryHead], name.data(), name.size());
  uint8_t nonce[4];
  le::PutU32(nonce, nonce_);
  le::PutU32(&entry[entry.size() - 4], Crc(Crc(0, nonce, 4), entry.data(), entry.size() - 4));
  Append(entry.data(), entry.size());
  // Named (on disk, when flushes are forced) before the super-journal can
  // go, also when no table write of the flush follows to take it there.
  WritePending();
  if (force_flush_) MakeDurable();
  held_ = true;
}

TSuperJournal::TSuperJournal(const std::string& folder, bool force_flush)
    : force_flush_(force_flush) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().extension() != ".SJN") continue;
    const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) continue;
    if (LockSuper(fd)) ForgetSuperIfUnused(entry.path().string());
    ::close(fd);
  }
  TFileFaults& faults = TFileFaults::Instance();
  std::random_device random;
  std::string fresh;
  do {
    char name[32];
    std::snprintf(name, sizeof name, "/%08X.SJN", unsigned(random()));
    path_ = folder + name;
    fresh = path_ + "-new";
    fd_ = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EEXIST);
  if (fd_ < 0) JournalFailed(fresh);
  if (faults.recording()) faults.Created(fresh);
  // Locked before it has the name that others sweep.
  bool made = LockSuper(fd_) &&
              ::write(fd_, kSuperMagic, sizeof kSuperMagic) == ssize_t(sizeof kSuperMagic);
  if (made && faults.recording()) faults.Wrote(fresh, 0, kSuperMagic, sizeof kSuperMagic);
  if (made && force_flush_) {
    made = ::fdatasync(fd_) == 0;
    if (made && faults.recording()) faults.Flushed(fresh);
  }
  struct stat st;
  made = made && ::stat(path_.c_str(), &st) != 0 && ::rename(fresh.c_str(), path_.c_str()) == 0;
  if (!made) {
    ::unlink(fresh.c_str());
    ::close(fd_);
    fd_ = -1;
    JournalFailed(path_);
  }
  if (faults.recording()) faults.Renamed(fresh, path_);
  if (force_flush_) TPhysicalFile::SyncFolderOf(path_);
}

TSuperJournal::~TSuperJournal() {
  if (fd_ >= 0) ::close(fd_);
}

void TSuperJournal::Remove() {
  if (::unlink(path_.c_str()) != 0) JournalFailed(path_);
  if (TFileFaults::Instance().recording()) TFileFaults::Instance().Removed(path_);
  if (force_flush_) TPhysicalFile::SyncFolderOf(path_);
}

void TSuperJournal::Discard() {
  if (::unlink(path_.c_str()) == 0 && TFileFaults::Instance().recording())
    TFileFaults::Instance().Removed(path_);
}

}  // namespace cairn
