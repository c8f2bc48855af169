// A writer that dies at a chosen write: the other side of the journal tests.
//
//   crash_writer DIR N SEED OPS
//     Opens table Pal with forced flushes and makes the process end at the
//     Nth write call to the table's files (0: never), then posts OPS
//     inserts, updates and deletes with memos, chosen by SEED. Each post is
//     announced before it starts and confirmed when it returned:
//       "begin I item pw details" / "begin U item pw details" / "begin D item"
//       "done"
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/files/file_faults.h"
#include "tables_test_support.h"

namespace {

using namespace cairn;
using cairn::testing::PalRecord;

int Run(const std::string& dir, int64_t n, unsigned seed, int ops) {
  TDataSession session;
  session.Settings().force_buffer_flush = true;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir), "Pal");
  const uint16_t details = cairn::testing::FieldNumber(cursor, "Details");
  std::vector<std::string> live;
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) {
    live.push_back(cairn::testing::FieldText(cursor, record, "Item"));
  }
  TFileFaults::Instance().set_scope(dir);
  if (n > 0) TFileFaults::Instance().ExitAtWriteCall(n);
  std::mt19937 random(seed);
  for (int op = 0; op < ops; ++op) {
    const int choice = int(random() % 10);
    const std::string pw = "p" + std::to_string(seed) + "-" + std::to_string(op);
    // Long enough for a chain of several blob blocks.
    const std::string memo = std::string(200 + random() % 1500, char('a' + op % 26));
    const TBlobValues blobs{{details, std::vector<uint8_t>(memo.begin(), memo.end())}};
    if (live.empty() || choice < 4) {
      const std::string item = "s" + std::to_string(seed) + "-" + std::to_string(op);
      std::cout << "begin I " << item << " " << pw << " " << memo << "\n" << std::flush;
      cursor.Append(PalRecord(cursor, item, "u" + std::to_string(op % 3), 730120, pw), blobs);
      live.push_back(item);
    } else {
      const size_t pick = random() % live.size();
      const std::string item = live[pick];
      if (cursor.FindKey(cursor.BuildKey(PalRecord(cursor, item, "", 730120)), false) !=
          CAIRN_NONE) {
        return 3;
      }
      cursor.GetCurrent(record);
      cursor.GetCurrent(record, true);
      if (choice < 8) {
        std::cout << "begin U " << item << " " << pw << " " << memo << "\n" << std::flush;
        cursor.Modify(PalRecord(cursor, item, "v" + std::to_string(op % 3), 730120, pw), true,
                      blobs);
      } else {
        std::cout << "begin D " << item << "\n" << std::flush;
        cursor.Delete(record);
        live.erase(live.begin() + long(pick));
      }
    }
    std::cout << "done\n" << std::flush;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() != 4) {
    std::cerr << "usage: crash_writer DIR N SEED OPS\n";
    return 2;
  }
  try {
    return Run(args[0], std::stoll(args[1]), unsigned(std::stoul(args[2])), std::stoi(args[3]));
  } catch (const std::exception& error) {
    std::cerr << "crash_writer: " << error.what() << "\n";
    return 1;
  }
}
