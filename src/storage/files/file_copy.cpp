// Whole-file copies of a table file to and from another disk file, plain or
// compressed chunk by chunk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/chunk_codec.h"
#include "storage/files/file_handler.h"
#include "storage/files/file_list.h"
#include "storage/files/os_error.h"
#include "storage/files/physical_file.h"

namespace cairn {
namespace {

// Reports a percentage whenever it has grown by at least `step`.
class TProgress {
 public:
  TProgress(const TProgressCallback& callback, int step, int64_t total)
      : callback_(callback), step_(step < 1 ? 1 : step), total_(total) {}
  void Update(int64_t done) {
    if (!callback_ || total_ <= 0) return;
    int percent = int(done * 100 / total_);
    if (percent - reported_ >= step_) {
      reported_ = percent;
      callback_(percent);
    }
  }

 private:
  const TProgressCallback& callback_;
  int step_;
  int64_t total_;
  int reported_ = 0;
};

// A plain descriptor on the other file, closed on every path.
class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= size_t(n);
  }
  return true;
}

// Reads up to `length` bytes; returns the count (short only at the end) or -1.
ssize_t ReadUpTo(int fd, uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::read(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

[[noreturn]] void RaiseOs(int err, const std::string& name) {
  uint16_t code = MapOsError(err);
  if (code == CAIRN_OSUNKNOWN) RaiseEngineError(code, std::to_string(err), name);
  RaiseEngineError(code, name);
}

// Opens the handler for the duration of a copy when it was closed.
class TOpenForCopy {
 public:
  explicit TOpenForCopy(TFileHandler& handler) : handler_(handler), opened_(!handler.is_open()) {
    if (opened_) handler_.Open();
  }
  ~TOpenForCopy() {
    if (opened_) handler_.Close();
  }
  TOpenForCopy(const TOpenForCopy&) = delete;
  TOpenForCopy& operator=(const TOpenForCopy&) = delete;

 private:
  TFileHandler& handler_;
  bool opened_;
};

}  // namespace

void TFileHandler::CopyToFile(const std::string& other, const TProgressCallback& progress, int step,
                              bool compress) {
  // Replacing a file that handlers hold open would leave them on the old one.
  if (TFileList::Instance().Contains(other, false)) RaiseEngineError(CAIRN_OSEACCES, other);
  TOpenForCopy open_guard(*this);
  int64_t total = Size();
  // Work on a sibling so that a failed copy never leaves a half-written file
  // under the destination's name.
  std::string partial = other + ".~copy";
  TFd out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (out.get() < 0) RaiseOs(errno, other);
  try {
    TProgress report(progress, step, total);
    std::vector<uint8_t> chunk(kCopyChunkSize);
    std::vector<uint8_t> frame;
    int64_t done = 0;
    while (done < total) {
      int64_t length = std::min<int64_t>(kCopyChunkSize, total - done);
      ReadAt(uint64_t(done), chunk.data(), length);
      const uint8_t* data = chunk.data();
      size_t size = size_t(length);
      if (compress) {
        frame.clear();
        if (!EncodeChunk(std::span<const uint8_t>(chunk.data(), size), frame)) {
          RaiseEngineError(CAIRN_COMPRESS);
        }
        data = frame.data();
        size = frame.size();
      }
      if (!WriteAll(out.get(), data, size)) RaiseEngineError(CAIRN_WRITEERR, other);
      done += length;
      report.Update(done);
    }
    if (::fdatasync(out.get()) != 0) RaiseEngineError(CAIRN_WRITEERR, other);
    if (::close(out.release()) != 0) RaiseEngineError(CAIRN_WRITEERR, other);
    if (::rename(partial.c_str(), other.c_str()) != 0) RaiseOs(errno, other);
    TPhysicalFile::SyncFolderOf(other);
  } catch (...) {
    ::unlink(partial.c_str());
    throw;
  }
}

void TFileHandler::CopyFromFile(const std::string& other, const TProgressCallback& progress,
                                int step, bool compress) {
  TOpenForCopy open_guard(*this);
  if (read_only()) Raise(CAIRN_OSEACCES);
  TFd in(::open(other.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) RaiseOs(errno, other);
  off_t source_size = ::lseek(in.get(), 0, SEEK_END);
  if (source_size < 0 || ::lseek(in.get(), 0, SEEK_SET) != 0) RaiseOs(errno, other);

  std::vector<uint8_t> buffer(compress ? MaxFrameBody() : kCopyChunkSize);
  std::vector<uint8_t> chunk;
  uint8_t header[kFrameHeaderSize];

  // Reads the next frame into `chunk`; false at a clean end of input.
  auto next_frame = [&]() -> bool {
    ssize_t got = ReadUpTo(in.get(), header, kFrameHeaderSize);
    if (got < 0) RaiseEngineError(CAIRN_READERR, other);
    if (got == 0) return false;
    uint32_t packed = 0;
    uint32_t original = 0;
    if (got != ssize_t(kFrameHeaderSize) || !DecodeFrameHeader(header, packed, original)) {
      RaiseEngineError(CAIRN_UNCOMPRESS);
    }
    got = ReadUpTo(in.get(), buffer.data(), packed);
    if (got < 0) RaiseEngineError(CAIRN_READERR, other);
    if (got != ssize_t(packed) ||
        !DecodeChunk(std::span<const uint8_t>(buffer.data(), packed), original, chunk)) {
      RaiseEngineError(CAIRN_UNCOMPRESS);
    }
    return true;
  };

  if (compress) {
    // Check every frame before the table file is touched: corrupt input must
    // not destroy what the file holds now.
    while (next_frame()) {
    }
    if (::lseek(in.get(), 0, SEEK_SET) != 0) RaiseOs(errno, other);
  }

  TProgress report(progress, step, int64_t(source_size));
  uint64_t written = 0;
  for (;;) {
    if (compress) {
      if (!next_frame()) break;
    } else {
      ssize_t got = ReadUpTo(in.get(), buffer.data(), kCopyChunkSize);
      if (got < 0) RaiseEngineError(CAIRN_READERR, other);
      if (got == 0) break;
      chunk.assign(buffer.begin(), buffer.begin() + got);
    }
    if (!chunk.empty()) WriteAt(written, chunk.data(), int64_t(chunk.size()));
    written += chunk.size();
    off_t consumed = ::lseek(in.get(), 0, SEEK_CUR);
    report.Update(consumed < 0 ? 0 : int64_t(consumed));
  }
  Truncate(written);
}

}  // namespace cairn
