// The posts the crash tests make on the Pal table: inserts, updates that move
// a record in the ByUser index, renames that move it in the primary index,
// and deletes, each with a memo long enough for a chain of several blob
// blocks, chosen by a seed. Each post is described for testing::Apply
// (crash_test_support.h): "I item pw memo", "U item pw memo",
// "R old new pw memo", "D item".
#pragma once

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "storage/access/data_cursor.h"

namespace cairn::testing {

class TPoster {
 public:
  // Reads the items the table holds now.
  TPoster(TDataCursor& cursor, unsigned seed);

  // Chooses the next post and returns its description; Post makes the
  // chosen posts in turn.
  std::string Plan();
  void Post();

 private:
  struct TPost {
    char op;
    std::string item, new_item, pw, memo;
    std::string user;
  };
  TDataCursor& cursor_;
  unsigned seed_;
  std::mt19937 random_;
  int count_ = 0;
  std::vector<std::string> live_;
  std::deque<TPost> planned_;
};

}  // namespace cairn::testing
