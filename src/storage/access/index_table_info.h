// What an index file needs of its table, taken from the open data file:
// name, encryption, locale and the key-relevant part of every field
// descriptor (number, name, type, subtype, storage size, record offset).
#pragma once

#include "storage/access/index_file.h"
#include "storage/files/data_file.h"

namespace cairn {

std::vector<TKeyField> KeyFieldsOf(const TDataFile& data);
// Table name, encryption, locale and fields; the session settings (private
// directory, buffer size, change detection hooks) are left for the caller.
TIndexTableInfo IndexTableInfoOf(const TDataFile& data);

}  // namespace cairn
