// TQuerySortKeys: the sort keys of a query result, built on the index key
// encoding so that a copied result sorts exactly as an index on the same
// fields would order it. At most 16 sort fields take part in the key (the
// index key's limit); blob fields cannot.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "storage/access/index_key.h"
#include "storage/files/data_file.h"
#include "storage/files/sort_request.h"

namespace cairn {

struct TSortField {
  uint16_t number = 0;  // 1-based field number
  bool descending = false;
};

class TQuerySortKeys : public TSortKeys {
 public:
  // nullopt when a field does not exist or is a blob.
  static std::optional<TQuerySortKeys> Make(const TDataFile& data,
                                            std::span<const TSortField> fields,
                                            bool case_insensitive);

  int KeyLength() const override { return with_id_.key_length(); }
  void BuildKey(std::span<const uint8_t> record, uint8_t* key) const override;
  int Compare(const uint8_t* a, const uint8_t* b, bool with_suffix) const override;

 private:
  TKeyLayout with_id_;     // fields and the record-ID suffix
  TKeyLayout without_id_;  // the same fields alone
};

}  // namespace cairn
