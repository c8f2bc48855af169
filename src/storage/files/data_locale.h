// Whether a table's locale (sort id × 65536 + language id) can be used on
// this machine. Opening a table whose locale is not available fails with
// CAIRN_CANNOTLOADLDDRV. A language id of 0 means the table has no locale.
#pragma once

#include <cstdint>

namespace cairn {

bool IsTableLocaleInstalled(uint16_t language_id, uint16_t sort_id);

}  // namespace cairn
