// A second process for the lock tests. It reads one command per line on
// stdin and answers one line on stdout, so the test can sequence both
// processes through the pipes alone.
//
//   open <path> / open_excl <path>   -> "ok" or "error <code>"
//   close
//   lock <offset> <length>           -> "ok" / "refused"
//   unlock <offset> <length>         -> "ok" / "refused"
//   record <slot> / unrecord <slot>  -> "ok" / "refused"
//   read                             -> "ok <r>" / "refused" (few attempts)
//   write_area / table_write         -> "ok" / "refused" (few attempts)
//   quit
#include <iostream>
#include <sstream>
#include <string>

#include "storage/base/engine_error.h"
#include "storage/files/file_handler.h"

int main() {
  cairn::TFileHandler handler;
  const cairn::TLockRetry quick{3, std::chrono::milliseconds(0)};
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    std::string answer;
    auto yes_no = [](bool ok) { return std::string(ok ? "ok" : "refused"); };
    if (command == "open" || command == "open_excl") {
      std::string path;
      in >> path;
      handler.Close();
      handler.set_file_name(path);
      handler.set_exclusive(command == "open_excl");
      try {
        handler.Open();
        answer = "ok";
      } catch (const cairn::ECairnEngineError& e) {
        answer = "error " + std::to_string(e.code());
      }
    } else if (command == "close") {
      handler.Close();
      answer = "ok";
    } else if (command == "lock" || command == "unlock") {
      uint64_t offset = 0;
      uint64_t length = 0;
      in >> offset >> length;
      answer = yes_no(command == "lock" ? handler.LockRange(offset, length)
                                        : handler.UnlockRange(offset, length));
    } else if (command == "record" || command == "unrecord") {
      uint32_t slot = 0;
      in >> slot;
      answer = yes_no(command == "record" ? handler.LockRecord(slot) : handler.UnlockRecord(slot));
    } else if (command == "read") {
      uint16_t r = 0;
      answer = handler.LockRead(r, quick) ? "ok " + std::to_string(r) : "refused";
    } else if (command == "write_area") {
      answer = yes_no(handler.LockAreaWrite(quick));
    } else if (command == "table_write") {
      answer = yes_no(handler.LockTableWrite(quick));
    } else if (command == "quit") {
      return 0;
    } else {
      answer = "unknown";
    }
    std::cout << answer << std::endl;
  }
  return 0;
}
