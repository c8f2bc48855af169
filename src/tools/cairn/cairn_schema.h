// Reading a table schema for `cairn create` from JSON. Every problem is
// reported as TToolError naming the field or index and what is wrong, before
// any file is touched.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/access/table_definition.h"

namespace cairn::tool {

class TToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses and checks a whole schema document.
TTableDefinition ParseSchema(const nlohmann::json& schema);

}  // namespace cairn::tool
