#include "storage/access/index_tree.h"

#include <algorithm>
#include <cstring>

#include "storage/base/engine_error.h"

namespace cairn {

TIndexTree::TIndexTree(TIndexFile& file, int index)
    : file_(file),
      index_(index),
      layout_(file.Layout(index)),
      shape_(file.Shape(index)),
      counts_(!file.Shape(index).no_counts),
      plain_length_(layout_.byte_order() && (!layout_.descending() || index == kStatusIndex)
                        ? size_t(layout_.key_length())
                        : 0) {}

TPinnedPage TIndexTree::Fetch(int32_t page) {
  // A link never names the next page to append: that would grow the file.
  if (page <= 0 || page >= file_.NextPage(index_)) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  TPage* p = file_.GetPage(index_, page);
  if (!p) {
    if (mutating_) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    throw TRestart{};
  }
  return TPinnedPage(&file_, p);
}

void TIndexTree::CheckNode(const TPage* p, int level, int32_t number) const {
  if (level >= kMaxTreeDepth || p->freed || p->number() != number || p->type() == kPageRaw)
    file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  if ((level == 0) != p->IsRoot()) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  if (p->IsInterior() && p->count() == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  if (level > 0 && p->count() == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
}

template <typename F>
auto TIndexTree::ReadRetry(F&& f) -> decltype(f()) {
  if (settle_ && file_.HasPending(index_)) Settle();
  for (;;) {
    try {
      return f();
    } catch (const TRestart&) {
      // Another process changed the table: its pages were dropped; walk
      // again, unless a cursor must resynchronise first.
      if (walking_) throw;
    }
  }
}

int TIndexTree::ChildFor(const TPage* p, const uint8_t* key, bool strict) const {
  int lo = 0, hi = p->count();  // first entry > key (or >= key when strict)
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    const int c = Cmp(p->Key(mid), key);
    if (c < 0 || (c == 0 && !strict))
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo > 0 ? lo - 1 : 0;
}

int TIndexTree::LowerBound(const TPage* p, const uint8_t* key) const {
  int lo = 0, hi = p->count();
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (Cmp(p->Key(mid), key) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

int TIndexTree::UpperBound(const TPage* p, const uint8_t* key) const {
  int lo = 0, hi = p->count();
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (Cmp(p->Key(mid), key) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

std::vector<TIndexTree::TLevel> TIndexTree::Descend(const uint8_t* key, bool strict,
                                                    uint32_t* left_keys) {
  std::vector<TLevel> path;
  path.reserve(4);  // one allocation for the usual depth, not one per level
  int32_t number = file_.Root(index_);
  uint32_t left = 0;
  for (int level = 0;; ++level) {
    TLevel l;
    l.page = Fetch(number);
    CheckNode(l.page.get(), level, number);
    if (l.page->IsLeaf()) {
      path.push_back(std::move(l));
      break;
    }
    l.pos = ChildFor(l.page.get(), key, strict);
    for (int i = 0; i < l.pos; ++i) left += l.page->SubCount(i);
    number = l.page->Ref(l.pos);
    path.push_back(std::move(l));
  }
  if (left_keys) *left_keys = left;
  return path;
}

// ---- reads ----------------------------------------------------------------

uint32_t TIndexTree::LeafOrdinalBase(int32_t leaf_page) {
  // Without subtree counts: count the keys of the leaves before this one.
  uint32_t base = 0;
  TPinnedPage p = Fetch(leaf_page);
  int32_t prev = p->prev();
  p.Reset();
  int guard = 0;
  while (prev != 0) {
    TPinnedPage q = Fetch(prev);
    if (!q->IsLeaf() || ++guard > kMaxIndexPage) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    base += uint32_t(q->count());
    prev = q->prev();
  }
  return base;
}

bool TIndexTree::Fill(TPinnedPage& leaf, int pos, uint32_t ordinal, TIndexEntry& out) {
  out.page = leaf->number();
  out.pos = pos;
  out.ordinal = counts_ ? ordinal : LeafOrdinalBase(leaf->number()) + uint32_t(pos) + 1;
  out.ref = leaf->Ref(pos);
  out.key.assign(leaf->Key(pos), leaf->Key(pos) + shape_.key_length);
  return true;
}

uint32_t TIndexTree::Count() {
  return ReadRetry([&]() -> uint32_t {
    const int32_t root = file_.Root(index_);
    if (root == 0) return 0;
    TPinnedPage p = Fetch(root);
    CheckNode(p.get(), 0, root);
    if (counts_ || p->IsLeaf()) return p->Total();
    TIndexEntry last;
    return Last(last) ? last.ordinal : 0;
  });
}

bool TIndexTree::SeekImpl(std::span<const uint8_t> key, Seek mode, TIndexEntry& out) {
  return ReadRetry([&]() -> bool {
    if (file_.Root(index_) == 0) return false;
    uint32_t left = 0;
    auto path = Descend(key.data(), mode == Seek::kLT, &left);
    TPinnedPage leaf = std::move(path.back().page);
    path.clear();
    int pos;
    switch (mode) {
      case Seek::kGE:
        pos = LowerBound(leaf.get(), key.data());
        break;
      case Seek::kGT:
        pos = UpperBound(leaf.get(), key.data());
        break;
      case Seek::kLE:
        pos = UpperBound(leaf.get(), key.data()) - 1;
        break;
      case Seek::kLT:
        pos = LowerBound(leaf.get(), key.data()) - 1;
        break;
    }
    if (pos >= leaf->count()) {
      const int32_t next = leaf->next();
      left += uint32_t(leaf->count());
      if (next == 0) return false;
      leaf = Fetch(next);
      if (!leaf->IsLeaf() || leaf->freed || leaf->count() == 0)
        file_.RaiseIndex(CAIRN_INDEXCORRUPT);
      return Fill(leaf, 0, left + 1, out);
    }
    if (pos < 0) {
      const int32_t prev = leaf->prev();
      if (prev == 0) return false;
      leaf = Fetch(prev);
      if (!leaf->IsLeaf() || leaf->freed || leaf->count() == 0)
        file_.RaiseIndex(CAIRN_INDEXCORRUPT);
      return Fill(leaf, leaf->count() - 1, left, out);
    }
    return Fill(leaf, pos, left + uint32_t(pos) + 1, out);
  });
}

bool TIndexTree::SeekGE(std::span<const uint8_t> key, TIndexEntry& out) {
  return SeekImpl(key, Seek::kGE, out);
}
bool TIndexTree::SeekGT(std::span<const uint8_t> key, TIndexEntry& out) {
  return SeekImpl(key, Seek::kGT, out);
}
bool TIndexTree::SeekLE(std::span<const uint8_t> key, TIndexEntry& out) {
  return SeekImpl(key, Seek::kLE, out);
}
bool TIndexTree::SeekLT(std::span<const uint8_t> key, TIndexEntry& out) {
  return SeekImpl(key, Seek::kLT, out);
}

std::optional<int32_t> TIndexTree::Find(std::span<const uint8_t> key) {
  TIndexEntry e;
  if (!SeekGE(key, e)) return std::nullopt;
  if (Cmp(e.key.data(), key.data()) != 0) return std::nullopt;
  return e.ref;
}

// Reads of the tree alone, for as long as it lives: waiting keys stay out.
struct TIndexTree::TTreeAlone {
  explicit TTreeAlone(bool& settle) : settle(settle) { settle = false; }
  ~TTreeAlone() { settle = true; }
  bool& settle;
};

std::optional<int32_t> TIndexTree::FindInTree(std::span<const uint8_t> key) {
  TTreeAlone alone(settle_);
  return Find(key);
}

void TIndexTree::Settle() {
  TPendingKeys* pending = file_.Pending(index_);
  if (!pending || pending->empty() || pending->settling) return;
  std::vector<uint32_t> order(pending->size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return Cmp(pending->Key(a), pending->Key(b)) < 0; });
  const std::span<const uint8_t>::size_type length = size_t(pending->key_length());
  pending->settling = true;
  size_t done = 0;
  try {
    std::vector<TLevel> finger;
    for (; done < order.size(); ++done) {
      const uint8_t* key = pending->Key(order[done]);
      const int32_t slot = pending->Slot(order[done]);
      try {
        InsertAlong(finger, key, slot);
      } catch (const TRestart&) {
        finger.clear();
        Insert({key, length}, slot);
      }
      mutating_ = false;
    }
  } catch (...) {
    mutating_ = false;
    pending->settling = false;
    pending->Keep(std::vector<uint32_t>(order.begin() + std::ptrdiff_t(done), order.end()));
    throw;
  }
  pending->settling = false;
  pending->ClearWaiting();
}

void TIndexTree::VisitKeys(const std::function<void(const uint8_t*)>& visit) {
  TTreeAlone alone(settle_);
  ReadRetry([&] {
    TPinnedPage p = LeftmostLeaf();
    int guard = 0;
    while (p) {
      if (!p->IsLeaf() || p->freed || ++guard > kMaxIndexPage) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
      for (int i = 0; i < p->count(); ++i) visit(p->Key(i));
      const int32_t next = p->next();
      p.Reset();
      if (next != 0) p = Fetch(next);
    }
  });
}

TPinnedPage TIndexTree::LeftmostLeaf() {
  int32_t number = file_.Root(index_);
  if (number == 0) return {};
  for (int level = 0;; ++level) {
    TPinnedPage p = Fetch(number);
    CheckNode(p.get(), level, number);
    if (p->IsLeaf()) return p;
    number = p->Ref(0);
  }
}

bool TIndexTree::First(TIndexEntry& out) {
  return ReadRetry([&]() -> bool {
    TPinnedPage p = LeftmostLeaf();
    return p && p->count() > 0 && Fill(p, 0, 1, out);
  });
}

bool TIndexTree::Last(TIndexEntry& out) {
  return ReadRetry([&]() -> bool {
    int32_t number = file_.Root(index_);
    if (number == 0) return false;
    uint32_t left = 0;
    for (int level = 0;; ++level) {
      TPinnedPage p = Fetch(number);
      CheckNode(p.get(), level, number);
      if (p->IsLeaf()) {
        if (p->count() == 0) return false;
        return Fill(p, p->count() - 1, left + uint32_t(p->count()), out);
      }
      for (int i = 0; i + 1 < p->count(); ++i) left += p->SubCount(i);
      number = p->Ref(p->count() - 1);
    }
  });
}

bool TIndexTree::SeekOrdinal(uint32_t n, TIndexEntry& out) {
  if (n < 1) return false;
  if (!counts_) {
    TIndexEntry e;
    if (!First(e)) return false;
    for (uint32_t i = 1; i < n; ++i)
      if (!Next(e)) return false;
    out = std::move(e);
    return true;
  }
  return ReadRetry([&]() -> bool {
    int32_t number = file_.Root(index_);
    if (number == 0) return false;
    uint32_t rest = n;
    for (int level = 0;; ++level) {
      TPinnedPage p = Fetch(number);
      CheckNode(p.get(), level, number);
      if (p->IsLeaf()) {
        if (rest > uint32_t(p->count())) return false;
        return Fill(p, int(rest) - 1, n, out);
      }
      int i = 0;
      while (i < p->count() && rest > p->SubCount(i)) rest -= p->SubCount(i++);
      if (i == p->count()) return false;
      number = p->Ref(i);
    }
  });
}

bool TIndexTree::Next(TIndexEntry& at) {
  // 1 moved, 0 at the end, -1 the position is stale: search for the key again.
  const int r = ReadRetry([&]() -> int {
    if (at.page <= 0 || at.page >= file_.NextPage(index_)) return -1;
    TPinnedPage p = Fetch(at.page);
    if (p->freed || !p->IsLeaf() || at.pos < 0 || at.pos >= p->count() ||
        std::memcmp(p->Key(at.pos), at.key.data(), size_t(shape_.key_length)) != 0)
      return -1;
    if (at.pos + 1 < p->count()) return Fill(p, at.pos + 1, at.ordinal + 1, at) ? 1 : 0;
    const int32_t next = p->next();
    if (next == 0) return 0;
    TPinnedPage q = Fetch(next);
    if (!q->IsLeaf() || q->freed || q->count() == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    return Fill(q, 0, at.ordinal + 1, at) ? 1 : 0;
  });
  if (r >= 0) return r == 1;
  TIndexEntry e;
  if (!SeekGT(at.key, e)) return false;
  at = std::move(e);
  return true;
}

bool TIndexTree::Prior(TIndexEntry& at) {
  const int r = ReadRetry([&]() -> int {
    if (at.page <= 0 || at.page >= file_.NextPage(index_)) return -1;
    TPinnedPage p = Fetch(at.page);
    if (p->freed || !p->IsLeaf() || at.pos >= p->count() || at.pos < 0 ||
        std::memcmp(p->Key(at.pos), at.key.data(), size_t(shape_.key_length)) != 0)
      return -1;
    if (at.pos > 0) return Fill(p, at.pos - 1, at.ordinal - 1, at) ? 1 : 0;
    const int32_t prev = p->prev();
    if (prev == 0) return 0;
    TPinnedPage q = Fetch(prev);
    if (!q->IsLeaf() || q->freed || q->count() == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    return Fill(q, q->count() - 1, at.ordinal - 1, at) ? 1 : 0;
  });
  if (r >= 0) return r == 1;
  TIndexEntry e;
  if (!SeekLT(at.key, e)) return false;
  at = std::move(e);
  return true;
}

// ---- cursor walks ---------------------------------------------------------

template <typename F>
TWalk TIndexTree::Walk(F&& f) {
  if (file_.HasPending(index_)) Settle();
  walking_ = true;
  try {
    const TWalk walk = f();
    walking_ = false;
    return walk;
  } catch (const TRestart&) {
    walking_ = false;
    return TWalk::kRestart;
  } catch (...) {
    walking_ = false;
    throw;
  }
}

void TIndexTree::CopyLeaf(int32_t number, TLeafCopy& leaf) {
  TPinnedPage p = Fetch(number);
  if (p->freed || !p->IsLeaf() || p->count() == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  const int k = shape_.key_length;
  leaf.page = number;
  leaf.prev = p->prev();
  leaf.next = p->next();
  leaf.count = p->count();
  leaf.key_length = k;
  leaf.keys.resize(size_t(leaf.count) * size_t(k));
  leaf.refs.resize(size_t(leaf.count));
  for (int i = 0; i < leaf.count; ++i) {
    std::memcpy(leaf.keys.data() + size_t(i) * size_t(k), p->Key(i), size_t(k));
    leaf.refs[size_t(i)] = p->Ref(i);
  }
}

TWalk TIndexTree::Position(bool found, const TIndexEntry& e, TTreePosition& out) {
  out.entry = -1;
  if (!found) return TWalk::kNone;
  CopyLeaf(e.page, out.leaf);
  if (e.pos >= out.leaf.count) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  out.leaf.first_ordinal = e.ordinal - uint32_t(e.pos);
  out.entry = e.pos;
  return TWalk::kOk;
}

TWalk TIndexTree::First(TTreePosition& out) {
  return Walk([&] {
    TIndexEntry e;
    const bool found = First(e);
    return Position(found, e, out);
  });
}

TWalk TIndexTree::Last(TTreePosition& out) {
  return Walk([&] {
    TIndexEntry e;
    const bool found = Last(e);
    return Position(found, e, out);
  });
}

TWalk TIndexTree::FirstAtLeast(const uint8_t* key, TTreePosition& out) {
  return Walk([&] {
    TIndexEntry e;
    const bool found = SeekGE({key, size_t(shape_.key_length)}, e);
    return Position(found, e, out);
  });
}

TWalk TIndexTree::LastAtMost(const uint8_t* key, TTreePosition& out) {
  return Walk([&] {
    TIndexEntry e;
    const bool found = SeekLE({key, size_t(shape_.key_length)}, e);
    return Position(found, e, out);
  });
}

TWalk TIndexTree::Nth(uint32_t n, TTreePosition& out) {
  return Walk([&] {
    TIndexEntry e;
    const bool found = SeekOrdinal(n, e);
    return Position(found, e, out);
  });
}

TWalk TIndexTree::Next(TTreePosition& pos) {
  if (pos.entry + 1 < pos.leaf.count) {
    ++pos.entry;
    return TWalk::kOk;
  }
  if (pos.leaf.next == 0) return TWalk::kNone;
  return Walk([&] {
    TLeafCopy next;
    CopyLeaf(pos.leaf.next, next);
    // Both links must agree and the keys go on ascending: a damaged chain
    // (a cycle above all) must not walk for ever.
    if (next.prev != pos.leaf.page ||
        Cmp(next.Key(0), pos.leaf.Key(pos.leaf.count - 1)) <= 0)
      file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    next.first_ordinal = pos.leaf.first_ordinal + uint32_t(pos.leaf.count);
    pos.leaf = std::move(next);
    pos.entry = 0;
    return TWalk::kOk;
  });
}

TWalk TIndexTree::Prior(TTreePosition& pos) {
  if (pos.entry > 0) {
    --pos.entry;
    return TWalk::kOk;
  }
  if (pos.leaf.prev == 0) return TWalk::kNone;
  return Walk([&] {
    TLeafCopy prior;
    CopyLeaf(pos.leaf.prev, prior);
    if (prior.next != pos.leaf.page ||
        Cmp(prior.Key(prior.count - 1), pos.leaf.Key(0)) >= 0 ||
        uint32_t(prior.count) >= pos.leaf.first_ordinal)
      file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    prior.first_ordinal = pos.leaf.first_ordinal - uint32_t(prior.count);
    pos.leaf = std::move(prior);
    pos.entry = pos.leaf.count - 1;
    return TWalk::kOk;
  });
}

TWalk TIndexTree::Count(uint32_t& out) {
  out = 0;
  return Walk([&] {
    out = Count();
    return TWalk::kOk;
  });
}

// ---- mutations ------------------------------------------------------------

void TIndexTree::Insert(std::span<const uint8_t> key, int32_t slot) {
  if (TPendingKeys* pending = file_.Pending(index_)) {
    if (!pending->settling) {
      Settle();
      pending->NoteKey(key.data());
    }
  }
  for (;;) {
    try {
      InsertImpl(key.data(), slot);
      mutating_ = false;
      return;
    } catch (const TRestart&) {
      mutating_ = false;
    } catch (...) {
      mutating_ = false;
      throw;
    }
  }
}

void TIndexTree::Delete(std::span<const uint8_t> key) {
  if (file_.HasPending(index_)) Settle();
  for (;;) {
    try {
      DeleteImpl(key.data());
      mutating_ = false;
      return;
    } catch (const TRestart&) {
      mutating_ = false;
    } catch (...) {
      mutating_ = false;
      throw;
    }
  }
}

void TIndexTree::Replace(std::span<const uint8_t> old_key, std::span<const uint8_t> new_key,
                         int32_t slot) {
  Delete(old_key);
  Insert(new_key, slot);
}

void TIndexTree::InsertImpl(const uint8_t* key, int32_t slot) {
  std::vector<TLevel> path;
  InsertAlong(path, key, slot);
}

// Keys arrive in ascending order: the path of the last one still leads to
// the right leaf while each level's next separator lies above the key (the
// choice a descent would make), so only a path whose pages changed shape
// is walked again.
void TIndexTree::InsertAlong(std::vector<TLevel>& path, const uint8_t* key, int32_t slot) {
  bool along = !path.empty();
  for (size_t l = 0; along && l + 1 < path.size(); ++l) {
    const TPage* p = path[l].page.get();
    const int next = path[l].pos + 1;
    along = next >= p->count() || Cmp(p->Key(next), key) > 0;
  }
  if (!along) {
    path.clear();
    if (file_.Root(index_) == 0) {
      mutating_ = true;
      TPinnedPage p(&file_, file_.NewPage(index_));
      p->set_type(kPageRootLeaf);
      p->set_prev(0);
      p->set_next(0);
      p->Insert(0, key, slot, 0);
      Touch(p.get());
      file_.SetRoot(index_, p->number());
      return;
    }
    path = Descend(key, false, nullptr);
  }
  mutating_ = true;
  const int leaf = int(path.size()) - 1;
  for (int l = 0; l < leaf; ++l) {
    TPage* p = path[l].page.get();
    p->SetSubCount(path[l].pos, p->SubCount(path[l].pos) + 1);
    p->dirty = true;
  }
  TPage* lp = path[leaf].page.get();
  const int pos = UpperBound(lp, key);
  path[leaf].pos = pos;
  lp->Insert(pos, key, slot, 0);
  Touch(lp);
  const bool reshaped = pos == 0 || lp->OverFull();
  if (pos == 0) FixSeparators(path, leaf);
  if (lp->OverFull()) Split(path, leaf);
  if (reshaped) path.clear();
}

void TIndexTree::FixSeparators(std::vector<TLevel>& path, int level) {
  while (level > 0) {
    TPage* child = path[level].page.get();
    TPage* parent = path[level - 1].page.get();
    const int ppos = path[level - 1].pos;
    if (child->count() == 0) return;
    if (std::memcmp(parent->Key(ppos), child->Key(0), size_t(shape_.key_length)) == 0) return;
    parent->SetKey(ppos, child->Key(0));
    parent->dirty = true;
    if (ppos != 0) return;
    --level;
  }
}

void TIndexTree::Split(std::vector<TLevel>& path, int level) {
  TPage* p = path[level].page.get();
  const bool interior = p->IsInterior();
  const int n = p->count();
  TPinnedPage q(&file_, file_.NewPage(index_));
  p->MoveTailTo(n - n / 2, *q);
  p->set_type(interior ? kPageInterior : kPageLeaf);
  q->set_type(interior ? kPageInterior : kPageLeaf);
  q->set_prev(p->number());
  q->set_next(p->next());
  if (p->next() != 0) {
    TPinnedPage after = Fetch(p->next());
    if (after->prev() != p->number()) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    after->set_prev(q->number());
    after->dirty = true;
  }
  p->set_next(q->number());
  Touch(p);
  Touch(q.get());
  if (p->IsCompressedLeaf()) {
    if (p->body_size() > kPageBodySize) {
      while (p->body_size() > kPageBodySize && p->count() > 1) {
        const int last = p->count() - 1;
        q->Insert(0, p->Key(last), p->Ref(last), 0);
        p->Remove(last);
        p->Recount();
        q->Recount();
      }
      if (q->body_size() > kPageBodySize) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    } else {
      while (q->body_size() > kPageBodySize && q->count() > 1) {
        p->Insert(p->count(), q->Key(0), q->Ref(0), 0);
        q->Remove(0);
        p->Recount();
        q->Recount();
      }
      if (p->body_size() > kPageBodySize) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
    }
  }
  if (level == 0) {
    TPinnedPage r(&file_, file_.NewPage(index_));
    r->set_type(kPageRootInterior);
    r->set_prev(0);
    r->set_next(0);
    r->Insert(0, p->Key(0), p->number(), p->Total());
    r->Insert(1, q->Key(0), q->number(), q->Total());
    r->dirty = true;
    file_.SetRoot(index_, r->number());
    return;
  }
  TPage* parent = path[level - 1].page.get();
  const int ppos = path[level - 1].pos;
  parent->SetSubCount(ppos, p->Total());
  parent->Insert(ppos + 1, q->Key(0), q->number(), q->Total());
  parent->dirty = true;
  if (parent->OverFull()) Split(path, level - 1);
}

void TIndexTree::DeleteImpl(const uint8_t* key) {
  if (file_.Root(index_) == 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  auto path = Descend(key, false, nullptr);
  const int leaf = int(path.size()) - 1;
  TPage* lp = path[leaf].page.get();
  const int pos = LowerBound(lp, key);
  if (pos >= lp->count() || Cmp(lp->Key(pos), key) != 0) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  mutating_ = true;
  for (int l = 0; l < leaf; ++l) {
    TPage* p = path[l].page.get();
    p->SetSubCount(path[l].pos, p->SubCount(path[l].pos) - 1);
    p->dirty = true;
  }
  path[leaf].pos = pos;
  lp->Remove(pos);
  Touch(lp);
  if (pos == 0 && lp->count() > 0) FixSeparators(path, leaf);
  // With full compression the entry after the removed one may lose its
  // shared prefix and the leaf grow past its page.
  if (lp->OverFull()) {
    Split(path, leaf);
    return;
  }
  Rebalance(path, leaf);
}

// Removes the entry of path[level]'s page from its parent (the page itself
// has been freed) and rebalances the parent.
void TIndexTree::RemoveChildEntry(std::vector<TLevel>& path, int level) {
  TPage* parent = path[level - 1].page.get();
  const int ppos = path[level - 1].pos;
  parent->Remove(ppos);
  parent->dirty = true;
  if (ppos == 0 && parent->count() > 0) FixSeparators(path, level - 1);
  Rebalance(path, level - 1);
}

void TIndexTree::Rebalance(std::vector<TLevel>& path, int level) {
  TPage* p = path[level].page.get();
  if (level == 0) {
    if (p->IsLeaf() || p->count() == 0) {
      if (p->count() == 0) {
        file_.FreePage(p);
        file_.SetRoot(index_, 0);
      }
      return;
    }
    // A root with a single child hands the root over to it.
    while (p->IsInterior() && p->count() == 1) {
      TPinnedPage child = Fetch(p->Ref(0));
      if (child->freed || child->IsRoot()) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
      file_.FreePage(p);
      child->set_type(child->IsLeaf() ? kPageRootLeaf : kPageRootInterior);
      child->set_prev(0);
      child->set_next(0);
      child->dirty = true;
      file_.SetRoot(index_, child->number());
      path[0].page = std::move(child);
      p = path[0].page.get();
    }
    return;
  }

  if (p->IsCompressedLeaf()) {
    if (p->count() > 0) return;
    // Unlink the empty leaf and drop it.
    if (p->prev() != 0) {
      TPinnedPage b = Fetch(p->prev());
      b->set_next(p->next());
      b->dirty = true;
    }
    if (p->next() != 0) {
      TPinnedPage a = Fetch(p->next());
      a->set_prev(p->prev());
      a->dirty = true;
    }
    file_.FreePage(p);
    RemoveChildEntry(path, level);
    return;
  }

  const int max = p->MaxEntries();
  if (p->count() >= max / 2) return;
  TPage* parent = path[level - 1].page.get();
  const int ppos = path[level - 1].pos;
  // Siblings are taken under the same parent only; a lone child waits for
  // its parent to be rebalanced.
  if (parent->count() < 2) return;
  const bool use_next = ppos == 0;
  const int spos = use_next ? ppos + 1 : ppos - 1;
  TPinnedPage s = Fetch(parent->Ref(spos));
  if (s->freed || s->IsRoot() || s->IsLeaf() != p->IsLeaf()) file_.RaiseIndex(CAIRN_INDEXCORRUPT);
  if (use_next ? (p->next() != s->number() || s->prev() != p->number())
               : (p->prev() != s->number() || s->next() != p->number()))
    file_.RaiseIndex(CAIRN_INDEXCORRUPT);

  if (p->count() + s->count() < max) {
    if (use_next) {
      p->MoveAllToFront(*s);
      s->set_prev(p->prev());
      if (p->prev() != 0) {
        TPinnedPage b = Fetch(p->prev());
        b->set_next(s->number());
        b->dirty = true;
      }
      parent->SetSubCount(spos, s->Total());
      parent->SetKey(spos, s->Key(0));
    } else {
      p->MoveTailTo(0, *s);
      s->set_next(p->next());
      if (p->next() != 0) {
        TPinnedPage a = Fetch(p->next());
        a->set_prev(s->number());
        a->dirty = true;
      }
      parent->SetSubCount(spos, s->Total());
    }
    s->dirty = true;
    file_.FreePage(p);
    RemoveChildEntry(path, level);
    return;
  }

  // Redistribute: P keeps floor(total / 2), the left page takes the first part.
  TPage* left = use_next ? p : s.get();
  TPage* right = use_next ? s.get() : p;
  const int total = p->count() + s->count();
  const int left_count = use_next ? total / 2 : (total + 1) / 2;
  if (left->count() > left_count) {
    while (left->count() > left_count) {
      const int last = left->count() - 1;
      right->Insert(0, left->Key(last), left->Ref(last), left->SubCount(last));
      left->Remove(last);
    }
  } else {
    while (left->count() < left_count) {
      left->Insert(left->count(), right->Key(0), right->Ref(0), right->SubCount(0));
      right->Remove(0);
    }
  }
  left->dirty = right->dirty = true;
  const int lpos = use_next ? ppos : spos;
  parent->SetKey(lpos, left->Key(0));
  parent->SetSubCount(lpos, left->Total());
  parent->SetKey(lpos + 1, right->Key(0));
  parent->SetSubCount(lpos + 1, right->Total());
  parent->dirty = true;
  if (lpos == 0) {
    // The left page's first key may have changed: carry it up.
    path[level - 1].pos = ppos;
    FixSeparators(path, level - 1);
  }
}

}  // namespace cairn
