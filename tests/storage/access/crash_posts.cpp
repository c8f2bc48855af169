#include "crash_posts.h"

#include "storage/base/engine_error.h"
#include "tables_test_support.h"

namespace cairn::testing {

TPoster::TPoster(TDataCursor& cursor, unsigned seed)
    : cursor_(cursor), seed_(seed), random_(seed) {
  std::vector<uint8_t> record;
  cursor_.SetToBegin();
  while (cursor_.Next(record) == CAIRN_NONE) live_.push_back(FieldText(cursor_, record, "Item"));
}

std::string TPoster::Plan() {
  const int op = count_++;
  const int choice = int(random_() % 10);
  TPost post;
  const std::string tag = std::to_string(seed_) + "-" + std::to_string(op);
  post.pw = "p" + tag;
  post.memo = std::string(200 + random_() % 1500, char('a' + op % 26));
  if (live_.empty() || choice < 4) {
    post.op = 'I';
    post.item = "s" + tag;
    post.user = "u" + std::to_string(op % 3);
    live_.push_back(post.item);
    planned_.push_back(post);
    return "I " + post.item + " " + post.pw + " " + post.memo;
  }
  const size_t pick = random_() % live_.size();
  post.item = live_[pick];
  post.user = "v" + std::to_string(op % 3);
  std::string description;
  if (choice < 6) {
    post.op = 'U';
    post.new_item = post.item;
    description = "U " + post.item + " " + post.pw + " " + post.memo;
  } else if (choice < 8) {
    post.op = 'R';
    post.new_item = "r" + tag;
    live_[pick] = post.new_item;
    description = "R " + post.item + " " + post.new_item + " " + post.pw + " " + post.memo;
  } else {
    post.op = 'D';
    live_.erase(live_.begin() + long(pick));
    description = "D " + post.item;
  }
  planned_.push_back(post);
  return description;
}

void TPoster::Post() {
  const TPost post = planned_.front();
  planned_.pop_front();
  const uint16_t details = FieldNumber(cursor_, "Details");
  const TBlobValues blobs{{details, std::vector<uint8_t>(post.memo.begin(), post.memo.end())}};
  if (post.op == 'I') {
    cursor_.Append(PalRecord(cursor_, post.item, post.user, 730120, post.pw), blobs);
    return;
  }
  if (cursor_.FindKey(cursor_.BuildKey(PalRecord(cursor_, post.item, "", 730120)), false) !=
      CAIRN_NONE) {
    RaiseEngineError(CAIRN_FILECORRUPT, "a record the test made is gone: " + post.item);
  }
  std::vector<uint8_t> record;
  cursor_.GetCurrent(record);
  cursor_.GetCurrent(record, true);
  if (post.op == 'D') {
    cursor_.Delete(record);
  } else {
    cursor_.Modify(PalRecord(cursor_, post.new_item, post.user, 730120, post.pw), true, blobs);
  }
}

}  // namespace cairn::testing
