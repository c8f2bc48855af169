#include "storage/access/data_directory.h"

#include <filesystem>

#include "storage/access/data_session.h"
#include "storage/access/data_table.h"
#include "storage/base/engine_error.h"

namespace cairn {

TDataDirectory::TDataDirectory(TDataSession& session, std::string path)
    : session_(session), path_(std::move(path)) {}

TDataDirectory::~TDataDirectory() {
  for (auto& [key, table] : tables_) {
    try {
      table->Close();
    } catch (...) {
      // The files are closed whatever the flush said; nothing can be reported here.
    }
  }
}

// File names are case-sensitive here, so table names are too.
std::string TDataDirectory::Key(std::string_view name) { return std::string(name); }

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
  std::error_code ec;
  return std::filesystem::is_regular_file(FileName(name, ".DAT"), ec);
}

void TDataDirectory::CreateTable(std::string_view name, const TTableDefinition& definition) {
  if (tables_.count(Key(name))) RaiseEngineError(CAIRN_TABLEOPEN, name);
  TDataTable::Create(*this, name, definition);
}

}  // namespace cairn
