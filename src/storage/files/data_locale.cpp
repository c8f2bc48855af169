#include "storage/files/data_locale.h"

namespace cairn {

// Collation support is not wired in yet: only tables without a locale open.
bool IsTableLocaleInstalled(uint16_t language_id, uint16_t sort_id) { return language_id == 0; }

}  // namespace cairn
