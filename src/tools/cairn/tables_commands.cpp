#include "tools/cairn/tables_commands.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>

#include "storage/access/data_cursor.h"
#include "storage/access/data_directory.h"
#include "storage/access/data_session.h"
#include "storage/base/engine_error.h"
#include "storage/access/table_check.h"
#include "storage/access/table_repair.h"
#include "storage/files/data_endian.h"
#include "storage/files/field_codec.h"
#include "tools/cairn/cairn_schema.h"
#include "tools/cairn/cairn_values.h"
#include "tools/cairn/command.h"

namespace cairn::tool {

// The index file checks of `cairn check` (check_index.cpp).
bool CheckTableIndexes(const TTablePath& table, std::vector<std::string>& faults,
                       uint64_t* pages_visited);

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

struct TArgs {
  TTablePath table;
  std::string directory;
  std::string password;
  std::string schema;
  std::string index;
  bool ok = false;
};

// DIR/NAME plus the options a command allows; false with a message on `err`.
TArgs ParseArgs(std::span<const std::string> args, std::string_view usage,
                std::initializer_list<std::string_view> options, std::ostream& err) {
  TArgs parsed;
  std::optional<std::string> table;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool known = std::find(options.begin(), options.end(), a) != options.end();
    if (!a.empty() && a[0] == '-') {
      if (!known || i + 1 >= args.size()) {
        err << "usage: cairn " << usage << "\n";
        return parsed;
      }
      const std::string& value = args[++i];
      if (a == "--password") parsed.password = value;
      if (a == "--schema") parsed.schema = value;
      if (a == "--index") parsed.index = value;
    } else if (!table) {
      table = a;
    } else {
      err << "usage: cairn " << usage << "\n";
      return parsed;
    }
  }
  if (!table) {
    err << "usage: cairn " << usage << "\n";
    return parsed;
  }
  parsed.table = ParseTablePath(*table);
  const size_t slash = parsed.table.base.find_last_of('/');
  parsed.directory = slash == std::string::npos ? "." : parsed.table.base.substr(0, slash + 1);
  if (parsed.directory.empty()) parsed.directory = "/";
  parsed.ok = !parsed.table.name.empty();
  if (!parsed.ok) err << "usage: cairn " << usage << "\n";
  return parsed;
}

const TFieldDescriptor* FieldNamed(const TDataCursor& cursor, const std::string& name) {
  for (const TFieldDescriptor& f : cursor.Fields())
    if (SameFieldName(f.Name(), name)) return &f;
  return nullptr;
}

// Puts the row's values into `image` and `blobs`; every value is checked
// before the caller changes anything.
void FillRow(TDataCursor& cursor, const json& row, std::vector<uint8_t>& image,
             TBlobValues& blobs) {
  const TTableLocale* locale = cursor.Table().Data().TableLocale();
  if (!row.is_object()) throw TToolError("\"row\" must be a JSON object");
  for (const auto& [name, value] : row.items()) {
    const TFieldDescriptor* field = FieldNamed(cursor, name);
    if (field == nullptr) throw TToolError("unknown field \"" + name + "\"");
    const TFieldValue parsed = ParseFieldValue(*field, value);
    if (field->IsBlob()) {
      blobs[field->FieldNumber()] = parsed.bytes;
      continue;
    }
    bool ok;
    if (parsed.is_null) {
      ok = PutFieldNull(*field, image);
    } else if (field->Type() == kFldString) {
      ok = PutString(*field, image,
                     std::string_view(reinterpret_cast<const char*>(parsed.bytes.data()),
                                      parsed.bytes.size()),
                     locale);
    } else {
      ok = PutField(*field, image, parsed.bytes);
    }
    if (!ok) throw TToolError("field \"" + name + "\" does not fit the record");
  }
}

int Fail(std::ostream& err, const std::string& message) {
  err << "cairn: " << message << "\n";
  return 1;
}

}  // namespace

int RunCreate(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  const TArgs a = ParseArgs(args, "create DIR/NAME --schema FILE.json", {"--schema"}, err);
  if (!a.ok) return 2;
  if (a.schema.empty()) {
    err << "usage: cairn create DIR/NAME --schema FILE.json\n";
    return 2;
  }
  std::ifstream file(a.schema);
  if (!file) return Fail(err, "cannot read schema file '" + a.schema + "'");
  json schema;
  try {
    schema = json::parse(file);
  } catch (const json::parse_error& error) {
    return Fail(err, "schema file '" + a.schema + "' is not valid JSON: " + error.what());
  }
  try {
    const TTableDefinition definition = ParseSchema(schema);
    TDataSession session;
    session.OpenDirectory(a.directory).CreateTable(a.table.name, definition);
  } catch (const TToolError& error) {
    return Fail(err, "schema: " + std::string(error.what()));
  } catch (const ECairnEngineError& error) {
    return Fail(err, error.what());
  }
  out << "created " << a.table.name << "\n";
  return 0;
}

int ApplyOperations(std::span<const std::string> args, std::istream& in, std::ostream& out,
                    std::ostream& err) {
  // --transaction is the one option without a value.
  std::vector<std::string> rest;
  bool transaction = false;
  for (const std::string& arg : args) {
    if (arg == "--transaction")
      transaction = true;
    else
      rest.push_back(arg);
  }
  const TArgs a = ParseArgs(rest, "apply DIR/NAME [--password P] [--transaction] < ops.jsonl",
                            {"--password"}, err);
  if (!a.ok) return 2;
  TDataSession session;
  session.AddPassword(a.password);
  TDataCursor cursor;
  TDataDirectory* directory = nullptr;
  try {
    directory = &session.OpenDirectory(a.directory);
    cursor.Open(*directory, a.table.name);
    if (transaction) directory->StartTransaction();
  } catch (const ECairnEngineError& error) {
    return Fail(err, error.what());
  }
  // In a transaction a failure takes every line back, not only its own.
  auto stop = [&](const std::string& message) {
    if (!transaction) return Fail(err, message);
    try {
      directory->Rollback();
    } catch (const ECairnEngineError& error) {
      return Fail(err, message + "; the rollback failed too: " + error.what());
    }
    return Fail(err, message + "; nothing was applied");
  };
  std::string line;
  size_t line_number = 0, applied = 0;
  while (std::getline(in, line)) {
    ++line_number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    const std::string where = "line " + std::to_string(line_number) + ": ";
    try {
      json op;
      try {
        op = json::parse(line);
      } catch (const json::parse_error& error) {
        throw TToolError(std::string("not valid JSON: ") + error.what());
      }
      if (!op.is_object() || !op.contains("op") || !op["op"].is_string())
        throw TToolError("each line needs \"op\": \"insert\", \"update\" or \"delete\"");
      const std::string kind = op["op"].get<std::string>();
      for (const auto& [key, value] : op.items())
        if (key != "op" && key != "row" && key != "at")
          throw TToolError("unknown key \"" + key + "\"");
      std::vector<uint8_t> record;
      if (kind == "update" || kind == "delete") {
        if (!op.contains("at") || !op["at"].is_number_integer())
          throw TToolError("\"at\" must be a record number");
        const int64_t at = op["at"].get<int64_t>();
        const uint32_t count = cursor.RecordCount();
        if (at < 1 || at > int64_t(count))
          throw TToolError("record number " + std::to_string(at) +
                           " is out of range (the table has " + std::to_string(count) +
                           " records)");
        if (cursor.SetToRecordNumber(uint32_t(at)) != CAIRN_NONE ||
            cursor.GetCurrent(record) != CAIRN_NONE)
          throw TToolError("record number " + std::to_string(at) + " is gone");
      } else if (kind != "insert") {
        throw TToolError("unknown op \"" + kind + "\"");
      }
      if (kind == "delete") {
        if (op.contains("row")) throw TToolError("delete takes no \"row\"");
        cursor.Delete(record);
      } else {
        if (!op.contains("row")) throw TToolError("\"row\" is missing");
        TBlobValues blobs;
        std::vector<uint8_t> image = kind == "insert" ? cursor.NewRecord() : record;
        FillRow(cursor, op["row"], image, blobs);
        if (kind == "insert") {
          cursor.Append(image, blobs);
        } else {
          cursor.GetCurrent(record, true);
          cursor.Modify(image, true, blobs);
        }
      }
      ++applied;
    } catch (const TToolError& error) {
      return stop(where + error.what());
    } catch (const ECairnEngineError& error) {
      return stop(where + error.what());
    }
  }
  if (transaction) {
    try {
      directory->Commit();
    } catch (const ECairnEngineError& error) {
      return stop(std::string("commit: ") + error.what());
    }
    out << "applied " << applied << " operation(s) in one transaction\n";
    return 0;
  }
  out << "applied " << applied << " operation(s)\n";
  return 0;
}

int RunApply(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return ApplyOperations(args, std::cin, out, err);
}

int RunDump(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  const TArgs a = ParseArgs(args, "dump DIR/NAME [--index NAME] [--password P]",
                            {"--index", "--password"}, err);
  if (!a.ok) return 2;
  try {
    TDataSession session;
    session.AddPassword(a.password);
    TDataCursor cursor;
    cursor.Open(session.OpenDirectory(a.directory), a.table.name, a.index, false, true);
    std::vector<uint8_t> record;
    cursor.SetToBegin();
    while (cursor.Next(record) == CAIRN_NONE) {
      ordered_json line;
      line["slot"] = cursor.CurrentSlot();
      line["id"] = le::I32(record.data() + 5);
      for (const TFieldDescriptor& field : cursor.Fields()) {
        TFieldValue value;
        if (field.IsBlob()) {
          value.bytes = cursor.ReadBlob(record, field.FieldNumber());
          value.is_null = value.bytes.empty();
        } else if (auto stored = GetField(field, record)) {
          value.is_null = false;
          value.bytes.assign(stored->begin(), stored->end());
        }
        line[field.Name()] = FormatFieldValue(field, value);
      }
      out << line.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    }
  } catch (const ECairnEngineError& error) {
    return Fail(err, error.what());
  } catch (const TToolError& error) {
    return Fail(err, error.what());
  }
  return 0;
}

int RunTableCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  const TArgs a = ParseArgs(args, "check DIR/NAME", {}, err);
  if (!a.ok) return 2;
  std::vector<std::string> faults;
  uint64_t pages = 0;
  uint32_t records = 0;
  // A change cut short is undone first, as opening the table would: the
  // files are checked as every program will find them.
  try {
    TDataSession session;
    if (PlayBackLeftJournal(session.OpenDirectory(a.directory), a.table.name))
      out << a.table.name << ": played back the rollback journal of a change cut short\n";
  } catch (const ECairnEngineError& error) {
    faults.push_back(std::string("the rollback journal of a change cut short cannot be played back: ") +
                     error.what());
  }
  if (faults.empty() && CheckTableIndexes(a.table, faults, &pages)) {
    try {
      TDataSession session;
      TDataDirectory& directory = session.OpenDirectory(a.directory);
      TDataTable& table = directory.OpenTable(a.table.name, false, true);
      const TTableCheckResult result = CheckTableFiles(table);
      records = result.records;
      for (const std::string& f : result.faults) faults.push_back("tables: " + f);
      directory.CloseTable(table);
    } catch (const ECairnEngineError& error) {
      faults.push_back(error.what());
    }
  }
  for (const std::string& f : faults) out << a.table.name << ": " << f << '\n';
  if (!faults.empty()) {
    err << "cairn check: " << faults.size() << " fault(s) in table '" << a.table.name << "'\n";
    AdviseRepair(a.directory, a.table.name, args.front(), err);
    return 1;
  }
  out << a.table.name << ": ok (" << records << " records, " << pages << " index pages checked)\n";
  return 0;
}

void AdviseRepair(const std::string& directory, const std::string& table, const std::string& arg,
                  std::ostream& err) {
  TDataSession session;
  const TRepairResult dry = RepairTable(session.OpenDirectory(directory), table, true);
  if (!dry.ok()) {
    err << "cairn check: a repair cannot help: " << dry.refused << "\n";
    return;
  }
  err << "cairn check: `cairn repair " << arg << "` would help; it would have:\n";
  for (const std::string& change : dry.changes) err << "  " << change << "\n";
}

int RunRepair(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  const TArgs a = ParseArgs(args, "repair DIR/NAME [--password P]", {"--password"}, err);
  if (!a.ok) return 2;
  TRepairResult result;
  try {
    TDataSession session;
    session.AddPassword(a.password);
    result = RepairTable(session.OpenDirectory(a.directory), a.table.name);
  } catch (const ECairnEngineError& error) {
    return Fail(err, "repair stopped: " + std::string(error.what()));
  }
  if (!result.ok())
    return Fail(err, "table '" + a.table.name + "' left as it was: " + result.refused);
  for (const std::string& kept : result.kept) out << "kept a copy of the old file: " << kept << "\n";
  for (const std::string& change : result.changes) out << change << "\n";
  // The repaired table must pass the full check; say so either way.
  const std::string table_arg = a.table.base;
  return RunTableCheck(std::span<const std::string>(&table_arg, 1), out, err);
}

}  // namespace cairn::tool
