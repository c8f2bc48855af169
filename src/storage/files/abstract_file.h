// TAbstractFile: one shared file object per distinct file name and kind in the
// process. Handlers (TFileHandler) register with it and get an id (> 0); each
// registration has its own 64-bit position. Every operation is serialised by
// the object's recursive mutex, which handlers also take around a seek and the
// transfer that follows (Enter/Leave).
//
// Failures are returned, never thrown: negative values are the negated engine
// error code (see storage/base/engine_error.h). TFileHandler turns them into
// ECairnEngineError.
//
// Byte-range locks are kept in the object's list of held ranges, tagged with
// the registration that took them. A lock that overlaps any held range is
// refused, so two handlers sharing the object exclude each other just as two
// processes do. Unlocking removes only the caller's own held bytes inside the
// range (all of them, whatever ranges they were taken as), and closing a
// registration releases its locks. TPhysicalFile also places each lock with
// the operating system so other processes see it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace cairn {

enum TSeekOrigin : int { kSeekStart = 0, kSeekCurrent = 1, kSeekEnd = 2 };

class TAbstractFile {
 public:
  explicit TAbstractFile(std::string file_name);
  virtual ~TAbstractFile();
  TAbstractFile(const TAbstractFile&) = delete;
  TAbstractFile& operator=(const TAbstractFile&) = delete;

  virtual bool in_memory() const = 0;
  const std::string& file_name() const { return file_name_; }
  bool exclusive() const { return exclusive_; }
  bool temporary() const { return temporary_; }
  // Opened for reading only (the attribute, or a refused read-write open).
  bool read_only() const { return read_only_; }
  // The file carries no write permission at all.
  bool read_only_attribute() const { return read_only_attribute_; }
  int open_count() const { return int(registrations_.size()); }
  bool is_open() const { return !registrations_.empty(); }

  // Index of registration `id`, or -1.
  int FindRegistration(int id) const;

  // Size of the file in bytes, or a negative code.
  virtual int64_t Size() = 0;
  // Creates (or truncates) and opens the file exclusively; returns the new
  // registration id or a negative code.
  virtual int Create(bool temporary) = 0;
  // Opens the file (first registration) or adds a registration to an open
  // one; returns the new registration id or a negative code.
  virtual int Open(bool temporary, bool exclusive) = 0;
  // Drops registration `id` and its locks; the last one closes the file.
  virtual void Close(int id) = 0;
  // Renames or deletes the file; only valid while no registration exists.
  virtual int Rename(const std::string& new_name) = 0;
  virtual int Delete() = 0;
  // Transfers at the registration's position and moves it. Read returns the
  // count read (short at the end of the file). Write returns the count written;
  // a length of 0 truncates the file at the position.
  virtual int64_t Read(int id, void* buffer, int64_t length) = 0;
  virtual int64_t Write(int id, const void* buffer, int64_t length) = 0;
  // Asks the operating system to write its buffers to disk.
  virtual int Flush() = 0;
  // Asks it to start writing them without waiting, a hint with no failure:
  // a Flush that follows waits for less.
  virtual void StartFlush() {}
  // Moves the registration's position; returns it or a negative code.
  int64_t Seek(int id, TSeekOrigin origin, int64_t offset);
  // Places or removes a lock; false when refused or nothing was held.
  virtual bool LockRange(int id, uint64_t offset, uint64_t length);
  virtual bool UnlockRange(int id, uint64_t offset, uint64_t length);

  std::recursive_mutex& mutex() { return mutex_; }

 protected:
  struct TRegistration {
    int id;
    int64_t position;
  };
  struct THeldRange {
    uint64_t start;
    uint64_t end;  // one past the last byte
    int owner;     // registration id
  };

  // Adds a registration and returns its id.
  int AddRegistration();
  // Removes registration `id` and releases its locks; true when it existed.
  bool RemoveRegistration(int id);
  TRegistration* Registration(int id);

  // Operating-system side of a lock; memory files have none.
  virtual bool PlaceLock(uint64_t offset, uint64_t length) { return true; }
  virtual void RemoveLock(uint64_t offset, uint64_t length) {}

  void set_file_name(std::string name) { file_name_ = std::move(name); }

  std::recursive_mutex mutex_;
  std::string file_name_;
  bool exclusive_ = false;
  bool temporary_ = false;
  bool read_only_ = false;
  bool read_only_attribute_ = false;
  std::vector<TRegistration> registrations_;
  std::vector<THeldRange> held_;
  int last_id_ = 0;
};

}  // namespace cairn
