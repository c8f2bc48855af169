// Repair of one table from its data file, which is taken as the truth:
// - the index file is built anew: every index definition that can still be
//   read from the old header (none when the file is missing or its
//   descriptors are unreadable; the table then has no primary key), the
//   record-status entry of every slot, every active record's key in every
//   index, and the active record count;
// - blob blocks that no active record's chain reaches and that are not on
//   the free list are freed.
// The table must not be open anywhere (the data file is opened exclusively,
// else 11013). Everything is worked out and the new index file written
// under a scratch name before any file of the table changes; a table that
// cannot be read (damaged data file, damaged blob chain or free list, two
// records with one key in a unique index, wrong password) is left as it is
// and the result says why. Before anything changes, the old files are copied
// beside the table as NAME.before-repair[-N].DAT/.IDX/.BLB, an openable copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cairn {

class TDataDirectory;

struct TRepairResult {
  // Why nothing was changed; empty when the repair went ahead (or, for a
  // dry run, would go ahead).
  std::string refused;
  // What was (or would be) changed, one line each.
  std::vector<std::string> changes;
  // The copies of the old files.
  std::vector<std::string> kept;
  uint32_t records = 0;  // active records indexed
  uint32_t slots = 0;
  uint32_t freed_blocks = 0;
  bool ok() const { return refused.empty(); }
};

// With `dry_run`, works everything out and changes no file of the table
// (and asks no password). The session's passwords open an encrypted table. Never throws for a table
// it cannot repair; an operating-system failure while the files are being
// replaced raises ECairnEngineError (the copies are kept). A rollback journal
// left beside the table is played back first; one that cannot be played
// back is kept and the table left alone.
TRepairResult RepairTable(TDataDirectory& directory, std::string_view name, bool dry_run = false);

// Plays back the rollback journal a writer that is gone left beside the
// table, as opening the table would, with the files it finds opened
// exclusively. False when there is none, or when the table is open elsewhere
// (its journal is then that process's). Raises ECairnEngineError when the
// playback fails; the journal stays for the next try. `kept_whole`, if
// given, tells whether the change had reached the disk whole and was kept.
bool PlayBackLeftJournal(TDataDirectory& directory, std::string_view name,
                         bool* kept_whole = nullptr);

}  // namespace cairn
