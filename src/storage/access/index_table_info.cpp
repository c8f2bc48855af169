#include "storage/access/index_table_info.h"

#include "storage/base/table_locale.h"

namespace cairn {

std::vector<TKeyField> KeyFieldsOf(const TDataFile& data) {
  std::vector<TKeyField> out;
  for (const TFieldDescriptor& d : data.Fields()) {
    TKeyField f;
    f.number = int16_t(d.FieldNumber());
    f.name = d.Name();
    f.type = d.Type();
    f.subtype = d.Subtype();
    f.storage_size = d.StorageSize();
    f.offset = d.Offset();
    out.push_back(std::move(f));
  }
  return out;
}

TIndexTableInfo IndexTableInfoOf(const TDataFile& data) {
  TIndexTableInfo info;
  info.table_name = data.table_name();
  info.encrypted = data.Encrypted();
  info.locale =
      data.LanguageId() == 0 ? 0 : TTableLocale::MakeLcid(data.LanguageId(), data.SortId());
  info.fields = KeyFieldsOf(data);
  return info;
}

}  // namespace cairn
