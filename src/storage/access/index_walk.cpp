#include "storage/access/index_walk.h"

#include <cstring>

#include "storage/base/engine_error.h"

namespace cairn {

int TIndexWalker::Compare(const uint8_t* a, const uint8_t* b) const {
  return file_.Layout(index_).Compare(a, b);
}

void TIndexWalker::CopyLeaf(const TPage& page, TLeafCopy& leaf) {
  const int k = page.key_length();
  leaf.page = page.number();
  leaf.prev = page.prev();
  leaf.next = page.next();
  leaf.count = page.count();
  leaf.key_length = k;
  leaf.keys.resize(size_t(leaf.count) * k);
  leaf.refs.resize(size_t(leaf.count));
  for (int i = 0; i < leaf.count; ++i) {
    std::memcpy(leaf.keys.data() + size_t(i) * k, page.Key(i), size_t(k));
    leaf.refs[size_t(i)] = page.Ref(i);
  }
}

TWalk TIndexWalker::LoadLeaf(int32_t page_no, TLeafCopy& leaf) {
  TPinnedPage page(&file_, file_.GetPage(index_, page_no));
  if (!page) return TWalk::kRestart;
  if (!page->IsLeaf() || page->count() == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  CopyLeaf(*page, leaf);
  return TWalk::kOk;
}

TWalk TIndexWalker::Descend(Mode mode, const uint8_t* key, uint32_t n, TTreePosition& out) {
  out.entry = -1;
  int32_t page_no = file_.Root(index_);
  if (page_no == 0) return TWalk::kNone;
  if (mode == Mode::kNth && n == 0) return TWalk::kNone;
  uint32_t before = 0;  // keys left of the subtree being entered
  for (int depth = 0;; ++depth) {
    if (depth > kMaxTreeDepth) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    TPinnedPage page(&file_, file_.GetPage(index_, page_no));
    if (!page) return TWalk::kRestart;
    const int count = page->count();
    if (count == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    if (page->IsInterior()) {
      int choice = 0;
      switch (mode) {
        case Mode::kFirst:
          choice = 0;
          break;
        case Mode::kLast:
          choice = count - 1;
          break;
        case Mode::kAtLeast:
        case Mode::kAtMost: {
          // The last entry whose key is <= the search key.
          int low = 0, high = count - 1, found = -1;
          while (low <= high) {
            const int mid = (low + high) / 2;
            if (Compare(page->Key(mid), key) <= 0) {
              found = mid;
              low = mid + 1;
            } else {
              high = mid - 1;
            }
          }
          if (found < 0 && mode == Mode::kAtMost) return TWalk::kNone;
          choice = found < 0 ? 0 : found;
          break;
        }
        case Mode::kNth: {
          uint32_t left = n - before;
          choice = count - 1;
          for (int i = 0; i < count; ++i) {
            const uint32_t sub = page->SubCount(i);
            if (left <= sub) {
              choice = i;
              break;
            }
            if (i == count - 1) return TWalk::kNone;  // beyond the last key
            left -= sub;
            before += sub;
          }
          page_no = page->Ref(choice);
          continue;
        }
      }
      for (int i = 0; i < choice; ++i) before += page->SubCount(i);
      page_no = page->Ref(choice);
      continue;
    }

    // Leaf.
    CopyLeaf(*page, out.leaf);
    out.leaf.first_ordinal = before + 1;
    page.Reset();
    int entry = 0;
    switch (mode) {
      case Mode::kFirst:
        entry = 0;
        break;
      case Mode::kLast:
        entry = count - 1;
        break;
      case Mode::kNth:
        entry = int(n - before) - 1;
        if (entry >= count) return TWalk::kNone;
        break;
      case Mode::kAtLeast: {
        int low = 0, high = count;  // first entry >= key
        while (low < high) {
          const int mid = (low + high) / 2;
          if (Compare(out.leaf.Key(mid), key) < 0)
            low = mid + 1;
          else
            high = mid;
        }
        entry = low;
        break;
      }
      case Mode::kAtMost: {
        int low = 0, high = count;  // first entry > key, minus one
        while (low < high) {
          const int mid = (low + high) / 2;
          if (Compare(out.leaf.Key(mid), key) <= 0)
            low = mid + 1;
          else
            high = mid;
        }
        entry = low - 1;
        break;
      }
    }
    out.entry = entry;
    if (entry >= count) {
      out.entry = count - 1;
      return Next(out);
    }
    if (entry < 0) {
      out.entry = 0;
      return Prior(out);
    }
    return TWalk::kOk;
  }
}

TWalk TIndexWalker::Next(TTreePosition& pos) {
  if (pos.entry + 1 < pos.leaf.count) {
    ++pos.entry;
    return TWalk::kOk;
  }
  if (pos.leaf.next == 0) return TWalk::kNone;
  TLeafCopy next;
  const TWalk walk = LoadLeaf(pos.leaf.next, next);
  if (walk != TWalk::kOk) return walk;
  next.first_ordinal = pos.leaf.first_ordinal + uint32_t(pos.leaf.count);
  pos.leaf = std::move(next);
  pos.entry = 0;
  return TWalk::kOk;
}

TWalk TIndexWalker::Prior(TTreePosition& pos) {
  if (pos.entry > 0) {
    --pos.entry;
    return TWalk::kOk;
  }
  if (pos.leaf.prev == 0) return TWalk::kNone;
  TLeafCopy prior;
  const TWalk walk = LoadLeaf(pos.leaf.prev, prior);
  if (walk != TWalk::kOk) return walk;
  prior.first_ordinal = pos.leaf.first_ordinal - uint32_t(prior.count);
  pos.leaf = std::move(prior);
  pos.entry = pos.leaf.count - 1;
  return TWalk::kOk;
}

TWalk TIndexWalker::Count(uint32_t& out) {
  out = 0;
  const int32_t root = file_.Root(index_);
  if (root == 0) return TWalk::kOk;
  TPinnedPage page(&file_, file_.GetPage(index_, root));
  if (!page) return TWalk::kRestart;
  out = page->Total();
  return TWalk::kOk;
}

TWalk TIndexWalker::Contains(const uint8_t* key, bool& found) {
  found = false;
  TTreePosition pos;
  const TWalk walk = FirstAtLeast(key, pos);
  if (walk == TWalk::kOk) found = Compare(pos.Key(), key) == 0;
  return walk == TWalk::kNone ? TWalk::kOk : walk;
}

}  // namespace cairn
