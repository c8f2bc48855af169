// A writer that dies at a chosen write, or whenever it is killed: the other
// side of the crash tests.
//
//   crash_writer DIR N SEED OPS [K [TWIN]]
//     Opens table Pal with forced flushes and makes the process end at the
//     Nth write call to the table's files (0: never), then makes OPS posts
//     chosen by SEED (crash_posts.h), with K > 1 in transactions of K posts
//     each. With TWIN, every post goes to that table too, in the same
//     transaction (one also for K = 1). Each post or transaction is
//     announced before it starts and confirmed when it returned:
//       "begin <post>" or "begin T ; <post> ; <post> ..."
//       "done"
#include <iostream>
#include <string>
#include <vector>

#include "crash_posts.h"
#include "storage/files/file_faults.h"
#include "tables_test_support.h"

namespace {

using namespace cairn;

int Run(const std::string& dir, int64_t n, unsigned seed, int ops, int k,
        const std::string& twin) {
  TDataSession session;
  session.Settings().force_buffer_flush = true;
  TDataDirectory& directory = session.OpenDirectory(dir);
  TDataCursor cursor;
  cursor.Open(directory, "Pal");
  testing::TPoster poster(cursor, seed);
  if (!twin.empty()) {
    // The same posts on a table that holds the same records.
    TDataCursor twin_cursor;
    twin_cursor.Open(directory, twin);
    testing::TPoster twin_poster(twin_cursor, seed);
    TFileFaults::Instance().set_scope(dir);
    if (n > 0) TFileFaults::Instance().ExitAtWriteCall(n);
    for (int op = 0; op < ops; op += k) {
      std::string description = "T";
      for (int i = 0; i < k; ++i) {
        const std::string post = poster.Plan();
        if (twin_poster.Plan() != post) return 4;
        description += " ; " + post;
      }
      std::cout << "begin " << description << "\n" << std::flush;
      directory.StartTransaction();
      for (int i = 0; i < k; ++i) {
        poster.Post();
        twin_poster.Post();
      }
      directory.Commit();
      std::cout << "done\n" << std::flush;
    }
    return 0;
  }
  TFileFaults::Instance().set_scope(dir);
  if (n > 0) TFileFaults::Instance().ExitAtWriteCall(n);
  for (int op = 0; op < ops; op += k) {
    if (k > 1) {
      std::string description = "T";
      for (int i = 0; i < k; ++i) description += " ; " + poster.Plan();
      std::cout << "begin " << description << "\n" << std::flush;
      directory.StartTransaction();
      for (int i = 0; i < k; ++i) poster.Post();
      directory.Commit();
    } else {
      std::cout << "begin " << poster.Plan() << "\n" << std::flush;
      poster.Post();
    }
    std::cout << "done\n" << std::flush;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 4 || args.size() > 6) {
    std::cerr << "usage: crash_writer DIR N SEED OPS [K [TWIN]]\n";
    return 2;
  }
  try {
    return Run(args[0], std::stoll(args[1]), unsigned(std::stoul(args[2])), std::stoi(args[3]),
               args.size() >= 5 ? std::max(1, std::stoi(args[4])) : 1,
               args.size() == 6 ? args[5] : std::string());
  } catch (const std::exception& error) {
    std::cerr << "crash_writer: " << error.what() << "\n";
    return 1;
  }
}
