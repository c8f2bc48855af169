#include "storage/access/index_check.h"

#include <cstring>
#include <unordered_map>

#include "storage/base/engine_error.h"
#include "storage/access/index_tree.h"

namespace cairn {

namespace {

struct TExpect {
  int32_t page;
  std::vector<uint8_t> first_key;  // empty for the root
  uint32_t total;                  // subtree count from the parent (if counted)
};

class TChecker {
 public:
  TChecker(TIndexFile& file, TIndexCheckResult& out)
      : file_(file), out_(out) {}

  void Run() {
    for (int i = 0; i < kIndexCount; ++i) {
      if (i > file_.secondary_count() && i < kStatusIndex) continue;
      const TIndexDescriptor d = file_.Descriptor(i);
      if (d.temporary) continue;
      const size_t before = out_.faults.size();
      if (d.root != 0) CheckTree(i, d.root);
      if (i == kStatusIndex) status_faults_ = out_.faults.size() - before;
    }
    for (int i = 0; i < kIndexCount; ++i) {
      if (i > file_.secondary_count() && i < kStatusIndex) continue;
      const TIndexDescriptor d = file_.Descriptor(i);
      if (d.temporary) continue;
      CheckFreeList(i, d.free_head);
    }
    CheckActiveCount();
    file_.TrimCache();
  }

 private:
  void Fault(int index, const std::string& what) {
    out_.faults.push_back("index " + std::to_string(index) + " (" + Name(index) + "): " + what);
  }
  std::string Name(int index) {
    if (index == 0) return "primary";
    return file_.Descriptor(index).name;
  }

  // Fetches a page for checking; nullptr (with a fault) when it cannot be.
  TPinnedPage Get(int index, int32_t page) {
    if (page <= 0 || page >= file_.NextPage(index)) {
      Fault(index, "page " + std::to_string(page) + " out of range");
      return {};
    }
    try {
      TPage* p = file_.GetPage(index, page);
      if (!p) {
        Fault(index, "table changed by another process during the check");
        return {};
      }
      ++out_.pages_visited;
      return TPinnedPage(&file_, p);
    } catch (const ECairnEngineError& e) {
      Fault(index, "page " + std::to_string(page) + " unreadable: " + e.text());
      return {};
    }
  }

  bool Claim(int index, int32_t page, const char* what) {
    // Only pages actually reached are recorded: a damaged header may claim
    // up to two billion pages.
    const auto [it, fresh] = owner_.emplace(page, int8_t(index));
    if (!fresh) {
      Fault(index, std::string(what) + " page " + std::to_string(page) + " already used by index " +
                       std::to_string(it->second));
      return false;
    }
    return true;
  }

  void CheckTree(int index, int32_t root) {
    const TKeyLayout& layout = file_.Layout(index);
    const TPageShape& shape = file_.Shape(index);
    const int k = shape.key_length;
    std::vector<TExpect> level{{root, {}, 0}};
    uint64_t leaf_keys = 0;
    uint32_t root_total = 0;
    for (int depth = 0; !level.empty(); ++depth) {
      if (depth >= kMaxTreeDepth) {
        Fault(index, "tree deeper than 64 levels");
        return;
      }
      std::vector<TExpect> below;
      std::vector<uint8_t> last_key;
      int kind = -1;  // 0 interior, 1 leaf
      for (size_t j = 0; j < level.size(); ++j) {
        const TExpect& e = level[j];
        if (!Claim(index, e.page, "tree")) return;
        TPinnedPage p = Get(index, e.page);
        if (!p) return;
        const std::string where = "page " + std::to_string(e.page) + ": ";
        const uint8_t type = p->type();
        const bool ok_type = depth == 0 ? (type == kPageRootInterior || type == kPageRootLeaf)
                                        : (type == kPageInterior || type == kPageLeaf);
        if (!ok_type || p->freed) {
          Fault(index, where + "page type " + std::to_string(type) + " at depth " +
                           std::to_string(depth) + (p->freed ? " (an empty page)" : ""));
          return;
        }
        const int this_kind = p->IsLeaf() ? 1 : 0;
        if (kind != -1 && kind != this_kind) {
          Fault(index, where + "leaves and interior pages mixed on one level");
          return;
        }
        kind = this_kind;
        if (p->count() == 0) {
          Fault(index, where + "no entries");
          return;
        }
        if (p->OverFull()) Fault(index, where + "more entries than a page holds");
        // Sibling links.
        const int32_t want_prev = j == 0 ? 0 : level[j - 1].page;
        const int32_t want_next = j + 1 == level.size() ? 0 : level[j + 1].page;
        if (p->prev() != want_prev)
          Fault(index, where + "previous link " + std::to_string(p->prev()) + ", expected " +
                           std::to_string(want_prev));
        if (p->next() != want_next)
          Fault(index, where + "next link " + std::to_string(p->next()) + ", expected " +
                           std::to_string(want_next));
        // Separator and count from the parent.
        if (depth > 0) {
          if (std::memcmp(p->Key(0), e.first_key.data(), size_t(k)) != 0)
            Fault(index, where + "separator key differs from the page's first key");
          if (!shape.no_counts && p->Total() != e.total)
            Fault(index, where + "subtree count " + std::to_string(e.total) + ", page holds " +
                             std::to_string(p->Total()));
        } else {
          root_total = p->Total();
        }
        // Key order.
        for (int i = 0; i < p->count(); ++i) {
          const uint8_t* key = p->Key(i);
          if (!last_key.empty()) {
            const int c = layout.Compare(last_key.data(), key);
            if (c > 0) Fault(index, where + "key " + std::to_string(i) + " out of order");
            if (c == 0)
              Fault(index, where + "key " + std::to_string(i) + " duplicates its predecessor");
          }
          last_key.assign(key, key + k);
          if (!p->IsLeaf()) below.push_back({p->Ref(i), last_key, p->SubCount(i)});
        }
        if (p->IsLeaf()) leaf_keys += uint64_t(p->count());
        if (out_.faults.size() > 200) return;
      }
      level = std::move(below);
    }
    if (!shape.no_counts && leaf_keys != root_total)
      Fault(index, "root counts " + std::to_string(root_total) + " keys, leaves hold " +
                       std::to_string(leaf_keys));
  }

  void CheckFreeList(int index, int32_t head) {
    int32_t p = head;
    while (p != 0) {
      if (p < 0 || p >= file_.NextPage(index)) {
        Fault(index, "free list reaches page " + std::to_string(p) + " out of range");
        return;
      }
      if (!Claim(index, p, "free")) return;  // a cycle or a page of a tree
      TPinnedPage page = Get(index, p);
      if (!page) return;
      if (page->count() != 0) {
        Fault(index, "free page " + std::to_string(p) + " holds entries");
        return;
      }
      p = page->next();
    }
  }

  void CheckActiveCount() {
    // Active records are the status keys whose first byte is 0.
    const TIndexDescriptor d = file_.Descriptor(kStatusIndex);
    if (d.root == 0) {
      if (file_.active_count() != 0)
        out_.faults.push_back("active record count " + std::to_string(file_.active_count()) +
                              " but the record-status index is empty");
      return;
    }
    if (status_faults_ != 0) return;  // the tree itself is broken; counting means nothing
    try {
      TIndexTree tree(file_, kStatusIndex);
      const uint8_t first_deleted[kStatusKeyLength] = {1, 0, 0, 0, 0};
      TIndexEntry e;
      const uint32_t active = tree.SeekGE(first_deleted, e) ? e.ordinal - 1 : tree.Count();
      if (int64_t(active) != file_.active_count())
        out_.faults.push_back("active record count " + std::to_string(file_.active_count()) +
                              ", record-status index lists " + std::to_string(active) +
                              " active records");
    } catch (const ECairnEngineError& e) {
      out_.faults.push_back(std::string("record-status index unreadable: ") + e.text());
    }
  }

  TIndexFile& file_;
  TIndexCheckResult& out_;
  std::unordered_map<int32_t, int8_t> owner_;
  size_t status_faults_ = 0;
};

}  // namespace

TIndexCheckResult CheckIndexFile(TIndexFile& file) {
  TIndexCheckResult result;
  TChecker(file, result).Run();
  return result;
}

}  // namespace cairn
