#include "storage/files/file_list.h"

#include <algorithm>
#include <cctype>

#include "storage/base/engine_error.h"
#include "storage/files/memory_file.h"
#include "storage/files/physical_file.h"

namespace cairn {
namespace {

bool SameName(std::string_view a, std::string_view b, bool ignore_case) {
  if (a.size() != b.size()) return false;
  if (!ignore_case) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

TFileList& TFileList::Instance() {
  static TFileList list;
  return list;
}

std::string TFileList::Trim(std::string_view name) {
  size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  size_t last = name.find_last_not_of(' ');
  return std::string(name.substr(first, last - first + 1));
}

std::shared_ptr<TAbstractFile> TFileList::Find(std::string_view trimmed, bool in_memory) {
  for (const auto& f : files_) {
    if (f->in_memory() == in_memory && SameName(f->file_name(), trimmed, in_memory)) return f;
  }
  return nullptr;
}

TFileList::TOpenResult TFileList::Open(std::string_view name, bool in_memory, bool temporary,
                                       bool exclusive) {
  std::string trimmed = Trim(name);
  std::lock_guard guard(mutex_);
  if (auto file = Find(trimmed, in_memory)) {
    std::lock_guard file_guard(file->mutex());
    if (file->is_open() && (file->exclusive() || exclusive)) return {nullptr, -int(CAIRN_OSEACCES)};
    int id = file->Open(temporary, exclusive);
    if (id < 0) return {nullptr, id};
    return {file, id};
  }
  if (in_memory) return {nullptr, -int(CAIRN_OSENOENT)};
  auto file = std::make_shared<TPhysicalFile>(trimmed);
  int id = file->Open(temporary, exclusive);
  if (id < 0) return {nullptr, id};
  files_.push_back(file);
  return {file, id};
}

TFileList::TOpenResult TFileList::Create(std::string_view name, bool in_memory, bool temporary) {
  std::string trimmed = Trim(name);
  std::lock_guard guard(mutex_);
  std::shared_ptr<TAbstractFile> file = Find(trimmed, in_memory);
  bool fresh = file == nullptr;
  if (fresh) {
    if (in_memory) {
      file = std::make_shared<TMemoryFile>(trimmed);
    } else {
      file = std::make_shared<TPhysicalFile>(trimmed);
    }
  }
  std::lock_guard file_guard(file->mutex());
  if (file->is_open()) return {nullptr, -int(CAIRN_OSEACCES)};
  int id = file->Create(temporary);
  if (id < 0) return {nullptr, id};
  if (fresh) files_.push_back(file);
  return {file, id};
}

void TFileList::Close(const std::shared_ptr<TAbstractFile>& file, int id) {
  if (!file) return;
  std::lock_guard guard(mutex_);
  std::lock_guard file_guard(file->mutex());
  file->Close(id);
  if (!file->in_memory() && !file->is_open()) {
    std::erase(files_, file);
  }
}

int TFileList::Delete(std::string_view name, bool in_memory) {
  std::string trimmed = Trim(name);
  std::lock_guard guard(mutex_);
  if (auto file = Find(trimmed, in_memory)) {
    std::lock_guard file_guard(file->mutex());
    int rc = file->Delete();
    if (rc == 0) std::erase(files_, file);
    return rc;
  }
  if (in_memory) return -int(CAIRN_OSENOENT);
  return TPhysicalFile::DeleteFile(trimmed);
}

int TFileList::Rename(std::string_view name, std::string_view new_name, bool in_memory) {
  std::string trimmed = Trim(name);
  std::string trimmed_new = Trim(new_name);
  std::lock_guard guard(mutex_);
  if (auto file = Find(trimmed, in_memory)) {
    std::lock_guard file_guard(file->mutex());
    if (file->is_open()) return -int(CAIRN_OSEACCES);
    if (in_memory && Find(trimmed_new, true) != nullptr) return -int(CAIRN_TABLEEXISTS);
    return file->Rename(trimmed_new);
  }
  if (in_memory) return -int(CAIRN_OSENOENT);
  // Renaming onto a file another handler has open would pull it away from it.
  if (Find(trimmed_new, false) != nullptr) return -int(CAIRN_OSEACCES);
  return TPhysicalFile::RenameFile(trimmed, trimmed_new);
}

bool TFileList::Contains(std::string_view name, bool in_memory) {
  std::string trimmed = Trim(name);
  std::lock_guard guard(mutex_);
  return Find(trimmed, in_memory) != nullptr;
}

size_t TFileList::Count() {
  std::lock_guard guard(mutex_);
  return files_.size();
}

}  // namespace cairn
