// Fuzz entry points of the index file.
//
// IndexPageFuzz: the first byte picks a page shape (key length, uniqueness,
// compression, counts); the rest is a page image. A decoded page must encode
// and decode again to the same entries.
// IndexFileFuzz: the input is an index file (header and pages) of a table
// with a few fields; opening, checking and walking every index must end with
// an engine error or normally, never crash or hang.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "storage/base/engine_error.h"
#include "storage/access/index_check.h"
#include "storage/access/index_file.h"
#include "storage/access/index_page.h"
#include "storage/access/index_tree.h"

namespace cairn::fuzz {

namespace {

const int kKeyLengths[] = {5, 6, 8, 12, 22, 26, 68, 522};

}  // namespace

int IndexPageFuzz(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t sel = data[0];
  TPageShape shape;
  shape.key_length = kKeyLengths[sel & 7];
  shape.unique = (sel & 8) != 0;
  shape.compression = uint8_t((sel >> 4) & 3);
  shape.no_counts = (sel & 64) != 0;
  std::array<uint8_t, kIndexPageSize> img{};
  std::memcpy(img.data(), data + 1, std::min(size - 1, img.size()));
  TPage page;
  page.Reset(shape, 1, 1);
  if (!page.Decode(img)) return 0;
  if (page.type() == kPageRaw) return 0;
  std::array<uint8_t, kIndexPageSize> again{};
  page.Encode(again);
  TPage back;
  back.Reset(shape, 1, 1);
  if (!back.Decode(again)) __builtin_trap();
  if (back.count() != page.count() || back.type() != page.type()) __builtin_trap();
  for (int i = 0; i < page.count(); ++i) {
    if (std::memcmp(back.Key(i), page.Key(i), size_t(shape.key_length)) != 0) __builtin_trap();
    if (back.Ref(i) != page.Ref(i)) __builtin_trap();
    if (page.IsInterior() && !shape.no_counts && back.SubCount(i) != page.SubCount(i))
      __builtin_trap();
  }
  return 0;
}

int IndexFileFuzz(const uint8_t* data, size_t size) {
  static int serial = 0;
  TIndexTableInfo info;
  info.table_name = "Fuzz";
  info.fields = {{1, "Name", 1, 0, 21, 9},
                 {2, "Num", 6, 0, 4, 31},
                 {3, "Memo", 3, 22, 8, 36},
                 {4, "Id", 6, 29, 4, 5}};
  TIndexFile file(info);
  file.set_file_name("fuzz_" + std::to_string(++serial) + ".IDX");
  file.set_in_memory(true);
  file.Create();
  // Cap the file so a fuzzed next-page number cannot make the walk long.
  const size_t n = std::min<size_t>(size, 64 * kIndexPageSize);
  if (n > 0) file.WriteAt(0, data, int64_t(n));
  file.Close();
  try {
    file.OpenIndexFile();
    CheckIndexFile(file);
    for (int i = 0; i < kIndexCount; ++i) {
      if (!file.IndexInUse(i) || file.Root(i) == 0 || file.Shape(i).key_length <= 0) continue;
      TIndexTree tree(file, i);
      TIndexEntry e;
      int steps = 0;
      for (bool more = tree.First(e); more && steps < 20000; more = tree.Next(e)) ++steps;
      tree.SeekOrdinal(3, e);
      tree.Count();
    }
  } catch (const ECairnEngineError&) {
  }
  file.CloseIndexFile();
  file.Delete();
  return 0;
}

}  // namespace cairn::fuzz
