// One long-lived editor of table Pal for the shared-editing test: it keeps
// one session and one cursor open for its whole life and does what its
// standard input says, one command per line, answering one line each.
//
//   shared_edit_worker DIR pessimistic|optimistic normal|strict
//
//   ins ITEM PW DETAILS        append                       -> ok
//   edit OLD NEW PW DETAILS    find OLD, edit and post      -> ok SEEN | absent
//   del ITEM                   find and delete              -> ok SEEN | absent
//   begin ITEM                 find and start an edit       -> ok SEEN | absent
//   post NEW PW DETAILS        post the edit begun          -> ok
//   cancel                     drop the edit begun          -> ok
// DETAILS "-" keeps the memo. SEEN is the PW of the record the change
// replaced. A refused command answers "refused CODE" with the engine code,
// anything else "error TEXT".
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace {

using namespace cairn;
using cairn::testing::FieldText;
using cairn::testing::PalRecord;

class TEditor {
 public:
  TEditor(const std::string& dir, bool optimistic, bool strict) {
    session_.Settings().lock_protocol =
        optimistic ? TLockProtocol::kOptimistic : TLockProtocol::kPessimistic;
    session_.Settings().strict_change_detection = strict;
    session_.Settings().lock_retry_count = 1;
    session_.Settings().lock_wait_time = 0;
    // Commands run one at a time, so no table lock is ever held while
    // another process asks: a refusal shows at once as 10249.
    session_.Settings().table_lock_attempts = 200;
    session_.Settings().table_lock_wait_time = 1;
    cursor_.Open(session_.OpenDirectory(dir), "Pal");
    details_ = cairn::testing::FieldNumber(cursor_, "Details");
  }

  std::string Run(const std::string& line) {
    std::istringstream in(line);
    std::string command, a, b, c, d;
    in >> command >> a >> b >> c >> d;
    if (command == "ins") {
      cursor_.Append(Image(a, b), Blobs(c));
      return "ok";
    }
    if (command == "edit") {
      if (!Find(a)) return "absent";
      const std::string seen = FieldText(cursor_, record_, "PW");
      cursor_.Modify(Image(b, c), true, Blobs(d));
      return "ok " + seen;
    }
    if (command == "del") {
      if (!Find(a)) return "absent";
      const std::string seen = FieldText(cursor_, record_, "PW");
      cursor_.Delete(record_);
      return "ok " + seen;
    }
    if (command == "begin") {
      if (!Find(a)) return "absent";
      return "ok " + FieldText(cursor_, record_, "PW");
    }
    if (command == "post") {
      cursor_.Modify(Image(a, b), true, Blobs(c));
      return "ok";
    }
    if (command == "cancel") {
      if (cursor_.LockedSlot() != 0) cursor_.Unlock();
      return "ok";
    }
    return "error unknown command";
  }

 private:
  // Positions on ITEM and starts an edit of it: the record lock under the
  // pessimistic protocol, and under both a check that the record read is
  // the one stored.
  bool Find(const std::string& item) {
    if (cursor_.FindKey(cursor_.BuildKey(PalRecord(cursor_, item, "", 730120)), false) !=
        CAIRN_NONE) {
      return false;
    }
    if (cursor_.GetCurrent(record_) != CAIRN_NONE) return false;
    cursor_.GetCurrent(record_, true);
    return true;
  }
  std::vector<uint8_t> Image(const std::string& item, const std::string& pw) {
    return PalRecord(cursor_, item, "user", 730120, pw);
  }
  TBlobValues Blobs(const std::string& details) {
    if (details.empty() || details == "-") return {};
    return {{details_, std::vector<uint8_t>(details.begin(), details.end())}};
  }

  TDataSession session_;
  TDataCursor cursor_;
  uint16_t details_ = 0;
  std::vector<uint8_t> record_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() != 3) {
    std::cerr << "usage: shared_edit_worker DIR pessimistic|optimistic normal|strict\n";
    return 2;
  }
  try {
    TEditor editor(args[0], args[1] == "optimistic", args[2] == "strict");
    std::string line;
    while (std::getline(std::cin, line)) {
      std::string answer;
      try {
        answer = editor.Run(line);
      } catch (const ECairnEngineError& error) {
        answer = "refused " + std::to_string(error.code()) + " " + error.what();
      } catch (const std::exception& error) {
        answer = std::string("error ") + error.what();
      }
      std::cout << answer << "\n" << std::flush;
    }
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "shared_edit_worker: " << error.what() << "\n";
    return 1;
  }
}
