#include "storage/access/data_directory.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <optional>

#include "storage/access/data_session.h"
#include "storage/access/data_table.h"
#include "storage/base/ascii_text.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_list.h"

namespace cairn {

TDataDirectory::TDataDirectory(TDataSession& session, std::string path)
    : session_(session), path_(std::move(path)), in_memory_(IsMemoryFolder(path_)) {}

bool TDataDirectory::IsMemoryFolder(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return SameAsciiText(path, "Memory");
}

TDataDirectory::~TDataDirectory() {
  try {
    Rollback();
  } catch (...) {
    // The tables release their locks whatever the rollback said.
  }
  for (auto& [key, table] : tables_) {
    try {
      table->Close();
    } catch (...) {
      // The files are closed whatever the flush said; nothing can be reported here.
    }
  }
}

// Disk file names are case-sensitive, so table names are too; memory file
// names are not.
std::string TDataDirectory::Key(std::string_view name) const {
  std::string key(name);
  if (in_memory_) {
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
  }
  return key;
}

std::string TDataDirectory::FileName(std::string_view table, std::string_view extension) const {
  std::string name = path_;
  if (!name.empty() && name.back() != '/') name.push_back('/');
  name += table;
  name += extension;
  return name;
}

TDataTable& TDataDirectory::OpenTable(std::string_view name, bool exclusive, bool read_only) {
  auto& slot = tables_[Key(name)];
  if (!slot) {
    auto table = std::make_unique<TDataTable>(*this, std::string(name));
    try {
      table->Open(exclusive, read_only);
    } catch (...) {
      tables_.erase(Key(name));
      throw;
    }
    slot = std::move(table);
    slot->SetExclusiveUser(exclusive);
  } else if (exclusive || slot->ExclusiveUser()) {
    RaiseEngineError(CAIRN_TABLEOPEN, name);
  }
  slot->AddUser();
  return *slot;
}

void TDataDirectory::CloseTable(TDataTable& table) {
  auto it = tables_.find(Key(table.Name()));
  if (it == tables_.end() || it->second.get() != &table) return;
  table.RemoveUser();
  if (table.UserCount() > 0) return;
  std::unique_ptr<TDataTable> owned = std::move(it->second);
  tables_.erase(it);
  owned->Close();
}

bool TDataDirectory::TableExists(std::string_view name) const {
  if (in_memory_) return TFileList::Instance().Contains(FileName(name, ".DAT"), true);
  std::error_code ec;
  return std::filesystem::is_regular_file(FileName(name, ".DAT"), ec);
}

void TDataDirectory::CreateTable(std::string_view name, const TTableDefinition& definition) {
  if (tables_.count(Key(name))) RaiseEngineError(CAIRN_TABLEOPEN, name);
  TDataTable::Create(*this, name, definition);
}

void TDataDirectory::DeleteTable(std::string_view name) {
  if (tables_.count(Key(name))) RaiseEngineError(CAIRN_TABLEOPEN, name);
  // One file that cannot go does not keep the others.
  std::exception_ptr failure;
  for (std::string_view ext : {".DAT", ".IDX", ".BLB", ".JNL"}) {
    try {
      RemoveTableFile(name, ext);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::RemoveTableFile(std::string_view name, std::string_view extension) {
  const std::string file = FileName(name, extension);
  const int rc = TFileList::Instance().Delete(file, in_memory_);
  if (rc < 0 && rc != -int(CAIRN_OSENOENT)) RaiseEngineError(uint16_t(-rc), file);
}

void TDataDirectory::StartTransaction() {
  if (in_transaction_) RaiseEngineError(CAIRN_ACTIVETRANSACTION, path_);
  in_transaction_ = true;
  changed_.clear();
}

void TDataDirectory::Enlist(TDataTable& table) {
  if (std::find(changed_.begin(), changed_.end(), &table) == changed_.end())
    changed_.push_back(&table);
}

void TDataDirectory::Commit() {
  if (!in_transaction_) RaiseEngineError(CAIRN_NOACTIVETRANSACTION, path_);
  in_transaction_ = false;
  const std::vector<TDataTable*> tables = std::move(changed_);
  changed_.clear();
  if (tables.size() > 1) {
    CommitTogether(tables);
    return;
  }
  size_t done = 0;
  try {
    for (; done < tables.size(); ++done) tables[done]->EndTransaction(true);
  } catch (...) {
    for (size_t i = done + 1; i < tables.size(); ++i) {
      try {
        tables[i]->EndTransaction(false);
      } catch (...) {
        // The first failure is the one reported.
      }
    }
    throw;
  }
}

// Several tables commit as one: each is written under its journal, which
// names a super-journal; deleting the super-journal is the commit point
// (the protocol is at TJournal). Memory tables, which a crash takes with the
// process, need none: a failure still undoes every table.
void TDataDirectory::CommitTogether(const std::vector<TDataTable*>& tables) {
  std::optional<TSuperJournal> super;
  if (!in_memory_) super.emplace(path_, session_.Settings().force_buffer_flush);
  try {
    for (TDataTable* table : tables) table->PrepareCommit(super ? super->path() : std::string());
    if (super) super->Remove();
  } catch (...) {
    bool restored = true;
    for (TDataTable* table : tables) {
      try {
        table->EndTransaction(false);
      } catch (...) {
        restored = false;
      }
    }
    // A table that could not be restored keeps its journal, which must find
    // its super-journal to be played back.
    if (restored && super) super->Discard();
    throw;
  }
  std::exception_ptr failure;
  for (TDataTable* table : tables) {
    try {
      table->FinishCommit();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TDataDirectory::Rollback() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  const std::vector<TDataTable*> tables = std::move(changed_);
  changed_.clear();
  std::exception_ptr failure;
  for (TDataTable* table : tables) {
    try {
      table->EndTransaction(false);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace cairn
