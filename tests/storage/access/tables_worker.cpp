// The other process of the table-sharing tests.
//
//   tables_worker workload DIR ID COUNT
//     Inserts, updates and deletes records of its own ("w<ID>-<n>") in table
//     Pal, printing one line per operation once it is done:
//     "I item pw details", "U item pw", "D item".
//   tables_worker append DIR ITEM
//     Appends one record ITEM and exits.
//   tables_worker lock DIR read|write|blob-read
//     Takes the table's read lock, its write lock, or only the blob file's
//     read lock, prints "locked", waits for end of input and exits.
//   tables_worker hold DIR ITEM
//     Locks the record ITEM, prints "locked", waits for a line on standard
//     input, unlocks, prints "released" and waits for end of input.
//   tables_worker lock-slot DIR SLOT
//     Locks the record byte of SLOT (whatever the slot holds), prints
//     "locked", unlocks at the first line of input, prints "released" and
//     waits for end of input.
//   tables_worker session DIR [strict] [optimistic] [retries=N] [table-attempts=N]
//                         [stepped]
//     One long-lived session answering a line per command (see RunCommand).
//     stepped: each wait before a record-lock retry prints "waiting N" and
//     reads a line instead of sleeping, so the test decides when it retries.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace {

using namespace cairn;
using cairn::testing::PalRecord;

int Workload(const std::string& dir, int id, int count) {
  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir), "Pal");
  const uint16_t details = cairn::testing::FieldNumber(cursor, "Details");
  std::mt19937 random(static_cast<unsigned>(id) * 7919u + 1);
  std::vector<std::string> live;
  for (int n = 0; n < count; ++n) {
    const int choice = int(random() % 6);
    if (live.empty() || choice < 3) {
      const std::string item = "w" + std::to_string(id) + "-" + std::to_string(n);
      const std::string text = "details of " + item;
      cursor.Append(
          PalRecord(cursor, item, "user" + std::to_string(id), 730120, "p" + std::to_string(n)),
          {{details, std::vector<uint8_t>(text.begin(), text.end())}});
      live.push_back(item);
      std::cout << "I " << item << " p" << n << "\n" << std::flush;
      continue;
    }
    const size_t pick = random() % live.size();
    const std::string item = live[pick];
    const std::vector<uint8_t> key = cursor.BuildKey(PalRecord(cursor, item, "", 730120));
    if (cursor.FindKey(key, false) != CAIRN_NONE) {
      std::cerr << "worker " << id << ": lost " << item << "\n";
      return 3;
    }
    std::vector<uint8_t> record;
    cursor.GetCurrent(record);
    cursor.GetCurrent(record, true);
    if (choice < 5) {
      const std::string pw = "u" + std::to_string(n);
      cursor.Modify(PalRecord(cursor, item, "user" + std::to_string(id), 730120, pw));
      std::cout << "U " << item << " " << pw << "\n" << std::flush;
    } else {
      cursor.Delete(record);
      live.erase(live.begin() + long(pick));
      std::cout << "D " << item << "\n" << std::flush;
    }
  }
  return 0;
}

int Hold(const std::string& dir, const std::string& item) {
  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir), "Pal");
  if (cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false) != CAIRN_NONE)
    return 3;
  std::vector<uint8_t> record;
  cursor.GetCurrent(record);
  cursor.GetCurrent(record, true);
  std::cout << "locked\n" << std::flush;
  std::string line;
  std::getline(std::cin, line);
  cursor.Unlock();
  std::cout << "released\n" << std::flush;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

// Shows ITEM as it is now and locks it for an edit; false when it is not there.
bool FindAndLock(TDataCursor& cursor, const std::string& item, std::vector<uint8_t>& record) {
  cursor.Refresh();
  if (cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false) != CAIRN_NONE)
    return false;
  cursor.GetCurrent(record);
  cursor.GetCurrent(record, true);
  return true;
}

// items | append ITEM | locks | release | post ITEM PW (the held record) |
// hold ITEM | rename ITEM NEW | pw ITEM PW | delete ITEM; the last four
// show ITEM afresh and lock it for the edit first. Answers "ok", "items ...",
// "locks ..." or "error CODE".
std::string RunCommand(TDataCursor& cursor, const std::string& line) {
  std::istringstream in(line);
  std::string command, item, value;
  in >> command >> item >> value;
  std::vector<uint8_t> record;
  if (command == "items") {
    std::string out = "items";
    for (const std::string& each : cairn::testing::Items(cursor)) out += " " + each;
    return out;
  }
  if (command == "append") {
    cursor.Append(PalRecord(cursor, item, "other", 730120));
    return "ok";
  }
  if (command == "locks") {
    TDataTable& table = cursor.Table();
    return "locks slot " + std::to_string(cursor.LockedSlot()) + " read " +
           std::to_string(table.ReadLockHeld()) + " write " + std::to_string(table.WriteLockHeld());
  }
  if (command == "release") {
    cursor.Unlock();
    return "ok";
  }
  if (command == "post") {  // the record held since "hold" gets PW and is let go
    cursor.GetCurrent(record);
    cursor.Modify(PalRecord(cursor, item, cairn::testing::FieldText(cursor, record, "User"),
                            730120, value));
    return "ok";
  }
  if (!FindAndLock(cursor, item, record)) return "error " + std::to_string(CAIRN_RECNOTFOUND);
  const std::string user = cairn::testing::FieldText(cursor, record, "User");
  const std::string pw = cairn::testing::FieldText(cursor, record, "PW");
  if (command == "rename") {
    cursor.Modify(PalRecord(cursor, value, user, 730120, pw));
  } else if (command == "pw") {
    cursor.Modify(PalRecord(cursor, item, user, 730120, value));
  } else if (command == "delete") {
    cursor.Delete(record);
  } else if (command != "hold") {
    return "error usage";
  }
  return "ok";
}

int Session(const std::string& dir, const std::vector<std::string>& options) {
  TDataSession session;
  for (const std::string& option : options) {
    if (option == "strict") {
      session.Settings().strict_change_detection = true;
    } else if (option == "optimistic") {
      session.Settings().lock_protocol = TLockProtocol::kOptimistic;
    } else if (option.starts_with("retries=")) {
      session.Settings().lock_retry_count = uint8_t(std::stoi(option.substr(8)));
    } else if (option.starts_with("table-attempts=")) {
      session.Settings().table_lock_attempts = uint32_t(std::stoul(option.substr(15)));
    } else if (option == "stepped") {
      session.SetRecordLockWait([](unsigned refusals) {
        std::cout << "waiting " << refusals << "\n" << std::flush;
        std::string go;
        std::getline(std::cin, go);
      });
    } else {
      return 2;
    }
  }
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir), "Pal");
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string answer;
    try {
      answer = RunCommand(cursor, line);
    } catch (const ECairnEngineError& error) {
      answer = "error " + std::to_string(error.code());
    }
    std::cout << answer << "\n" << std::flush;
  }
  return 0;
}

int HoldSlot(const std::string& dir, uint32_t slot) {
  TDataSession session;
  TDataTable& table = session.OpenDirectory(dir).OpenTable("Pal", false, false);
  table.LockRecord(slot);
  std::cout << "locked\n" << std::flush;
  std::string line;
  std::getline(std::cin, line);
  table.UnlockRecord(slot);
  std::cout << "released\n" << std::flush;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

int HoldTableLock(const std::string& dir, const std::string& kind) {
  TDataSession session;
  TDataTable& table = session.OpenDirectory(dir).OpenTable("Pal", false, false);
  uint16_t blob_byte = 0;
  if (kind == "read") {
    table.ReadLock();
  } else if (kind == "write") {
    table.WriteLock();
  } else if (kind != "blob-read" || !table.Blob()->LockRead(blob_byte)) {
    return 2;
  }
  std::cout << "locked\n" << std::flush;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "workload")
      return Workload(args[1], std::stoi(args[2]), std::stoi(args[3]));
    if (args.size() == 3 && args[0] == "hold") return Hold(args[1], args[2]);
    if (args.size() == 3 && args[0] == "lock") return HoldTableLock(args[1], args[2]);
    if (args.size() == 3 && args[0] == "lock-slot")
      return HoldSlot(args[1], uint32_t(std::stoul(args[2])));
    if (args.size() >= 2 && args[0] == "session")
      return Session(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    if (args.size() == 3 && args[0] == "append") {
      TDataSession session;
      TDataCursor cursor;
      cursor.Open(session.OpenDirectory(args[1]), "Pal");
      cursor.Append(PalRecord(cursor, args[2], "other", 730120));
      return 0;
    }
    std::cerr << "usage: tables_worker workload DIR ID COUNT | append DIR ITEM | hold DIR ITEM"
                 " | lock DIR KIND\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "tables_worker: " << error.what() << "\n";
    return 1;
  }
}
