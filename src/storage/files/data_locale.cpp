#include "storage/files/data_locale.h"

#include "storage/base/table_locale.h"

namespace cairn {

bool IsTableLocaleInstalled(uint16_t language_id, uint16_t sort_id) {
  return language_id == 0 || TTableLocale::IsInstalled(TTableLocale::MakeLcid(language_id, sort_id));
}

}  // namespace cairn
