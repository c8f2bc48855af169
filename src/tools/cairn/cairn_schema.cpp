#include "tools/cairn/cairn_schema.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace cairn::tool {

namespace {

using nlohmann::json;

struct TTypeInfo {
  uint8_t type;
  uint8_t subtype;
  bool sized;   // takes "size"
  bool scaled;  // takes "scale"
};

const std::map<std::string, TTypeInfo>& TypeTable() {
  static const std::map<std::string, TTypeInfo> table = {
      {"string", {kFldString, kSubNone, true, false}},
      {"fixedchar", {kFldString, kSubFixed, true, false}},
      {"date", {kFldDate, kSubNone, false, false}},
      {"blob", {kFldBlob, kSubNone, false, false}},
      {"memo", {kFldBlob, kSubMemo, false, false}},
      {"fmtmemo", {kFldBlob, kSubFmtMemo, false, false}},
      {"graphic", {kFldBlob, kSubGraphic, false, false}},
      {"boolean", {kFldBoolean, kSubNone, false, false}},
      {"smallint", {kFldSmallInt, kSubNone, false, false}},
      {"integer", {kFldInteger, kSubNone, false, false}},
      {"autoinc", {kFldInteger, kSubAutoInc, false, false}},
      {"float", {kFldFloat, kSubNone, false, false}},
      {"currency", {kFldFloat, kSubMoney, false, false}},
      {"bcd", {kFldBcd, kSubNone, false, true}},
      {"bytes", {kFldBytes, kSubNone, true, false}},
      {"varbytes", {kFldVarBytes, kSubNone, true, false}},
      {"time", {kFldTime, kSubNone, false, false}},
      {"datetime", {kFldDateTime, kSubNone, false, false}},
      {"word", {kFldWord, kSubNone, false, false}},
      {"largeint", {kFldLargeInt, kSubNone, false, false}},
  };
  return table;
}

void CheckKeys(const json& object, std::initializer_list<const char*> allowed,
               const std::string& where) {
  if (!object.is_object()) throw TToolError(where + ": must be a JSON object");
  for (const auto& [key, value] : object.items()) {
    if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; }))
      throw TToolError(where + ": unknown key \"" + key + "\"");
  }
}

std::string GetString(const json& object, const char* key, const std::string& where,
                      const std::string& fallback = {}) {
  if (!object.contains(key)) return fallback;
  if (!object[key].is_string()) throw TToolError(where + ": \"" + key + "\" must be a string");
  return object[key].get<std::string>();
}

bool GetBool(const json& object, const char* key, const std::string& where, bool fallback) {
  if (!object.contains(key)) return fallback;
  if (!object[key].is_boolean())
    throw TToolError(where + ": \"" + key + "\" must be true or false");
  return object[key].get<bool>();
}

int64_t GetInt(const json& object, const char* key, const std::string& where, int64_t low,
               int64_t high, int64_t fallback) {
  if (!object.contains(key)) return fallback;
  const json& value = object[key];
  if (!value.is_number_integer())
    throw TToolError(where + ": \"" + key + "\" must be a whole number");
  int64_t number = value.get<int64_t>();
  if (number < low || number > high)
    throw TToolError(where + ": \"" + key + "\" must be between " + std::to_string(low) + " and " +
                     std::to_string(high));
  return number;
}

bool ValidIdentifier(std::string_view name) {
  if (name.empty() || name.size() > kMaxFieldNameLength) return false;
  const unsigned char first = static_cast<unsigned char>(name[0]);
  return std::isalpha(first) || first == '_' || (first >= 128 && first <= 254);
}

TFieldDescriptor ParseField(const json& field, size_t position) {
  std::string where = "field " + std::to_string(position);
  CheckKeys(field, {"name", "type", "size", "scale", "required", "description"}, where);
  if (!field.contains("name")) throw TToolError(where + ": \"name\" is missing");
  const std::string name = GetString(field, "name", where);
  where += " (\"" + name + "\")";
  if (!ValidIdentifier(name))
    throw TToolError(where + ": the name must be 1 to 30 characters and start with a letter or _");
  if (!field.contains("type")) throw TToolError(where + ": \"type\" is missing");
  const std::string type_name = GetString(field, "type", where);
  auto found = TypeTable().find(type_name);
  if (found == TypeTable().end()) throw TToolError(where + ": unknown type \"" + type_name + "\"");
  const TTypeInfo& info = found->second;
  uint8_t size = 0, scale = 0;
  if (info.sized) {
    if (!field.contains("size")) throw TToolError(where + ": \"size\" is missing");
    size = static_cast<uint8_t>(GetInt(field, "size", where, 1, kMaxDeclaredSize, 0));
    if (info.type == kFldVarBytes && size < 3)
      throw TToolError(where + ": \"size\" of varbytes must be at least 3 (2 length bytes)");
  } else if (field.contains("size")) {
    throw TToolError(where + ": type \"" + type_name + "\" takes no \"size\"");
  }
  if (info.scaled) {
    scale = static_cast<uint8_t>(GetInt(field, "scale", where, 0, 32, 0));
  } else if (field.contains("scale")) {
    throw TToolError(where + ": type \"" + type_name + "\" takes no \"scale\"");
  }
  TFieldDescriptor descriptor = TFieldDescriptor::Make(name, info.type, info.subtype, size, scale);
  descriptor.SetRequired(GetBool(field, "required", where, false));
  const std::string description = GetString(field, "description", where);
  if (description.size() > kMaxFieldTextLength)
    throw TToolError(where + ": \"description\" is longer than 50 characters");
  descriptor.SetDescription(description);
  return descriptor;
}

const TFieldDescriptor* FindField(const std::vector<TFieldDescriptor>& fields,
                                  const std::string& name) {
  for (const auto& field : fields)
    if (SameFieldName(field.Name(), name)) return &field;
  return nullptr;
}

TIndexDefinition ParseIndex(const json& index, size_t position,
                            const std::vector<TFieldDescriptor>& fields) {
  std::string where = "index " + std::to_string(position);
  CheckKeys(index,
            {"name", "primary", "fields", "unique", "descending", "caseInsensitive",
             "descendingFields", "compression"},
            where);
  TIndexDefinition definition;
  definition.name = GetString(index, "name", where);
  definition.primary = GetBool(index, "primary", where, false);
  if (!definition.name.empty()) where += " (\"" + definition.name + "\")";
  if (definition.primary && !definition.name.empty())
    throw TToolError(where + ": the primary index has no name");
  if (!definition.primary && !ValidIdentifier(definition.name))
    throw TToolError(where +
                     ": a secondary index needs a name of 1 to 30 characters starting "
                     "with a letter or _");
  definition.unique = definition.primary || GetBool(index, "unique", where, false);
  if (definition.primary && index.contains("unique") && !GetBool(index, "unique", where, true))
    throw TToolError(where + ": the primary index is always unique");
  definition.descending = GetBool(index, "descending", where, false);
  definition.case_insensitive = GetBool(index, "caseInsensitive", where, false);

  if (!index.contains("fields") || !index["fields"].is_array())
    throw TToolError(where + ": \"fields\" must be a list of field names");
  std::set<std::string> seen;
  for (const auto& name_json : index["fields"]) {
    if (!name_json.is_string()) throw TToolError(where + ": \"fields\" must hold field names");
    const std::string name = name_json.get<std::string>();
    const TFieldDescriptor* field = FindField(fields, name);
    if (field == nullptr) throw TToolError(where + ": unknown field \"" + name + "\"");
    if (field->IsBlob())
      throw TToolError(where + ": field \"" + name + "\" is a blob and cannot be indexed");
    if (!seen.insert(field->Name()).second)
      throw TToolError(where + ": field \"" + name + "\" is listed twice");
    definition.fields.push_back(field->Name());
  }
  if (definition.fields.size() > 16) throw TToolError(where + ": at most 16 fields");
  if (definition.fields.empty() && !definition.primary)
    throw TToolError(where + ": \"fields\" is empty");

  if (index.contains("descendingFields")) {
    if (!index["descendingFields"].is_array())
      throw TToolError(where + ": \"descendingFields\" must be a list of field names");
    for (const auto& name_json : index["descendingFields"]) {
      if (!name_json.is_string())
        throw TToolError(where + ": \"descendingFields\" must hold field names");
      const std::string name = name_json.get<std::string>();
      auto it = std::find_if(definition.fields.begin(), definition.fields.end(),
                             [&](const std::string& f) { return SameFieldName(f, name); });
      if (it == definition.fields.end())
        throw TToolError(where + ": descending field \"" + name + "\" is not a field of the index");
      definition.descending_fields.push_back(*it);
    }
  }
  const std::string compression = GetString(index, "compression", where, "none");
  static const std::map<std::string, uint8_t> kCompression = {
      {"none", 0}, {"duplicate", 1}, {"trailing", 2}, {"full", 3}};
  auto c = kCompression.find(compression);
  if (c == kCompression.end())
    throw TToolError(where + ": unknown compression \"" + compression +
                     "\" (none, duplicate, trailing or full)");
  definition.compression = c->second;
  return definition;
}

}  // namespace

TTableDefinition ParseSchema(const json& schema) {
  CheckKeys(schema, {"fields", "indexes", "locale", "description", "password", "blobBlockSize"},
            "schema");
  TTableDefinition definition;
  if (!schema.contains("fields") || !schema["fields"].is_array())
    throw TToolError("schema: \"fields\" must be a list");
  size_t position = 0;
  for (const auto& field : schema["fields"]) {
    TFieldDescriptor descriptor = ParseField(field, ++position);
    if (FindField(definition.fields, descriptor.Name()) != nullptr)
      throw TToolError("field " + std::to_string(position) + " (\"" + descriptor.Name() +
                       "\"): the name is used twice");
    definition.fields.push_back(descriptor);
  }
  if (definition.fields.size() > 1024) throw TToolError("schema: at most 1024 fields");
  if (std::count_if(definition.fields.begin(), definition.fields.end(),
                    [](const TFieldDescriptor& f) { return f.IsAutoInc(); }) > 1)
    throw TToolError("schema: at most one autoinc field");
  LayoutFields(definition.fields);

  if (schema.contains("indexes")) {
    if (!schema["indexes"].is_array()) throw TToolError("schema: \"indexes\" must be a list");
    position = 0;
    bool have_primary = false;
    std::set<std::string> names;
    for (const auto& index : schema["indexes"]) {
      TIndexDefinition parsed = ParseIndex(index, ++position, definition.fields);
      if (parsed.primary) {
        if (have_primary) throw TToolError("schema: more than one primary index");
        have_primary = true;
        definition.indexes.insert(definition.indexes.begin(), std::move(parsed));
        continue;
      }
      std::string upper = parsed.name;
      for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      if (!names.insert(upper).second)
        throw TToolError("index " + std::to_string(position) + " (\"" + parsed.name +
                         "\"): the name is used twice");
      definition.indexes.push_back(std::move(parsed));
    }
    if (names.size() > 30) throw TToolError("schema: at most 30 secondary indexes");
  }
  definition.locale = static_cast<uint32_t>(GetInt(schema, "locale", "schema", 0, 0xFFFFFFFFLL, 0));
  definition.description = GetString(schema, "description", "schema");
  if (definition.description.size() > 50)
    throw TToolError("schema: \"description\" is longer than 50 characters");
  definition.password = GetString(schema, "password", "schema");
  if (definition.password.size() > 15)
    throw TToolError("schema: \"password\" is longer than 15 characters");
  definition.blob_block_size =
      static_cast<uint16_t>(GetInt(schema, "blobBlockSize", "schema", 64, 65535, 512));
  return definition;
}

}  // namespace cairn::tool
