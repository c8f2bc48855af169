// Cross-checks between the files of one open table: every active record has
// exactly one entry with its rebuilt key in every index, every slot one
// record-status entry, the active record count matches, the deleted-record
// chain holds deleted slots only (and all of them when the table has a
// primary key) without cycles, every blob chain is intact (stamps, links,
// lengths) and no block belongs to two chains or to a chain and the free list,
// and every block is either in a chain or free. Reports faults as text;
// nothing is changed.
#pragma once

#include <string>
#include <vector>

#include "storage/access/data_table.h"

namespace cairn {

struct TTableCheckResult {
  std::vector<std::string> faults;
  uint32_t records = 0;  // active records seen
  uint32_t slots = 0;
  uint32_t blob_blocks = 0;
  bool ok() const { return faults.empty(); }
};

// Runs under the table's write lock so that no other process changes the
// files meanwhile.
TTableCheckResult CheckTableFiles(TDataTable& table);

}  // namespace cairn
