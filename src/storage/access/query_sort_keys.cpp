#include "storage/access/query_sort_keys.h"

#include <algorithm>

#include "storage/access/index_table_info.h"

namespace cairn {

std::optional<TQuerySortKeys> TQuerySortKeys::Make(const TDataFile& data,
                                                   std::span<const TSortField> fields,
                                                   bool case_insensitive) {
  TIndexDescriptor d;
  d.case_insensitive = case_insensitive;
  d.field_count = uint8_t(std::min<size_t>(fields.size(), kMaxKeyFields));
  for (int i = 0; i < d.field_count; ++i) {
    d.fields[i] = int16_t(fields[i].number);
    d.field_descending[i] = fields[i].descending ? 1 : 0;
  }
  const std::vector<TKeyField> key_fields = KeyFieldsOf(data);
  const auto locale =
      TTableLocale::ForLcid(TTableLocale::MakeLcid(data.LanguageId(), data.SortId()));
  TQuerySortKeys keys;
  d.unique = false;
  if (!TKeyLayout::Build(0, d, key_fields, locale, keys.with_id_)) return std::nullopt;
  d.unique = true;
  if (!TKeyLayout::Build(0, d, key_fields, locale, keys.without_id_)) return std::nullopt;
  return keys;
}

void TQuerySortKeys::BuildKey(std::span<const uint8_t> record, uint8_t* key) const {
  with_id_.BuildKey(record, {key, size_t(with_id_.key_length())});
}

int TQuerySortKeys::Compare(const uint8_t* a, const uint8_t* b, bool with_suffix) const {
  return with_suffix ? with_id_.Compare(a, b) : without_id_.Compare(a, b);
}

}  // namespace cairn
