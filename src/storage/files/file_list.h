// TFileList: the process-wide registry of shared file objects.
//
// Disk file names are compared after trimming blanks, exactly (the file
// system decides about letter case); in-memory names after trimming, without
// regard to ASCII case. A memory file and a disk file of one name are
// different entries. A disk file object lives from its first open or create
// until its last registration closes; a memory file stays until deleted.
// All results are the shared object plus the registration id, or a negative
// engine code. Lock order: the registry's mutex before any object's.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "storage/files/abstract_file.h"

namespace cairn {

class TFileList {
 public:
  struct TOpenResult {
    std::shared_ptr<TAbstractFile> file;
    int id = 0;  // > 0 on success, else the negated engine code
  };

  static TFileList& Instance();

  // An object already registered is opened again, unless it is open and it or
  // this request is exclusive (CAIRN_OSEACCES). An unregistered memory file
  // does not exist (CAIRN_OSENOENT).
  TOpenResult Open(std::string_view name, bool in_memory, bool temporary, bool exclusive);
  // Creates or truncates and opens exclusively; CAIRN_OSEACCES when open.
  TOpenResult Create(std::string_view name, bool in_memory, bool temporary);
  // Drops a registration; a disk file leaves the registry with its last one.
  void Close(const std::shared_ptr<TAbstractFile>& file, int id);
  // 0 or a negative code; CAIRN_OSEACCES while any handler has the file open.
  int Delete(std::string_view name, bool in_memory);
  int Rename(std::string_view name, std::string_view new_name, bool in_memory);
  bool Contains(std::string_view name, bool in_memory);
  size_t Count();

  // Blank-trimmed name used for both the key and the file itself.
  static std::string Trim(std::string_view name);

 private:
  TFileList() = default;
  std::shared_ptr<TAbstractFile> Find(std::string_view trimmed, bool in_memory);

  std::mutex mutex_;
  std::vector<std::shared_ptr<TAbstractFile>> files_;
};

}  // namespace cairn
