// What it takes to create a table: field descriptors (laid out), index
// definitions by field name, locale, description, password, blob block size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/files/field_descriptor.h"

namespace cairn {

struct TIndexDefinition {
  std::string name;  // empty for the primary index
  bool primary = false;
  std::vector<std::string> fields;
  bool unique = false;
  bool descending = false;
  bool case_insensitive = false;
  std::vector<std::string> descending_fields;  // a subset of `fields`
  uint8_t compression = 0;                     // 0 none, 1 duplicate-byte, 2 trailing-byte, 3 full
};

struct TTableDefinition {
  std::vector<TFieldDescriptor> fields;   // numbered and laid out
  std::vector<TIndexDefinition> indexes;  // the primary one, if any, first
  uint32_t locale = 0;                    // sort id * 65536 + language id
  std::string description;
  std::string password;  // non-empty makes the table encrypted
  uint16_t blob_block_size = 512;
};

}  // namespace cairn
