// TFileFaults: the one point every change to a table file passes through
// (TFileHandler::Write, which also truncates and extends, and
// TFileHandler::Flush), so that tests can make the file layer fail the way a
// disk does. Process-wide; inactive (and nearly free) until a test arms it.
//
//   auto& faults = TFileFaults::Instance();
//   faults.set_scope(folder);      // only files whose name starts so
//   faults.FailWriteCall(3);       // the 3rd write call from now fails
//   faults.set_size_limit(65536);  // no file may grow past 64 KiB (disk full)
//   ... faults.write_calls() counts the write calls seen since Reset() ...
//   faults.Reset();                // or let a TFileFaults::TScope do it
//
// A write call is a write, a truncation or a flush. The failing call changes
// nothing and raises CAIRN_WRITEERR. A write that would grow a file past the
// size limit writes the bytes that fit, then raises CAIRN_WRITEERR, as a full
// disk does.
//
// Power loss: RecordForPowerLoss() takes the scope (a folder) as it is now as
// what the disk holds. From then on the file layer reports every write, cut,
// file creation and removal, and every flush of a file or of the folder.
// PowerOff(out) writes into the folder `out` the files as the disk would hold
// them had the power gone at that moment: each file as of its last flush,
// and a name created or removed since the folder's last flush as before.
// With kKeepSome each unflushed write survives or not at random (in order,
// the last one kept possibly torn at a 512-byte boundary) and each unflushed
// creation or removal too.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cairn {

class TFileFaults {
 public:
  static TFileFaults& Instance();

  // Disarms everything and zeroes the counter.
  void Reset();
  // Only files whose name starts with `prefix` are counted and failed
  // (empty: every file).
  void set_scope(std::string prefix);
  // The `n`th write call from now fails (n >= 1); 0 disarms.
  void FailWriteCall(int64_t n);
  // The process ends (std::_Exit(kExitCode), no clean-up) at the `n`th
  // write call from now, before that call changes anything: a writer killed
  // at a chosen point. 0 disarms.
  static constexpr int kExitCode = 86;
  void ExitAtWriteCall(int64_t n);
  // Largest size any file in scope may reach; 0 lifts the limit.
  void set_size_limit(uint64_t bytes);

  enum class TPowerLoss { kLoseUnflushed, kKeepSome };
  // Starts recording for power loss (after set_scope with a folder).
  void RecordForPowerLoss();
  bool recording() const { return recording_.load(std::memory_order_relaxed); }
  // Writes the files the disk would hold now into `out` (an existing folder).
  void PowerOff(const std::string& out, TPowerLoss mode, uint32_t seed);
  // The same before every write call from now (until StopPowerOffs), into
  // `out_prefix` and the call's number; the process goes on.
  void PowerOffAtWriteCalls(std::string out_prefix, TPowerLoss mode, uint32_t seed);
  void StopPowerOffs();
  // Write calls in scope since Reset().
  int64_t write_calls() const;

  // Resets on construction and destruction, for tests.
  class TScope {
   public:
    explicit TScope(std::string prefix = {});
    ~TScope();
    TScope(const TScope&) = delete;
    TScope& operator=(const TScope&) = delete;
  };

  // True once a test armed anything; the handler skips the calls below
  // otherwise.
  bool active() const { return armed_.load(std::memory_order_relaxed); }

  // Called by the file handler before a write of `length` bytes (0 =
  // truncation) at `offset` of a file now `size` bytes long. Returns how many
  // bytes may be written, and sets `fail` when the call must then fail.
  int64_t BeforeWrite(const std::string& file, uint64_t offset, int64_t length, uint64_t size,
                      bool& fail);
  // Called before a flush; true when it must fail.
  bool BeforeFlush(const std::string& file);

  // Reports of the file layer while recording (`length` 0: cut there).
  void Wrote(const std::string& file, uint64_t offset, const void* bytes, int64_t length);
  void Flushed(const std::string& file);
  // Opened with creation and truncation.
  void Created(const std::string& file);
  void Removed(const std::string& file);
  void Renamed(const std::string& from, const std::string& to);
  void FolderFlushed(const std::string& folder);

 private:
  TFileFaults() = default;
  bool InScope(const std::string& file) const;
  // Counts one call; true when it is the one armed to fail.
  bool CountCall();

  // One file's bytes: as on disk, and the writes since its last flush.
  struct TWrite {
    uint64_t offset;
    std::vector<uint8_t> bytes;
    bool cut;
  };
  struct TInode {
    std::vector<uint8_t> durable;
    std::vector<TWrite> pending;
  };
  // A name: the file it names on disk and the one it names now (either may
  // be none).
  struct TName {
    std::shared_ptr<TInode> durable;
    std::shared_ptr<TInode> current;
  };
  bool Recorded(const std::string& file) const;
  TName& NameOf(const std::string& file);
  void PowerOffLocked(const std::string& out, TPowerLoss mode, uint32_t seed);

  mutable std::mutex mutex_;
  std::atomic<bool> armed_ = false;
  std::string scope_;
  int64_t calls_ = 0;
  int64_t fail_at_ = 0;  // absolute call number, 0 = none
  int64_t exit_at_ = 0;  // absolute call number, 0 = none
  uint64_t size_limit_ = 0;

  std::atomic<bool> recording_ = false;
  std::map<std::string, TName> names_;
  bool power_off_at_calls_ = false;
  std::string power_off_prefix_;
  TPowerLoss power_off_mode_ = TPowerLoss::kLoseUnflushed;
  uint32_t power_off_seed_ = 0;
};

}  // namespace cairn
