#include "storage/files/file_faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace cairn {
namespace {

namespace fs = std::filesystem;

std::string Normal(const std::string& path) {
  fs::path p = fs::path(path).lexically_normal();
  if (!p.has_filename()) p = p.parent_path();
  return p.string();
}

std::vector<uint8_t> ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteWhole(const fs::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

TFileFaults& TFileFaults::Instance() {
  static TFileFaults instance;
  return instance;
}

void TFileFaults::Reset() {
  std::lock_guard guard(mutex_);
  armed_ = false;
  scope_.clear();
  calls_ = 0;
  fail_at_ = 0;
  exit_at_ = 0;
  size_limit_ = 0;
  recording_ = false;
  names_.clear();
  power_off_at_calls_ = false;
}

void TFileFaults::set_scope(std::string prefix) {
  std::lock_guard guard(mutex_);
  scope_ = std::move(prefix);
  armed_ = true;
}

void TFileFaults::FailWriteCall(int64_t n) {
  std::lock_guard guard(mutex_);
  fail_at_ = n > 0 ? calls_ + n : 0;
  armed_ = true;
}

void TFileFaults::ExitAtWriteCall(int64_t n) {
  std::lock_guard guard(mutex_);
  exit_at_ = n > 0 ? calls_ + n : 0;
  armed_ = true;
}

void TFileFaults::set_size_limit(uint64_t bytes) {
  std::lock_guard guard(mutex_);
  size_limit_ = bytes;
  armed_ = true;
}

int64_t TFileFaults::write_calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

TFileFaults::TScope::TScope(std::string prefix) {
  Instance().Reset();
  Instance().set_scope(std::move(prefix));
}

TFileFaults::TScope::~TScope() { Instance().Reset(); }

bool TFileFaults::InScope(const std::string& file) const {
  return file.compare(0, scope_.size(), scope_) == 0;
}

bool TFileFaults::CountCall() {
  ++calls_;
  if (exit_at_ != 0 && calls_ == exit_at_) std::_Exit(kExitCode);
  if (power_off_at_calls_) {
    PowerOffLocked(power_off_prefix_ + std::to_string(calls_), power_off_mode_,
                   power_off_seed_ + uint32_t(calls_));
  }
  return fail_at_ != 0 && calls_ == fail_at_;
}

int64_t TFileFaults::BeforeWrite(const std::string& file, uint64_t offset, int64_t length,
                                 uint64_t size, bool& fail) {
  fail = false;
  std::lock_guard guard(mutex_);
  if (!armed_ || !InScope(file)) return length;
  if (CountCall()) {
    fail = true;
    return 0;
  }
  if (size_limit_ == 0) return length;
  uint64_t end = offset + uint64_t(std::max<int64_t>(length, 0));
  if (end <= size_limit_ || end <= size) return length;
  fail = true;
  return offset >= size_limit_ ? 0 : int64_t(size_limit_ - offset);
}

bool TFileFaults::BeforeFlush(const std::string& file) {
  std::lock_guard guard(mutex_);
  if (!armed_ || !InScope(file)) return false;
  return CountCall();
}


void TFileFaults::RecordForPowerLoss() {
  std::lock_guard guard(mutex_);
  names_.clear();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Normal(scope_), ec)) {
    if (!entry.is_regular_file()) continue;
    auto inode = std::make_shared<TInode>();
    inode->durable = ReadWhole(entry.path());
    names_[Normal(entry.path().string())] = TName{inode, inode};
  }
  armed_ = true;
  recording_ = true;
}

bool TFileFaults::Recorded(const std::string& file) const {
  return recording_.load(std::memory_order_relaxed) && InScope(file);
}

TFileFaults::TName& TFileFaults::NameOf(const std::string& file) {
  TName& name = names_[Normal(file)];
  // A file that appeared unseen (no creation reported) starts empty.
  if (!name.current && !name.durable) name.current = std::make_shared<TInode>();
  return name;
}

void TFileFaults::Wrote(const std::string& file, uint64_t offset, const void* bytes,
                        int64_t length) {
  std::lock_guard guard(mutex_);
  if (!Recorded(file)) return;
  TName& name = NameOf(file);
  if (!name.current) return;
  const auto* in = static_cast<const uint8_t*>(bytes);
  name.current->pending.push_back(
      TWrite{offset, std::vector<uint8_t>(in, in + std::max<int64_t>(length, 0)), length == 0});
}

void TFileFaults::Flushed(const std::string& file) {
  std::lock_guard guard(mutex_);
  if (!Recorded(file)) return;
  TName& name = NameOf(file);
  if (!name.current) return;
  TInode& inode = *name.current;
  for (const TWrite& write : inode.pending) {
    if (write.cut) {
      inode.durable.resize(size_t(write.offset));
      continue;
    }
    const size_t end = size_t(write.offset) + write.bytes.size();
    if (inode.durable.size() < end) inode.durable.resize(end);
    std::memcpy(inode.durable.data() + write.offset, write.bytes.data(), write.bytes.size());
  }
  inode.pending.clear();
}

void TFileFaults::Created(const std::string& file) {
  std::lock_guard guard(mutex_);
  if (!Recorded(file)) return;
  TName& name = names_[Normal(file)];
  if (name.current) {
    name.current->pending.push_back(TWrite{0, {}, true});
  } else {
    name.current = std::make_shared<TInode>();
  }
}

void TFileFaults::Removed(const std::string& file) {
  std::lock_guard guard(mutex_);
  if (!Recorded(file)) return;
  names_[Normal(file)].current.reset();
}

void TFileFaults::Renamed(const std::string& from, const std::string& to) {
  std::lock_guard guard(mutex_);
  if (!Recorded(from) || !Recorded(to)) return;
  TName& source = names_[Normal(from)];
  names_[Normal(to)].current = source.current;
  source.current.reset();
}

void TFileFaults::FolderFlushed(const std::string& folder) {
  std::lock_guard guard(mutex_);
  if (!recording_) return;
  const std::string normal = Normal(folder);
  for (auto& [file, name] : names_) {
    if (fs::path(file).parent_path() == normal) name.durable = name.current;
  }
}

void TFileFaults::PowerOff(const std::string& out, TPowerLoss mode, uint32_t seed) {
  std::lock_guard guard(mutex_);
  PowerOffLocked(out, mode, seed);
}

void TFileFaults::PowerOffAtWriteCalls(std::string out_prefix, TPowerLoss mode, uint32_t seed) {
  std::lock_guard guard(mutex_);
  power_off_at_calls_ = true;
  power_off_prefix_ = std::move(out_prefix);
  power_off_mode_ = mode;
  power_off_seed_ = seed;
  armed_ = true;
}

void TFileFaults::StopPowerOffs() {
  std::lock_guard guard(mutex_);
  power_off_at_calls_ = false;
}

void TFileFaults::PowerOffLocked(const std::string& out, TPowerLoss mode, uint32_t seed) {
  std::mt19937 random(seed);
  const bool some = mode == TPowerLoss::kKeepSome;
  std::error_code ec;
  fs::create_directories(out, ec);
  for (const auto& [file, name] : names_) {
    const fs::path target = fs::path(out) / fs::path(file).filename();
    const std::shared_ptr<TInode>& inode =
        name.durable == name.current || !some || random() % 2 == 0 ? name.durable : name.current;
    if (!inode) {
      fs::remove(target, ec);
      continue;
    }
    std::vector<uint8_t> image = inode->durable;
    for (const TWrite& write : inode->pending) {
      if (!some || random() % 2 == 0) continue;
      if (write.cut) {
        image.resize(size_t(write.offset));
        continue;
      }
      size_t length = write.bytes.size();
      // Torn: only the first sectors reached the disk.
      if (length > 512 && random() % 4 == 0) length = 512 * (random() % (length / 512));
      const size_t end = size_t(write.offset) + length;
      if (image.size() < end) image.resize(end);
      std::memcpy(image.data() + write.offset, write.bytes.data(), length);
    }
    WriteWhole(target, image);
  }
}

}  // namespace cairn
