// The password-record table both engine benchmarks load: the six fields and
// the primary index on Item, Date.
#pragma once

#include "storage/access/table_definition.h"
#include "storage/files/field_descriptor.h"

namespace bench {

inline cairn::TTableDefinition PalDefinition() {
  using namespace cairn;
  TTableDefinition def;
  def.fields = {TFieldDescriptor::Make("Item", kFldString, 0, 100),
                TFieldDescriptor::Make("User", kFldString, 0, 100),
                TFieldDescriptor::Make("PW", kFldString, 0, 100),
                TFieldDescriptor::Make("Details", kFldBlob, kSubMemo),
                TFieldDescriptor::Make("Web", kFldString, 0, 250),
                TFieldDescriptor::Make("Date", kFldDate)};
  LayoutFields(def.fields);
  TIndexDefinition primary;
  primary.primary = true;
  primary.unique = true;
  primary.fields = {"Item", "Date"};
  def.indexes = {primary};
  return def;
}

}  // namespace bench
