// `cairn check DIR/TABLE`: verifies the index file (every tree, free list and
// the active record count); prints each fault and exits 1 when there is any.
#include <iostream>

#include "storage/base/engine_error.h"
#include "storage/access/index_check.h"
#include "storage/access/index_table_info.h"
#include "storage/files/data_file.h"
#include "tools/cairn/command.h"

namespace cairn::tool {

// Runs the index checks of one table; appends faults to `faults`. Returns
// false when the files could not be opened at all (the reason in `faults`).
bool CheckTableIndexes(const TTablePath& table, std::vector<std::string>& faults,
                       uint64_t* pages_visited) {
  try {
    TDataFile data(table.name);
    data.set_file_name(table.DataFile());
    data.Open();
    TIndexFile file(IndexTableInfoOf(data));
    data.Close();
    file.set_file_name(table.IndexFile());
    file.OpenIndexFile();
    const TIndexCheckResult r = CheckIndexFile(file);
    for (const std::string& f : r.faults) faults.push_back("index file: " + f);
    if (pages_visited) *pages_visited = r.pages_visited;
    file.CloseIndexFile();
    return true;
  } catch (const ECairnEngineError& e) {
    faults.push_back(e.what());
    return false;
  }
}

int RunCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1 || (!args[0].empty() && args[0][0] == '-')) {
    err << "usage: cairn check DIR/TABLE\n";
    return 2;
  }
  const TTablePath table = ParseTablePath(args[0]);
  std::vector<std::string> faults;
  uint64_t pages = 0;
  CheckTableIndexes(table, faults, &pages);
  for (const std::string& f : faults) out << table.name << ": " << f << '\n';
  if (!faults.empty()) {
    err << "cairn check: " << faults.size() << " fault(s) in table '" << table.name << "'\n";
    return 1;
  }
  out << table.name << ": ok (" << pages << " index pages checked)\n";
  return 0;
}

}  // namespace cairn::tool
