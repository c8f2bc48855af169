#include "storage/access/index_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <random>

#include "storage/access/index_tree.h"
#include "storage/base/engine_error.h"
#include "storage/files/file_list.h"
#include "storage/files/scramble.h"

namespace cairn {

namespace {

std::span<uint8_t, hdr::kDescriptorSize> DescBytes(std::array<uint8_t, kIndexPageSize>& h, int i) {
  return std::span<uint8_t, hdr::kDescriptorSize>(h.data() + hdr::DescriptorOffset(i),
                                                  hdr::kDescriptorSize);
}
std::span<const uint8_t, hdr::kDescriptorSize> DescBytes(
    const std::array<uint8_t, kIndexPageSize>& h, int i) {
  return std::span<const uint8_t, hdr::kDescriptorSize>(h.data() + hdr::DescriptorOffset(i),
                                                        hdr::kDescriptorSize);
}

}  // namespace

std::string TrimUpper(std::string_view name) {
  size_t b = 0, e = name.size();
  while (b < e && name[b] == ' ') ++b;
  while (e > b && name[e - 1] == ' ') --e;
  std::string out(name.substr(b, e - b));
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool IsValidIndexName(std::string_view name) {
  const std::string n = TrimUpper(name);
  if (n.empty() || n.size() > 30) return false;
  auto letter = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 128 && c <= 254);
  };
  if (!letter(static_cast<unsigned char>(n[0]))) return false;
  for (unsigned char c : n)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != ' ') return false;
  return true;
}

TIndexFile::TIndexFile(TIndexTableInfo info) : info_(std::move(info)) {
  header_ = NewIndexHeader();
  locale_ = TTableLocale::ForLcid(info_.locale);
}

TIndexFile::~TIndexFile() {
  try {
    if (is_open() || scratch_) CloseIndexFile();
  } catch (...) {
  }
}

void TIndexFile::RaiseIndex(uint16_t code) const { RaiseEngineError(code, info_.table_name); }

size_t TIndexFile::CacheTarget() const {
  return std::max<size_t>(1, (info_.index_buffer_size + 8191) / 8192);
}

void TIndexFile::CreateIndexFile() {
  DropAllPages(false, false);
  header_ = NewIndexHeader();
  SetModified();
  Create();
  RebuildLayouts();
  WriteHeader(true);
}

void TIndexFile::OpenIndexFile() {
  Open();
  std::array<uint8_t, kIndexPageSize> h{};
  const int64_t got = ReadAt(0, h.data(), kIndexPageSize, true);
  if (got != kIndexPageSize) {
    Close();
    RaiseIndex(got > hdr::kSignature && h[hdr::kSignature] != kIndexSignature
                   ? CAIRN_OLDVERSION
                   : CAIRN_HEADERCORRUPT);
  }
  if (info_.encrypted) Scramble(h.data(), h.size(), kBufferSeed);
  header_ = h;
  header_modified_ = false;
  header_[hdr::kModified] = 0;
  try {
    if (info_.locale != 0 && !locale_) RaiseIndex(CAIRN_CANNOTLOADLDDRV);
    ValidateHeader();
    RebuildLayouts();
  } catch (...) {
    Close();
    throw;
  }
  stats_ = {};
  for (auto& c : caches_) c.capacity = CacheTarget();
}

void TIndexFile::CloseIndexFile() {
  DropTemporaryIndexes();
  DropAllPages(false, false);
  stats_ = {};
  if (is_open()) Close();
}

void TIndexFile::DropTemporaryIndexes() {
  int count = secondary_count();
  while (count > 0 && IsTemporary(count)) {
    TCache& c = caches_[count];
    for (TPage* p : c.list) {
      if (p->pins > 0)
        p->orphan = true;
      else
        pool_.Give(p);
    }
    c = TCache{};
    std::fill(DescBytes(header_, count).begin(), DescBytes(header_, count).end(), uint8_t{0});
    --count;
  }
  header_[hdr::kSecondaryCount] = uint8_t(count);
  if (scratch_) {
    const std::string name = scratch_->file_name();
    const bool memory = scratch_->in_memory();
    scratch_->Close();
    scratch_.reset();
    std::error_code ec;
    if (memory) {
      TFileList::Instance().Delete(name, true);
    } else {
      std::filesystem::remove(name, ec);
    }
  }
  scratch_next_ = 1;
}

bool TIndexFile::IsTemporary(int index) const {
  return index >= 1 && index <= kMaxSecondaryIndexes &&
         header_[hdr::DescriptorOffset(index) + desc::kTemporary] != 0;
}

bool TIndexFile::WriteHeader(bool force) {
  if (!force && !header_modified_) return false;
  le::PutU32(&header_[hdr::kChangeCounter], change_counter() + 1);
  std::array<uint8_t, kIndexPageSize> copy = header_;
  int count = copy[hdr::kSecondaryCount];
  for (int i = count; i >= 1; --i) {
    if (!IsTemporary(i)) continue;
    std::fill(DescBytes(copy, i).begin(), DescBytes(copy, i).end(), uint8_t{0});
    --count;
  }
  copy[hdr::kSecondaryCount] = uint8_t(count);
  if (info_.encrypted) Scramble(copy.data(), copy.size(), kBufferSeed);
  WriteAt(0, copy.data(), kIndexPageSize);
  header_modified_ = false;
  header_[hdr::kModified] = 0;
  return true;
}

bool TIndexFile::HeaderChanged() {
  std::array<uint8_t, kIndexPageSize> h{};
  if (ReadAt(0, h.data(), kIndexPageSize, true) != kIndexPageSize) RaiseIndex(CAIRN_HEADERCORRUPT);
  if (info_.encrypted) Scramble(h.data(), h.size(), kBufferSeed);
  return le::U32(h.data()) != change_counter();
}

bool TIndexFile::ReReadHeader(bool force) {
  std::array<uint8_t, kIndexPageSize> h{};
  if (ReadAt(0, h.data(), kIndexPageSize, true) != kIndexPageSize) RaiseIndex(CAIRN_HEADERCORRUPT);
  if (info_.encrypted) Scramble(h.data(), h.size(), kBufferSeed);
  if (!force && le::U32(h.data()) == change_counter()) return false;
  // Keep this process's temporary descriptors (and their pages) after the
  // permanent ones of the new header.
  std::vector<std::pair<std::array<uint8_t, hdr::kDescriptorSize>, TCache>> temps;
  for (int i = 1; i <= secondary_count(); ++i) {
    if (!IsTemporary(i)) continue;
    std::array<uint8_t, hdr::kDescriptorSize> d{};
    std::copy(DescBytes(header_, i).begin(), DescBytes(header_, i).end(), d.begin());
    temps.emplace_back(d, std::move(caches_[i]));
    caches_[i] = TCache{};
  }
  DropAllPages(false, true);
  const std::array<uint8_t, kIndexPageSize> old = header_;
  header_ = h;
  int count = header_[hdr::kSecondaryCount];
  if (count + int(temps.size()) > kMaxSecondaryIndexes) {
    header_ = old;
    RaiseIndex(CAIRN_HEADERCORRUPT);
  }
  for (auto& [d, cache] : temps) {
    ++count;
    std::copy(d.begin(), d.end(), DescBytes(header_, count).begin());
    caches_[count] = std::move(cache);
    for (TPage* p : caches_[count].list) p->set_index(uint8_t(count));
  }
  header_[hdr::kSecondaryCount] = uint8_t(count);
  header_modified_ = false;
  header_[hdr::kModified] = 0;
  ValidateHeader();
  RebuildLayouts();
  return true;
}

void TIndexFile::EmptyIndexes() {
  DropAllPages(false, false);
  le::PutI32(&header_[hdr::kNextPage], 1);
  for (int i = 0; i < kIndexCount; ++i) {
    const int base = hdr::DescriptorOffset(i);
    le::PutI32(&header_[base + desc::kRoot], 0);
    le::PutI32(&header_[base + desc::kFreeHead], 0);
    le::PutI32(&header_[base + desc::kParamPage], 0);
  }
  scratch_next_ = 1;
  if (scratch_) scratch_->Truncate(0);
  Truncate(kIndexPageSize);
  SetActiveCount(0);
  SetModified();
}

// ---- validation -----------------------------------------------------------

void TIndexFile::ValidateHeader() {
  const auto& h = header_;
  if (h[hdr::kSignature] != kIndexSignature) RaiseIndex(CAIRN_OLDVERSION);
  const int count = h[hdr::kSecondaryCount];
  // Slots 31 and 32 hold the fixed indexes, so at most 30 can be secondary.
  if (count > kMaxSecondaryIndexes) RaiseIndex(CAIRN_HEADERCORRUPT);
  const int32_t next = le::I32(&h[hdr::kNextPage]);
  if (next < 1 || next > kMaxIndexPage + 1) RaiseIndex(CAIRN_HEADERCORRUPT);
  const bool no_pk = h[hdr::kNoPrimaryKey] != 0;

  std::vector<std::string> names;
  for (int i = 0; i <= count; ++i) {
    const TIndexDescriptor d = TIndexDescriptor::Decode(DescBytes(h, i));
    if (d.temporary) continue;  // our own, checked when added
    if (i == 0) {
      if (!d.name.empty()) RaiseIndex(CAIRN_HEADERCORRUPT);
      if (!d.unique && !no_pk) RaiseIndex(CAIRN_HEADERCORRUPT);
    } else {
      if (!IsValidIndexName(d.name)) RaiseIndex(CAIRN_HEADERCORRUPT);
      const std::string up = TrimUpper(d.name);
      if (std::find(names.begin(), names.end(), up) != names.end()) RaiseIndex(CAIRN_HEADERCORRUPT);
      names.push_back(up);
    }
    if (d.field_count > kMaxKeyFields || d.compression > kCompressFull)
      RaiseIndex(CAIRN_HEADERCORRUPT);
    for (int f = 0; f < kMaxKeyFields; ++f) {
      const bool used = f < d.field_count;
      if (used != (d.fields[f] != 0)) RaiseIndex(CAIRN_HEADERCORRUPT);
    }
    TKeyLayout layout;
    if (!TKeyLayout::Build(i, d, info_.fields, nullptr, layout)) RaiseIndex(CAIRN_HEADERCORRUPT);
    const bool empty_ok = i == 0 && no_pk;
    if (layout.segment_bytes() > kMaxKeySegments) RaiseIndex(CAIRN_HEADERCORRUPT);
    if (layout.segment_bytes() == 0 && !empty_ok) RaiseIndex(CAIRN_HEADERCORRUPT);
    if (layout.segment_bytes() > 0 && d.key_length != layout.key_length())
      RaiseIndex(CAIRN_HEADERCORRUPT);
  }
  // The fixed indexes keep their key lengths; the text index may only name
  // string fields or memos.
  const TIndexDescriptor status = TIndexDescriptor::Decode(DescBytes(h, kStatusIndex));
  const TIndexDescriptor text = TIndexDescriptor::Decode(DescBytes(h, kTextIndex));
  if (status.key_length != kStatusKeyLength || text.key_length != kTextKeyLength ||
      status.compression > kCompressFull || text.compression > kCompressFull ||
      text.field_count > kMaxKeyFields)
    RaiseIndex(CAIRN_HEADERCORRUPT);
  for (int f = 0; f < text.field_count; ++f) {
    const auto it = std::find_if(info_.fields.begin(), info_.fields.end(),
                                 [&](const TKeyField& k) { return k.number == text.fields[f]; });
    if (it == info_.fields.end()) RaiseIndex(CAIRN_HEADERCORRUPT);
    if (!(it->type == 1 || (it->type == 3 && (it->subtype == 22 || it->subtype == 24))))
      RaiseIndex(CAIRN_HEADERCORRUPT);
  }
  auto page_ok = [&](int32_t p) { return p == 0 || (p >= 1 && p < next); };
  for (int i = 0; i < kIndexCount; ++i) {
    if (i > count && i < kStatusIndex) continue;
    const TIndexDescriptor d = TIndexDescriptor::Decode(DescBytes(h, i));
    if (d.temporary) continue;
    if (!page_ok(d.root) || !page_ok(d.free_head) || !page_ok(d.param_page))
      RaiseIndex(CAIRN_HEADERCORRUPT);
  }
}

void TIndexFile::RebuildLayouts() {
  const int count = secondary_count();
  for (int i = 0; i < kIndexCount; ++i) {
    layouts_[i] = TKeyLayout();
    shapes_[i] = TPageShape();
    if (i > count && i < kStatusIndex) continue;
    const TIndexDescriptor d = TIndexDescriptor::Decode(DescBytes(header_, i));
    if (i == kStatusIndex) {
      layouts_[i] = TKeyLayout::ForStatus();
    } else if (i == kTextIndex) {
      layouts_[i] = TKeyLayout::ForText(locale_);
    } else if (!TKeyLayout::Build(i, d, info_.fields, locale_, layouts_[i])) {
      RaiseIndex(CAIRN_HEADERCORRUPT);
    }
    shapes_[i].key_length = d.key_length;
    shapes_[i].unique = i == kStatusIndex ? true : d.unique;
    shapes_[i].no_counts = d.no_counts || i == kTextIndex;
    shapes_[i].compression = d.compression;
  }
}

// ---- descriptors ----------------------------------------------------------

TIndexDescriptor TIndexFile::Descriptor(int index) const {
  return TIndexDescriptor::Decode(DescBytes(header_, index));
}

bool TIndexFile::IndexInUse(int index) const {
  if (index == kStatusIndex) return true;
  if (index == kTextIndex)
    return header_[hdr::DescriptorOffset(kTextIndex) + desc::kFieldCount] != 0;
  if (index == 0) return !no_primary_key() && shapes_[0].key_length > 0;
  return index >= 1 && index <= secondary_count();
}

int32_t TIndexFile::Root(int index) const {
  return le::I32(&header_[hdr::DescriptorOffset(index) + desc::kRoot]);
}
void TIndexFile::SetRoot(int index, int32_t page) {
  le::PutI32(&header_[hdr::DescriptorOffset(index) + desc::kRoot], page);
  SetModified();
}
int32_t TIndexFile::FreeHead(int index) const {
  return le::I32(&header_[hdr::DescriptorOffset(index) + desc::kFreeHead]);
}
void TIndexFile::SetFreeHead(int index, int32_t page) {
  le::PutI32(&header_[hdr::DescriptorOffset(index) + desc::kFreeHead], page);
  SetModified();
}
int32_t TIndexFile::NextPage(int index) const {
  return IsTemporary(index) ? scratch_next_ : le::I32(&header_[hdr::kNextPage]);
}
void TIndexFile::SetActiveCount(int32_t n) {
  le::PutI32(&header_[hdr::kActiveCount], n);
  SetModified();
}
void TIndexFile::SetNoPrimaryKey(bool value) {
  // Waiting keys and filters belong to the numbers and layouts of now.
  SettleAll();
  ResetPending();
  header_[hdr::kNoPrimaryKey] = value ? 1 : 0;
  RebuildLayouts();
  SetModified();
}

int TIndexFile::FindSecondary(std::string_view name) const {
  const std::string want = TrimUpper(name);
  for (int i = 1; i <= secondary_count(); ++i)
    if (TrimUpper(Descriptor(i).name) == want) return i;
  return -1;
}

void TIndexFile::StoreDescriptor(int index, const TIndexDescriptor& d) {
  d.Encode(DescBytes(header_, index));
  SetModified();
}

void TIndexFile::CheckDefinition(TIndexDescriptor& d, bool primary, int replacing) {
  if (d.field_count > kMaxKeyFields) RaiseIndex(CAIRN_INDEXLIMIT);
  if (!primary) {
    if (TrimUpper(d.name).empty()) RaiseIndex(CAIRN_INDEXNAMEREQUIRED);
    if (!IsValidIndexName(d.name))
      RaiseEngineError(CAIRN_INVALIDINDEXNAME, d.name, info_.table_name);
    const int other = FindSecondary(d.name);
    if (other >= 0 && other != replacing)
      RaiseEngineError(CAIRN_INDEXEXISTS, d.name, info_.table_name);
  }
  for (int f = 0; f < kMaxKeyFields; ++f)
    if (f >= d.field_count) d.fields[f] = 0, d.field_descending[f] = 0;
  for (int f = 0; f < d.field_count; ++f) {
    const auto it = std::find_if(info_.fields.begin(), info_.fields.end(),
                                 [&](const TKeyField& k) { return k.number == d.fields[f]; });
    if (it == info_.fields.end())
      RaiseEngineError(CAIRN_INVALIDIDXDESC,
                       {std::to_string(d.fields[f]), d.name, info_.table_name});
    if (it->IsBlob()) RaiseEngineError(CAIRN_SEARCHCOLREQD, {it->name, d.name, info_.table_name});
  }
  if (d.compression > kCompressFull) RaiseEngineError(CAIRN_INVALIDKEY, d.name, info_.table_name);
  TKeyLayout layout;
  TKeyLayout::Build(0, d, info_.fields, nullptr, layout);
  if (layout.segment_bytes() == 0 || layout.segment_bytes() > kMaxKeySegments)
    RaiseEngineError(CAIRN_INVALIDKEY, d.name, info_.table_name);
  d.key_length = int16_t(layout.key_length());
  d.root = d.free_head = d.param_page = 0;
}

void TIndexFile::AddPrimaryIndex(TIndexDescriptor d) {
  const TIndexDescriptor cur = Descriptor(0);
  if (cur.field_count > 0) RaiseIndex(CAIRN_PRIMARYKEYREDEFINE);
  d.name.clear();
  d.unique = true;
  d.temporary = false;
  CheckDefinition(d, true, -1);
  StoreDescriptor(0, d);
  header_[hdr::kNoPrimaryKey] = 0;
  RebuildLayouts();
}

int TIndexFile::AddSecondaryIndex(TIndexDescriptor d) {
  // Waiting keys and filters belong to the numbers and layouts of now.
  SettleAll();
  ResetPending();
  int count = secondary_count();
  if (count >= kMaxSecondaryIndexes) RaiseIndex(CAIRN_INDEXLIMIT);
  CheckDefinition(d, false, -1);
  // Temporary indexes stay last: a permanent one goes before them.
  int at = count + 1;
  if (!d.temporary)
    while (at > 1 && IsTemporary(at - 1)) --at;
  for (int i = count; i >= at; --i) {
    std::copy(DescBytes(header_, i).begin(), DescBytes(header_, i).end(),
              DescBytes(header_, i + 1).begin());
    caches_[i + 1] = std::move(caches_[i]);
    caches_[i] = TCache{};
    for (TPage* p : caches_[i + 1].list) p->set_index(uint8_t(i + 1));
  }
  caches_[at].capacity = CacheTarget();
  header_[hdr::kSecondaryCount] = uint8_t(count + 1);
  StoreDescriptor(at, d);
  if (d.temporary) EnsureScratch();
  RebuildLayouts();
  return at;
}

void TIndexFile::ReplaceDescriptor(int index, const TIndexDescriptor& in) {
  // Waiting keys and filters belong to the numbers and layouts of now.
  SettleAll();
  ResetPending();
  TIndexDescriptor d = in;
  if (index == 0) {
    d.name.clear();
    d.unique = true;
  }
  if (index <= kMaxSecondaryIndexes) {
    const TIndexDescriptor cur = Descriptor(index);
    CheckDefinition(d, index == 0, index);
    d.root = in.root;
    d.free_head = in.free_head;
    d.param_page = in.param_page;
    d.temporary = cur.temporary;
  }
  StoreDescriptor(index, d);
  RebuildLayouts();
}

void TIndexFile::RemoveSecondaryIndex(int index) {
  // Waiting keys and filters belong to the numbers and layouts of now.
  SettleAll();
  ResetPending();
  const int count = secondary_count();
  if (index == 0) RaiseIndex(CAIRN_INVALIDINDEXDELETE);
  if (index < 1 || index > count) RaiseEngineError(CAIRN_INVALIDINDEXNAME, "", info_.table_name);
  for (TPage* p : caches_[index].list) {
    if (p->pins > 0)
      p->orphan = true;
    else
      pool_.Give(p);
  }
  caches_[index] = TCache{};
  for (int i = index; i < count; ++i) {
    std::copy(DescBytes(header_, i + 1).begin(), DescBytes(header_, i + 1).end(),
              DescBytes(header_, i).begin());
    caches_[i] = std::move(caches_[i + 1]);
    caches_[i + 1] = TCache{};
    for (TPage* p : caches_[i].list) p->set_index(uint8_t(i));
  }
  std::fill(DescBytes(header_, count).begin(), DescBytes(header_, count).end(), uint8_t{0});
  header_[hdr::kSecondaryCount] = uint8_t(count - 1);
  SetModified();
  RebuildLayouts();
}

void TIndexFile::EnsureScratch() {
  if (scratch_) return;
  // An in-memory table's scratch pages stay in memory beside it.
  std::string dir =
      in_memory() ? std::filesystem::path(file_name()).parent_path().string() : info_.private_dir;
  if (dir.empty()) dir = ".";
  std::random_device rd;
  for (int attempt = 0; attempt < 16 && !scratch_; ++attempt) {
    const std::string name =
        (std::filesystem::path(dir) / ("_cairn_tmpidx_" + std::to_string(rd()) + ".IDX")).string();
    auto f = std::make_unique<TFileHandler>(name);
    f->set_in_memory(in_memory());
    if (f->Exists()) continue;
    f->set_temporary(true);
    f->Create();
    scratch_ = std::move(f);
  }
  if (!scratch_) RaiseIndex(CAIRN_WRITEERR);
  scratch_next_ = 1;
}

TFileHandler& TIndexFile::StorageFor(int index) {
  if (IsTemporary(index)) {
    EnsureScratch();
    return *scratch_;
  }
  return *this;
}

// ---- page cache -----------------------------------------------------------

void TIndexFile::MruUnlink(TCache& c, TPage* p) {
  if (p->mru_prev)
    p->mru_prev->mru_next = p->mru_next;
  else
    c.head = p->mru_next;
  if (p->mru_next)
    p->mru_next->mru_prev = p->mru_prev;
  else
    c.tail = p->mru_prev;
  p->mru_prev = p->mru_next = nullptr;
}

void TIndexFile::MruPushFront(TCache& c, TPage* p) {
  p->mru_prev = nullptr;
  p->mru_next = c.head;
  if (c.head) c.head->mru_prev = p;
  c.head = p;
  if (!c.tail) c.tail = p;
}

void TIndexFile::CacheInsert(int index, TPage* p) {
  TCache& c = caches_[index];
  auto it = std::lower_bound(c.list.begin(), c.list.end(), p->number(),
                             [](const TPage* a, int32_t n) { return a->number() < n; });
  c.list.insert(it, p);
  MruPushFront(c, p);
}

void TIndexFile::CacheRemove(int index, TPage* p) {
  TCache& c = caches_[index];
  auto it = std::lower_bound(c.list.begin(), c.list.end(), p->number(),
                             [](const TPage* a, int32_t n) { return a->number() < n; });
  if (it != c.list.end() && *it == p) c.list.erase(it);
  MruUnlink(c, p);
}

TPage* TIndexFile::CacheFind(int index, int32_t page) {
  TCache& c = caches_[index];
  TPage* hit = nullptr;
  if (c.head && c.head->number() == page) return c.head;
  if (c.head && c.head->mru_next && c.head->mru_next->number() == page) {
    hit = c.head->mru_next;
  } else {
    auto it = std::lower_bound(c.list.begin(), c.list.end(), page,
                               [](const TPage* a, int32_t n) { return a->number() < n; });
    if (it != c.list.end() && (*it)->number() == page) hit = *it;
  }
  if (hit) {
    MruUnlink(c, hit);
    MruPushFront(c, hit);
  }
  return hit;
}

bool TIndexFile::BulkRoom(int index) const {
  // Under the undo but not growing: the change writes out as it goes.
  if (IsTemporary(index) || !UndoActive() || MustGrow() || Deferring()) return false;
  size_t pages = 0;
  for (const TCache& c : caches_) pages += c.list.size();
  return pages < kBulkCacheTargets * CacheTarget();
}

TPage* TIndexFile::ObtainPage(int index) {
  TCache& c = caches_[index];
  if (c.capacity == 0) c.capacity = CacheTarget();
  // The least recently used leaf goes first: an interior page leads to many
  // leaves and is wanted again soon by a lookup anywhere below it, while a
  // random lookup comes back to one leaf in hundreds. Least recently used
  // alone let the leaves push out half the interior pages of a tree that
  // outgrows the cache, and most lookups then read two pages instead of one.
  auto victim = [&]() -> TPage* {
    TPage* interior = nullptr;
    for (TPage* p = c.tail; p; p = p->mru_prev) {
      if (p->dirty || p->pins > 0) continue;
      if (!p->IsInterior()) return p;
      if (!interior) interior = p;
    }
    return interior;
  };
  // While inserts wait, their merges walk the trees in key order and need
  // little of the cache: a quarter of it, the memory left to the waiting keys.
  const size_t capacity =
      Deferring() ? std::min(c.capacity, std::max<size_t>(8, CacheTarget() / 4)) : c.capacity;
  if (c.list.size() >= capacity && BulkRoom(index)) {
    // One page at a time, so that all the caches stay within their room;
    // grown back to the cache target when the change's flush trims it.
    c.capacity = c.list.size() + 1;
    return pool_.Take();
  }
  if (c.list.size() >= capacity) {
    TPage* v = victim();
    if (!v && !MustGrow()) {
      WritePages(IsTemporary(index));
      v = victim();
    }
    if (v) {
      CacheRemove(index, v);
      return v;
    }
    c.capacity += 4;
  }
  return pool_.Take();
}

void TIndexFile::ReadPage(int index, TPage* p) {
  if (io_buffer_.size() < kIndexPageSize) io_buffer_.resize(kIndexPageSize);
  const int64_t got = StorageFor(index).ReadAt(uint64_t(p->number()) * kIndexPageSize,
                                               io_buffer_.data(), kIndexPageSize, true);
  if (got != kIndexPageSize) {
    pool_.Give(p);
    RaiseIndex(CAIRN_INDEXCORRUPT);
  }
  if (info_.encrypted) Scramble(io_buffer_.data(), kIndexPageSize, kBufferSeed);
  ++stats_.page_reads;
  if (!p->Decode(std::span<const uint8_t, kIndexPageSize>(io_buffer_.data(), kIndexPageSize))) {
    pool_.Give(p);
    RaiseIndex(CAIRN_INDEXCORRUPT);
  }
  // A page on a free list reads as an empty node: mark it so the tree never
  // takes it for one of its own.
  p->freed = p->count() == 0 && p->type() != kPageRaw;
}

TPage* TIndexFile::GetPage(int index, int32_t page) {
  const int32_t next = NextPage(index);
  if (page <= 0 || page > next) RaiseIndex(CAIRN_INDEXCORRUPT);
  if (page == next) {
    // Appending: the limits of the file.
    if (int64_t(page) > kMaxIndexPage ||
        int64_t(page) * kIndexPageSize + kIndexPageSize > kMaxIndexFileBytes)
      RaiseIndex(CAIRN_TABLEFULL);
    TPage* p = ObtainPage(index);
    p->Reset(shapes_[index], uint8_t(index), page);
    p->set_type(kPageLeaf);
    p->dirty = true;
    CacheInsert(index, p);
    if (IsTemporary(index)) {
      ++scratch_next_;
    } else {
      le::PutI32(&header_[hdr::kNextPage], page + 1);
      SetModified();
    }
    ++p->pins;
    return p;
  }
  TPage* p = CacheFind(index, page);
  if (!p) {
    if (!info_.strict_change_detection && info_.changed_by_other && info_.changed_by_other())
      return nullptr;
    p = ObtainPage(index);
    p->Reset(shapes_[index], uint8_t(index), page);
    ReadPage(index, p);
    CacheInsert(index, p);
  }
  ++p->pins;
  return p;
}

TPage* TIndexFile::NewPage(int index) {
  const int32_t head = FreeHead(index);
  if (head == 0) return GetPage(index, NextPage(index));
  TPage* p = GetPage(index, head);
  if (!p) RaiseIndex(CAIRN_INDEXCORRUPT);
  // A free-list entry must be an empty page; anything else means the list
  // runs into a live tree (or around a cycle).
  if (!p->freed || p->count() != 0 || p->pins > 1) {
    ReleasePage(p);
    RaiseIndex(CAIRN_INDEXCORRUPT);
  }
  SetFreeHead(index, p->next());
  p->Clear();
  p->freed = false;
  p->set_type(kPageLeaf);
  p->dirty = true;
  return p;
}

void TIndexFile::FreePage(TPage* page) {
  const uint8_t type = page->type();
  const int index = page->index();
  page->Clear();
  page->set_type(type);
  page->set_next(FreeHead(index));
  page->freed = true;
  page->dirty = true;
  SetFreeHead(index, page->number());
}

void TIndexFile::ReleasePage(TPage* page) {
  if (page->pins > 0) --page->pins;
  if (page->orphan && page->pins == 0) {
    page->orphan = false;
    pool_.Give(page);
  }
}

bool TIndexFile::Flush(bool temporary) {
  if (!temporary && !flushing_) {
    // The keys a transaction left waiting go in now; their pages may be
    // written out as they fill the cache, under the undo as before.
    flushing_ = true;
    try {
      SettleAll();
    } catch (...) {
      flushing_ = false;
      throw;
    }
    flushing_ = false;
  }
  return WritePages(temporary);
}

bool TIndexFile::MustGrow() const {
  return !flushing_ && info_.in_transaction && info_.in_transaction();
}

bool TIndexFile::WritePages(bool temporary) {
  constexpr size_t kLongestRun = 16;
  std::vector<TPage*> dirty;
  for (int i = 0; i < kIndexCount; ++i) {
    if (IsTemporary(i) != temporary) continue;
    for (TPage* p : caches_[i].list)
      if (p->dirty && p->pins == 0) dirty.push_back(p);
  }
  if (dirty.empty()) return false;
  std::sort(dirty.begin(), dirty.end(),
            [](const TPage* a, const TPage* b) { return a->number() < b->number(); });
  size_t i = 0;
  while (i < dirty.size()) {
    size_t j = i + 1;
    // Runs of at most 64 KB: a transaction's merge leaves long runs of new
    // pages, and one buffer for all of them would double their memory.
    while (j < dirty.size() && j - i < kLongestRun &&
           dirty[j]->number() == dirty[j - 1]->number() + 1)
      ++j;
    const size_t run = j - i;
    if (io_buffer_.size() < run * kIndexPageSize) io_buffer_.resize(run * kIndexPageSize);
    for (size_t r = 0; r < run; ++r) {
      uint8_t* out = io_buffer_.data() + r * kIndexPageSize;
      if (!dirty[i + r]->Encode(std::span<uint8_t, kIndexPageSize>(out, kIndexPageSize)))
        RaiseIndex(CAIRN_INDEXCORRUPT);
      if (info_.encrypted) Scramble(out, kIndexPageSize, kBufferSeed);
    }
    TFileHandler& f = temporary ? StorageFor(dirty[i]->index()) : *this;
    f.WriteAt(uint64_t(dirty[i]->number()) * kIndexPageSize, io_buffer_.data(),
              int64_t(run * kIndexPageSize));
    ++stats_.flushes;
    stats_.page_writes += run;
    for (size_t r = 0; r < run; ++r) dirty[i + r]->dirty = false;
    i = j;
  }
  // A key changed inside a leaf moves no header field, yet other processes
  // notice changes only through the header's counter.
  if (!temporary) SetModified();
  return true;
}

void TIndexFile::TrimCache() {
  const size_t target = CacheTarget();
  for (int i = 0; i < kIndexCount; ++i) {
    TCache& c = caches_[i];
    TPage* p = c.tail;
    while (c.list.size() > target && p) {
      TPage* prev = p->mru_prev;
      if (!p->dirty && p->pins == 0) {
        CacheRemove(i, p);
        pool_.Give(p);
      }
      p = prev;
    }
    c.capacity = std::max(c.list.size(), target);
  }
}

void TIndexFile::DropAllPages(bool temporary_only, bool permanent_only) {
  if (!temporary_only) ResetPending();
  for (int i = 0; i < kIndexCount; ++i) {
    const bool temp = IsTemporary(i);
    if ((temporary_only && !temp) || (permanent_only && temp)) continue;
    TCache& c = caches_[i];
    for (TPage* p : c.list) {
      p->mru_prev = p->mru_next = nullptr;
      if (p->pins > 0)
        p->orphan = true;
      else
        pool_.Give(p);
    }
    c.list.clear();
    c.head = c.tail = nullptr;
    c.capacity = CacheTarget();
  }
}

void TIndexFile::DiscardPages() { DropAllPages(false, true); }

// ---- inserts that wait ----------------------------------------------------

namespace {
// The filter's first size: about 160 KB; it grows by half of what the tree
// holds each time it fills.
constexpr size_t kFirstFilterKeys = 128 * 1024;
}  // namespace

size_t TIndexFile::PendingLimit() const {
  return std::max<size_t>(size_t(info_.index_buffer_size) * 2, 8192);
}

TPendingKeys* TIndexFile::DeferInsert(int index) {
  if (index < 0 || index > kMaxSecondaryIndexes || IsTemporary(index)) return nullptr;
  // Only a change that writes out as it goes: a single post's pages stay in
  // the cache until its commit anyway.
  if (!UndoActive() || MustGrow()) return nullptr;
  if (!layouts_[index].byte_order()) return nullptr;
  TDeferral& d = pending_[index];
  if (d.undo != UndoCount()) {
    // A change ends with a flush, which leaves nothing waiting.
    if (d.keys && !d.keys->empty()) TIndexTree(*this, index).Settle();
    d = TDeferral{};
    d.undo = UndoCount();
  }
  ++d.inserts;
  // A key of a non-unique index ends with the record ID: never checked for
  // duplicates, so no filter.
  const bool unique = Shape(index).unique;
  if (d.keys && (!unique || d.keys->filter_count() < d.keys->filter_capacity()))
    return d.keys.get();
  if (!unique) {
    d.keys = std::make_unique<TPendingKeys>(Shape(index).key_length, 0);
    d.keys->Reserve(PendingLimit());
    deferring_undo_ = UndoCount();
    return d.keys.get();
  }
  if (!d.keys && Root(index) != 0 && d.inserts % 64 != 0) return nullptr;
  const bool rebuilding = d.keys != nullptr;
  TIndexTree tree(*this, index);
  // The filter must know every key of the tree: (re)built from all of them.
  tree.Settle();
  const uint32_t count = Root(index) == 0 ? 0 : tree.Count();
  if (!rebuilding && uint64_t(d.inserts) * 32 < count) return nullptr;
  d.keys.reset();  // the old filter and room go before the new ones come
  deferring_undo_ = UndoCount();
  auto keys = std::make_unique<TPendingKeys>(
      Shape(index).key_length, size_t(count) + std::max<size_t>(count / 2, kFirstFilterKeys));
  if (count > 0) tree.VisitKeys([&](const uint8_t* key) { keys->NoteKey(key); });
  keys->Reserve(PendingLimit());
  d.keys = std::move(keys);
  return d.keys.get();
}

void TIndexFile::SettleAll() {
  for (int i = 0; i <= kMaxSecondaryIndexes; ++i)
    if (HasPending(i)) TIndexTree(*this, i).Settle();
}

void TIndexFile::ResetPending() {
  for (TDeferral& d : pending_) d = TDeferral{};
  deferring_undo_ = 0;
}

bool TIndexFile::Deferring() const {
  return UndoActive() && deferring_undo_ == UndoCount() && !MustGrow();
}

}  // namespace cairn
