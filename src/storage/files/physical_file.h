// TPhysicalFile: a disk file shared by every handler of the process that opens
// it, through one descriptor.
//
// Opening: a file without any write permission bit has the read-only
// attribute and is opened read-only; otherwise a read-write open is tried and,
// when refused, one read-only open (then only read_only() is set). Other
// processes are kept out the way sharing modes would: an exclusive open takes
// flock(LOCK_EX), a shared one flock(LOCK_SH), both non-blocking, and a refusal
// is CAIRN_OSEACCES. Temporary files are unlinked as soon as they are open so
// that nothing is left behind, even after a crash.
//
// Byte-range locks are open-file-description locks (F_OFD_SETLK): they belong
// to the descriptor, not to the process, so closing another descriptor of the
// same file never drops them. A write lock needs a writable descriptor, so on a
// file opened read-only the lock is taken shared; such a process never writes,
// and it still excludes every writer's lock on the same bytes.
#pragma once

#include "storage/files/abstract_file.h"

namespace cairn {

class TPhysicalFile : public TAbstractFile {
 public:
  explicit TPhysicalFile(std::string file_name);
  ~TPhysicalFile() override;

  bool in_memory() const override { return false; }
  int handle() const { return fd_; }

  int64_t Size() override;
  int Create(bool temporary) override;
  int Open(bool temporary, bool exclusive) override;
  void Close(int id) override;
  int Rename(const std::string& new_name) override;
  int Delete() override;
  int64_t Read(int id, void* buffer, int64_t length) override;
  int64_t Write(int id, const void* buffer, int64_t length) override;
  int Flush() override;
  void StartFlush() override;

  // Deletes or renames a disk file that no handler holds open.
  static int DeleteFile(const std::string& name);
  static int RenameFile(const std::string& old_name, const std::string& new_name);
  // Puts the folder entry of `path` on disk, so that a file just created or
  // renamed is still there after a crash. Best effort.
  static void SyncFolderOf(const std::string& path);

 protected:
  bool PlaceLock(uint64_t offset, uint64_t length) override;
  void RemoveLock(uint64_t offset, uint64_t length) override;

 private:
  void CloseHandle();

  int fd_ = -1;
};

}  // namespace cairn
