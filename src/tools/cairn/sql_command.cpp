// `cairn sql DIR "STATEMENT" [--password P] [--max-rows N]`: runs a query of
// the engine's subset over the tables of DIR, asking for a live result as
// the program does, and prints the rows as JSON lines in result order: the
// 1-based record number ("recno"), then every result column as `cairn dump`
// prints it. Standard error then gets "live" or "copied" and the row count.
// A failing statement prints the engine's message and exits 1; a copied
// result's table (in the system's temporary folder) is removed on every
// exit, and one left by a killed run is removed by the next run.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>

#include "storage/access/data_session.h"
#include "storage/access/query_statement.h"
#include "storage/base/engine_error.h"
#include "storage/files/field_codec.h"
#include "tools/cairn/cairn_values.h"
#include "tools/cairn/command.h"

namespace cairn::tool {

namespace {

constexpr std::string_view kUsage = "sql DIR \"STATEMENT\" [--password P] [--max-rows N]";

int Usage(std::ostream& err) {
  err << "usage: cairn " << kUsage << "\n";
  return 2;
}

}  // namespace

int RunSql(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  std::optional<std::string> directory, statement;
  std::string password;
  int32_t max_rows = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--password" || a == "--max-rows") {
      if (i + 1 >= args.size()) return Usage(err);
      const std::string& value = args[++i];
      if (a == "--password") {
        password = value;
      } else {
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), max_rows);
        if (ec != std::errc() || end != value.data() + value.size() || max_rows < 0) {
          err << "cairn: --max-rows needs a whole number of at least 0, not '" << value << "'\n";
          return 2;
        }
      }
    } else if (!directory) {
      directory = a;
    } else if (!statement) {
      statement = a;
    } else {
      return Usage(err);
    }
  }
  if (!directory || !statement) return Usage(err);
  std::error_code ec;
  if (!std::filesystem::is_directory(*directory, ec)) {
    err << "cairn: '" << *directory << "' is not a folder\n";
    return 1;
  }
  try {
    TDataSession session;
    session.Settings().private_directory = std::filesystem::temp_directory_path(ec).string();
    if (ec) session.Settings().private_directory = "/tmp";
    session.AddPassword(password);
    TQueryStatement query(session, session.OpenDirectory(*directory));
    query.SetText(*statement);
    query.Execute(true, max_rows);
    TDataCursor& cursor = query.Cursor();
    std::vector<uint8_t> record;
    uint32_t recno = 0;
    cursor.SetToBegin();
    while (cursor.Next(record) == CAIRN_NONE) {
      nlohmann::ordered_json line;
      line["recno"] = ++recno;
      for (const TResultField& column : query.ResultFields()) {
        const TFieldDescriptor& field = column.descriptor;
        TFieldValue value;
        if (field.IsBlob()) {
          value.bytes = cursor.ReadBlob(record, column.field);
          value.is_null = value.bytes.empty();
        } else if (auto stored = GetField(field, record)) {
          value.is_null = false;
          value.bytes.assign(stored->begin(), stored->end());
        }
        line[column.name] = FormatFieldValue(field, value);
      }
      out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }
    out.flush();
    err << (query.IsLive() ? "live" : "copied") << " " << recno << (recno == 1 ? " row" : " rows")
        << "\n";
  } catch (const ECairnEngineError& error) {
    err << "cairn: " << error.what() << "\n";
    return 1;
  } catch (const TToolError& error) {
    err << "cairn: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace cairn::tool
