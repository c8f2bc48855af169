// Verifies a whole index file: the descriptors (they were validated on
// open), and for every index in use its tree: page kinds per level, entry
// counts and body sizes, key order within and across pages, separators equal
// to their child's first key, subtree counts, sibling links on every level;
// then every free-page list: in range, acyclic, empty pages only and apart
// from all trees; and the active record count against the record-status
// index. Never loops: every page is visited at most once. Reports faults as
// text; the file itself is not changed.
#pragma once

#include <string>
#include <vector>

#include "storage/access/index_file.h"

namespace cairn {

struct TIndexCheckResult {
  std::vector<std::string> faults;
  uint64_t pages_visited = 0;
  bool ok() const { return faults.empty(); }
};

TIndexCheckResult CheckIndexFile(TIndexFile& file);

}  // namespace cairn
