// The password-record table the engine tests and benchmarks load: the six
// fields, the primary index on Item, Date and, when asked, a secondary
// index on User.
#pragma once

#include "storage/access/table_definition.h"
#include "storage/files/field_descriptor.h"

namespace cairn::testing {

inline TTableDefinition PalTable(bool with_user_index) {
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
  if (with_user_index) {
    TIndexDefinition by_user;
    by_user.name = "ByUser";
    by_user.fields = {"User"};
    def.indexes.push_back(by_user);
  }
  return def;
}

}  // namespace cairn::testing
