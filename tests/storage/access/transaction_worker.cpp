// The other process of the transaction tests: one session and cursor on
// table Pal for its whole life, with table lock retries cut to a few
// milliseconds. Reads commands from standard input, answers one line each:
//   items   -> refreshes, then "items A B ..." (primary index order) or
//              "error CODE"
#include <iostream>
#include <string>

#include "storage/base/engine_error.h"
#include "tables_test_support.h"

int main(int argc, char** argv) {
  using namespace cairn;
  if (argc != 2) {
    std::cerr << "usage: transaction_worker DIR\n";
    return 2;
  }
  try {
    TDataSession session;
    session.Settings().table_lock_attempts = 3;
    session.Settings().table_lock_wait_time = 1;
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(argv[1]), "Pal");
    std::cout << "ready\n" << std::flush;
    for (std::string line; std::getline(std::cin, line);) {
      std::string answer = "error usage";
      if (line == "items") {
        try {
          cursor.Refresh();
          answer = "items";
          for (const std::string& item : cairn::testing::Items(cursor)) answer += " " + item;
        } catch (const ECairnEngineError& error) {
          answer = "error " + std::to_string(error.code());
        }
      }
      std::cout << answer << "\n" << std::flush;
    }
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "transaction_worker: " << error.what() << "\n";
    return 1;
  }
}
