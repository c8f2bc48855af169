#include "tools/cairn/info.h"

#include <iostream>
#include <sstream>

namespace cairn::tool {
namespace {

// One line per file kind; the data file comes first.
const TInfoSection kInfoSections[] = {
    InfoData,
    InfoIndex,
    InfoBlob,
};

}  // namespace

void InfoLine(std::ostream& text, std::string_view key, const std::string& value) {
  std::string padded(key);
  padded += ':';
  if (padded.size() < 22) padded.resize(22, ' ');
  text << "  " << padded << ' ' << value << '\n';
}

int RunInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  bool json = false;
  std::string table_arg;
  for (const std::string& a : args) {
    if (a == "--json") {
      json = true;
    } else if (!a.empty() && a[0] == '-') {
      err << "cairn info: unknown option '" << a << "'\n";
      return 2;
    } else if (table_arg.empty()) {
      table_arg = a;
    } else {
      err << "cairn info: more than one table given\n";
      return 2;
    }
  }
  if (table_arg.empty()) {
    err << "usage: cairn info DIR/TABLE [--json]\n";
    return 2;
  }
  const TTablePath table = ParseTablePath(table_arg);
  std::ostringstream text;
  TInfoReport report{nlohmann::ordered_json::object(), text};
  report.json["table"] = table.name;
  text << "Table " << table.name << '\n';
  for (TInfoSection section : kInfoSections) section(table, report);
  if (json) {
    out << report.json.dump(2) << '\n';
  } else {
    out << text.str();
  }
  if (report.failed)
    err << "cairn info: some files of table '" << table.name << "' could not be read\n";
  return report.failed ? 1 : 0;
}

}  // namespace cairn::tool
