// TJournal: the rollback journal of one table, the file NAME.JNL beside its
// data, index and blob files (no table file carries that extension, so it
// clashes with none). It makes every flush of the table atomic, also when
// the writing process is killed or, with forced flushes, the machine loses
// power.
//
// Protocol (the writer holds the table's write lock throughout, or has the
// table's files to itself; the journal has no lock of its own: whoever
// holds that lock knows that no other writer is at work):
//  1. Before the first byte of any of the table's files is overwritten,
//     extended or cut, the journal is opened (created if need be, its
//     folder entry put on disk once per process that opens it; a file found
//     unlinked when the table lock was taken is opened again by its name)
//     and given a header with the three files' sizes. A valid header found
//     there is another change's, never overwritten.
//  2. Before each write or cut, the bytes it replaces (those below the
//     file's size at step 1) are appended to the journal as one entry.
//     With forced flushes the journal (and, once, its folder) is put on
//     disk before the table file is touched. A flush holds its table
//     writes back (TFileHandler::HoldWrites) until all their entries are
//     in, so the journal is written (and put on disk) once per flush.
//  3. When the table's flush is done (the files themselves put on disk when
//     flushes are forced), the header's magic is zeroed (and put on disk
//     when flushes are forced): the commit point. The file stays for the
//     next change, saving its creation and two folder syncs per change; one
//     grown past kKeptJournalBytes is cut to nothing.
// A sealed change needs no sync of that zeroed magic. With forced flushes
// each write also leaves an after-record: where it went, its length and the
// checksum of the bytes it put there. A flush that holds back all of its
// change's table writes seals the journal (Seal: the header's version
// becomes 2) before they go out, and no table write follows them before the
// commit point (one that did would first unseal the header on disk). A
// sealed journal found left whose after-records all match the table files,
// and whose sizes follow from them, is a change that reached the disk
// whole: the files are put on disk and the journal goes, not played back.
// So losing the zeroed magic to a power loss loses no returned change.
// A journal without a valid header holds no change: it is no journal.
// Closing the table deletes such a file when the table's write lock can be
// had at once. A valid journal found under the table's write lock (or read
// lock, which no writer shares) belongs to a writer that is gone: it is
// played back (each entry written back, latest first, then each
// file cut to its recorded size, the files put on disk) and only then
// deleted. A playback that fails leaves the journal for the next try.
//
// A transaction that changed several tables commits them together through
// a super-journal, FOLDER/XXXXXXXX.SJN (no table file has that extension):
//  1. The super-journal is created (on disk, with its folder entry, when
//     flushes are forced).
//  2. Each table's journal gets an entry naming it (JoinSuper), on disk
//     first, and the table is written and put on disk; its journal stays.
//  3. The super-journal is deleted: the commit point of every table.
//  4. Each table's journal is invalidated, as a single table's is.
// A journal left behind that names a super-journal which is gone belongs to
// a committed change: it is deleted, not played back. One whose
// super-journal is still there is played back, and the super-journal goes
// once no journal beside it names it. The super-journal is locked while its
// commit runs (it is made under another name, locked, then renamed), so
// one that nobody holds and no journal names is a crash's leftover.
//
// Bytes (little-endian):
//   header   "CairnJnl" | u32 version (1; 2: sealed) | u32 nonce |
//            3 x u64 size (UINT64_MAX: no such file) | u32 crc of the 40
//            bytes before
//   entry    u8 file (0 data, 1 index, 2 blob; 255: the bytes are the
//            super-journal's file name) | u64 offset | u32 length |
//            bytes | u32 crc of nonce, the 13 bytes and the bytes
//   after-record  u8 128 + file | u64 offset | u32 8 | u32 length written |
//            u32 crc of the bytes written | u32 crc as an entry's
//   super-journal  "CairnSJn"
// A torn or damaged entry ends the journal: its table write never began.
// Entries of earlier changes left further on in the file fail the
// checksum, as each change takes a nonce other than the one found there.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "storage/files/file_handler.h"

namespace cairn {

// The journal file as a lock-taker last found it between changes. Every
// change through any journal of the table moves it (a new nonce, and the
// file's modification time), so an equal stamp under the table lock means
// no change was made since; the table then keeps its headers unread.
// Unknown when there was no file, only part of a header, or a change in it.
struct TJournalStamp {
  bool known = false;
  uint64_t epoch = 0;  // the descriptor it was read through (see TJournal)
  uint32_t nonce = 0;
  int64_t size = 0;
  int64_t mtime_ns = 0;
  bool operator==(const TJournalStamp&) const = default;
};

class TJournal : public TWriteObserver {
 public:
  static constexpr int kFiles = 3;
  // A journal file larger than this is cut to nothing at its commit point.
  static constexpr uint64_t kKeptJournalBytes = 1 << 20;

  // `files` are the data, index and blob handlers (blob may be null);
  // `path` is the journal's file name.
  TJournal(std::string path, std::array<TFileHandler*, kFiles> files);
  ~TJournal() override;
  TJournal(const TJournal&) = delete;
  TJournal& operator=(const TJournal&) = delete;

  const std::string& path() const { return path_; }
  // Put the journal on disk before each table write that follows new entries.
  void set_force_flush(bool value) { force_flush_ = value; }
  // Starts observing the handlers' writes (and stops, with false).
  void Attach(bool attach);
  bool Active() const { return active_; }

  // Called by a flush that ends its change once all of the change's table
  // writes are held back, before they go out: the change is sealed when it
  // qualifies (forced flushes, no table write made yet, no super-journal,
  // few writes, none over another or cutting a file).
  void Seal();
  // The commit point: invalidates the journal of the writes since the last one.
  void Commit();
  // Gives up the journal without deleting it (after a rollback that could
  // not be completed): it is then a journal without a writer, played back
  // by the next one to take the write lock.
  void Abandon();
  // Plays back a journal left by a writer that is gone; false when there is
  // none. Call with the table's write lock (or its files to oneself).
  // Raises on a failed playback, leaving the journal in place.
  bool RecoverIfLeft();
  // After RecoverIfLeft returned true: the sealed change had reached the
  // disk whole and was kept, not played back.
  bool KeptWhole() const { return kept_whole_; }
  // True when the journal holds a change (a cheap test before RecoverIfLeft).
  // Call it with each table lock taken: what it finds holds until
  // LockReleased, as nobody else writes the journal meanwhile.
  bool Exists();
  // The table lock under which Exists last looked is gone.
  void LockReleased() { clean_ = false; }
  // What the last Exists() found (unknown when it found a change).
  const TJournalStamp& LastStamp() const { return stamp_; }
  // After Commit (this change's own write lock still held): the stamp the
  // next lock-taker will find, unless another change comes first.
  TJournalStamp CommittedStamp();
  // The same for the journal file `path`, with no table open.
  static bool LeftAt(const std::string& path);

  // Several tables' commit (above). JoinSuper names the super-journal in
  // this journal (started if need be) and holds it: Commit then only puts
  // the table files on disk, and deletes the journal once Release was called.
  void JoinSuper(const std::string& super_path);
  void Release() { held_ = false; }

  void BeforeWrite(TFileHandler& file, uint64_t offset, int64_t length,
                   std::span<const uint8_t> replaced, std::span<const uint8_t> written) override;
  void BeforeHeldWrites() override;

 private:
  int IndexOf(const TFileHandler& file) const;
  void OpenFile();
  void Start();
  void Tidy();
  void Append(const void* bytes, size_t length);
  void AddAfterRecord(int index, uint64_t offset, int64_t length,
                      std::span<const uint8_t> written);
  void SetSealed(bool sealed);
  void WritePending();
  // Writes all of `length` bytes at `offset`, or raises.
  void WriteAt(uint64_t offset, const uint8_t* bytes, size_t length);
  void Sync();
  void MakeDurable();
  bool Unlink();
  void PhysicalSyncFolder();

  std::string path_;
  std::array<TFileHandler*, kFiles> files_;
  std::array<uint64_t, kFiles> sizes_{};
  // Per file, its undo (UndoCount) when a journal was last committed.
  std::array<uint64_t, kFiles> committed_undo_{};
  // Per file, offset -> end of each range journaled since Start: playback
  // restores the first copy last, so a later copy of a range is never needed.
  std::array<std::unordered_map<uint64_t, uint64_t>, kFiles> journaled_;
  bool force_flush_ = false;
  bool attached_ = false;
  bool playing_back_ = false;
  bool held_ = false;  // joined a super-journal, not yet released
  bool unsynced_ = false;
  bool folder_unsynced_ = false;  // the journal's folder entry is not on disk yet
  int fd_ = -1;                   // the journal file, kept open between changes
  bool active_ = false;           // a change of ours is in it
  // The file behind fd_ holds no change (seen by Exists, or left so by our
  // commit) and carries `clean_nonce_`, while the table lock lasts.
  bool clean_ = false;
  uint32_t clean_nonce_ = 0;
  uint64_t end_ = 0;              // bytes written to the journal so far
  std::vector<uint8_t> pending_;  // entries not yet written, from end_ on
  static constexpr size_t kPendingLimit = 256 * 1024;
  uint32_t nonce_ = 0;
  // Bumped for each descriptor fd_ takes: while one stays open its file
  // cannot be replaced by another of the same inode number.
  uint64_t epoch_ = 0;
  TJournalStamp stamp_;
  // Sealing (above): still possible for the change in the journal, and done.
  bool sealable_ = false;
  bool sealed_ = false;
  bool kept_whole_ = false;
  static constexpr size_t kMaxSealedWrites = 256;
  // Per file, [offset, end) of each write of the change while sealable.
  std::array<std::vector<std::pair<uint64_t, uint64_t>>, kFiles> written_;
  std::array<uint8_t, 44> header_{};  // the change's header, as last written
};

// The super-journal of one commit of several tables (protocol above).
class TSuperJournal {
 public:
  // Creates it in `folder` and holds it, after deleting the leftovers of
  // crashes there. CAIRN_WRITEERR when it cannot be made.
  TSuperJournal(const std::string& folder, bool force_flush);
  // Lets go of it; the file stays unless Remove or Discard ran.
  ~TSuperJournal();
  TSuperJournal(const TSuperJournal&) = delete;
  TSuperJournal& operator=(const TSuperJournal&) = delete;

  const std::string& path() const { return path_; }
  // The commit point; CAIRN_WRITEERR when it fails (nothing committed).
  void Remove();
  // After every table was restored: the commit that never was leaves nothing.
  void Discard();

 private:
  std::string path_;
  bool force_flush_;
  int fd_ = -1;
};

}  // namespace cairn
