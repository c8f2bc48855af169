// Three processes, each with one session and one cursor open for its whole
// life, insert, delete, rename and edit the same records of one table in a
// random order that this test decides and sequences through pipes. Edits may
// be begun in one step and posted in a later one, so that others change or
// try to change the record in between. The test keeps a model of the table
// and of every lock, and states for every answer what the engine may say:
//   - a change that succeeds replaced the record as the model has it (no
//     change was lost to a stale view);
//   - a refusal is 8708 (the record changed since it was read) or 10258 (it
//     is locked), and only where the protocol allows it;
//   - in strict change detection every committed change is seen at once.
// Afterwards the table holds exactly the model and its files check clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "storage/access/index_check.h"
#include "storage/access/table_check.h"
#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace cairn {
namespace {

using testing::FieldText;
using testing::PalDefinition;
using testing::TScratchDir;

struct TModelRecord {
  std::string pw;
  std::string details;
  int version = 0;
};

struct TPending {
  std::string item;
  int version = 0;
};

struct TAnswer {
  std::string kind;  // ok, absent, refused, error
  std::string value;  // ok: the PW seen; refused: the code
  std::string line;
};

TAnswer Parse(const std::string& line) {
  std::istringstream in(line);
  TAnswer a;
  in >> a.kind >> a.value;
  a.line = line;
  return a;
}

struct TMode {
  bool optimistic;
  bool strict;
};

class SharedEditTest : public ::testing::TestWithParam<TMode> {};

TEST_P(SharedEditTest, EveryAnswerMatchesTheModelAndTheTableEndsAsTheModel) {
  const TMode mode = GetParam();
  TScratchDir dir;
  {
    TDataSession session;
    session.OpenDirectory(dir.path()).CreateTable("Pal", PalDefinition());
  }
  constexpr int kWorkers = 3;
  constexpr int kSteps = 400;
  // SHARED_EDIT_SEED replays another interleaving.
  const char* seed_text = std::getenv("SHARED_EDIT_SEED");
  const unsigned seed = (seed_text ? unsigned(std::strtoul(seed_text, nullptr, 10)) : 1000u) +
                        unsigned(mode.optimistic) * 2 + unsigned(mode.strict);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto chance = [&](int percent) { return int(random() % 100) < percent; };

  std::vector<std::unique_ptr<testing::TChild>> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.push_back(std::make_unique<testing::TChild>(
        SHARED_EDIT_WORKER,
        std::vector<std::string>{dir.path(), mode.optimistic ? "optimistic" : "pessimistic",
                                 mode.strict ? "strict" : "normal"}));
    ASSERT_TRUE(workers.back()->started());
  }

  std::map<std::string, TModelRecord> model;
  std::vector<std::string> gone;  // names deleted or renamed away
  std::vector<std::optional<TPending>> pending(kWorkers);
  std::map<std::string, int> locked_by;  // pessimistic edits begun
  int next_name = 0, next_version = 0;
  int refusals = 0, stale = 0;
  auto fresh_name = [&] { return "r" + std::to_string(next_name++); };
  auto pick_live = [&]() -> std::string {
    auto it = model.begin();
    std::advance(it, long(random() % model.size()));
    return it->first;
  };

  // What an attempt to change `item` (find, lock, compare) may answer, and
  // whether it succeeded on the record as the model has it. An optimistic
  // edit begun in normal mode reads no disk and may start from an outdated
  // image (`stale` is set); its post must then be refused.
  auto check_change = [&](int w, const std::string& item, const TAnswer& a, const char* what,
                          bool* stale_begin = nullptr) {
    SCOPED_TRACE(std::string(what) + " " + item + " by worker " + std::to_string(w) + ": " +
                 a.line);
    const auto live = model.find(item);
    if (a.kind == "error") {
      ADD_FAILURE() << "unexpected failure";
      return false;
    }
    if (live == model.end()) {
      // Gone: only a stale view finds it, and the check on locking refuses.
      if (a.kind == "ok" && stale_begin && mode.optimistic && !mode.strict) {
        *stale_begin = true;
        return true;
      }
      if (a.kind == "ok") ADD_FAILURE() << "changed a record that no longer exists";
      if (mode.strict) EXPECT_EQ(a.kind, "absent");
      // Its slot may hold a record that another process has locked by now:
      // the lock is tried before the record is compared.
      const bool others_lock = std::any_of(locked_by.begin(), locked_by.end(),
                                           [&](const auto& held) { return held.second != w; });
      if (a.kind == "refused" && !(a.value == "10258" && others_lock)) EXPECT_EQ(a.value, "8708");
      return false;
    }
    const auto holder = locked_by.find(item);
    const bool held_elsewhere = holder != locked_by.end() && holder->second != w;
    if (a.kind == "ok" && stale_begin && mode.optimistic && !mode.strict &&
        a.value != live->second.pw) {
      *stale_begin = true;
      return true;
    }
    if (a.kind == "ok") {
      EXPECT_FALSE(held_elsewhere) << "got past another process's record lock";
      EXPECT_EQ(a.value, live->second.pw) << "the change replaced an outdated record";
      return !held_elsewhere && a.value == live->second.pw;
    }
    if (a.kind == "absent") {
      EXPECT_FALSE(mode.strict) << "a committed record was not found in strict mode";
      ++stale;
      return false;
    }
    ++refusals;
    if (held_elsewhere) {
      EXPECT_EQ(a.value, "10258");
    } else {
      EXPECT_FALSE(mode.strict) << "refused although nothing stood in the way";
      EXPECT_EQ(a.value, "8708");
    }
    return false;
  };

  for (int step = 0; step < kSteps; ++step) {
    const int w = int(random() % kWorkers);
    testing::TChild& worker = *workers[size_t(w)];
    if (pending[size_t(w)]) {
      const TPending p = *pending[size_t(w)];
      if (chance(15)) {
        EXPECT_EQ(worker.Ask("cancel"), "ok");
        locked_by.erase(p.item);
        pending[size_t(w)].reset();
        continue;
      }
      if (chance(40)) continue;  // keep the edit open a little longer
      const std::string name = chance(50) ? fresh_name() : p.item;
      const std::string pw = "p" + std::to_string(step);
      const std::string details = chance(30) ? "d" + std::to_string(step) : "-";
      const TAnswer a = Parse(worker.Ask("post " + name + " " + pw + " " + details));
      SCOPED_TRACE("post of " + p.item + " by worker " + std::to_string(w) + ": " + a.line);
      const auto live = model.find(p.item);
      const bool unchanged = live != model.end() && live->second.version == p.version;
      if (unchanged) {
        EXPECT_EQ(a.kind, "ok") << "a post of an unchanged record was refused";
      } else {
        EXPECT_EQ(a.line.rfind("refused 8708", 0), 0u) << "a post over another change";
      }
      if (a.kind == "ok" && unchanged) {
        TModelRecord r = live->second;
        model.erase(live);
        if (name != p.item) gone.push_back(p.item);
        r.pw = pw;
        if (details != "-") r.details = details;
        r.version = ++next_version;
        model[name] = r;
      } else {
        ++refusals;
      }
      locked_by.erase(p.item);
      pending[size_t(w)].reset();
      continue;
    }
    const int op = int(random() % 100);
    if (model.empty() || op < 30) {
      const std::string name = fresh_name();
      const TAnswer a = Parse(worker.Ask("ins " + name + " p" + std::to_string(step) + " d-" + name));
      EXPECT_EQ(a.kind, "ok") << a.line;
      if (a.kind == "ok") model[name] = {"p" + std::to_string(step), "d-" + name, ++next_version};
      continue;
    }
    // Now and then aim at a name that is gone, as a stale view would.
    const std::string item = (!gone.empty() && op < 38) ? gone[random() % gone.size()] : pick_live();
    if (op < 60) {
      const std::string name = chance(50) ? fresh_name() : item;
      const std::string pw = "e" + std::to_string(step);
      const TAnswer a = Parse(worker.Ask("edit " + item + " " + name + " " + pw + " -"));
      if (check_change(w, item, a, "edit")) {
        TModelRecord r = model[item];
        model.erase(item);
        if (name != item) gone.push_back(item);
        r.pw = pw;
        r.version = ++next_version;
        model[name] = r;
      }
    } else if (op < 75) {
      const TAnswer a = Parse(worker.Ask("del " + item));
      if (check_change(w, item, a, "delete")) {
        model.erase(item);
        gone.push_back(item);
      }
    } else {
      const TAnswer a = Parse(worker.Ask("begin " + item));
      bool stale_begin = false;
      if (check_change(w, item, a, "begin", &stale_begin)) {
        pending[size_t(w)] = TPending{item, stale_begin ? -1 : model.at(item).version};
        if (!mode.optimistic) locked_by[item] = w;
      }
    }
    if (::testing::Test::HasFatalFailure()) return;
  }
  for (int w = 0; w < kWorkers; ++w) {
    if (pending[size_t(w)]) EXPECT_EQ(workers[size_t(w)]->Ask("cancel"), "ok");
    workers[size_t(w)]->CloseInput();
    EXPECT_EQ(workers[size_t(w)]->Wait(), 0);
  }
  // The interleaving must have exercised the refusals it is about.
  EXPECT_GT(refusals, 0);
  RecordProperty("refusals", refusals);
  RecordProperty("stale_finds", stale);

  TDataSession session;
  TDataCursor cursor;
  cursor.Open(session.OpenDirectory(dir.path()), "Pal");
  const uint16_t details = testing::FieldNumber(cursor, "Details");
  std::map<std::string, TModelRecord> found;
  std::vector<uint8_t> record;
  cursor.SetToBegin();
  while (cursor.Next(record) == CAIRN_NONE) {
    const std::vector<uint8_t> text = cursor.ReadBlob(record, details);
    found[FieldText(cursor, record, "Item")] = {FieldText(cursor, record, "PW"),
                                                std::string(text.begin(), text.end()), 0};
  }
  EXPECT_EQ(found.size(), model.size());
  for (const auto& [item, r] : model) {
    const auto it = found.find(item);
    if (it == found.end()) {
      ADD_FAILURE() << "lost " << item;
      continue;
    }
    EXPECT_EQ(it->second.pw, r.pw) << item;
    EXPECT_EQ(it->second.details, r.details) << item;
  }
  for (const auto& [item, r] : found) {
    if (!model.count(item)) ADD_FAILURE() << "left behind: " << item;
  }
  EXPECT_EQ(cursor.RecordCount(), model.size());
  const TTableCheckResult check = CheckTableFiles(cursor.Table());
  for (const auto& fault : check.faults) ADD_FAILURE() << fault;
  const TIndexCheckResult index_check = CheckIndexFile(cursor.Table().Index());
  for (const auto& fault : index_check.faults) ADD_FAILURE() << fault;
}

INSTANTIATE_TEST_SUITE_P(ProtocolsAndDetection, SharedEditTest,
                         ::testing::Values(TMode{false, false}, TMode{false, true},
                                           TMode{true, false}, TMode{true, true}),
                         [](const ::testing::TestParamInfo<TMode>& info) {
                           return std::string(info.param.optimistic ? "Optimistic" : "Pessimistic") +
                                  (info.param.strict ? "Strict" : "Normal");
                         });

}  // namespace
}  // namespace cairn
