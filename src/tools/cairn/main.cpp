// cairn: the table engine's shell. A small dispatcher: each subcommand lives
// in its own file and is listed once in kCommands below.
#include <iostream>
#include <string>
#include <vector>

#include "tools/cairn/command.h"
#include "tools/cairn/tables_commands.h"

namespace cairn::tool {
int RunInfo(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunSql(std::span<const std::string> args, std::ostream& out, std::ostream& err);
}  // namespace cairn::tool

namespace {

using cairn::tool::TCommand;

const TCommand kCommands[] = {
    {"info", "info DIR/TABLE [--json]", "print the table's file headers and descriptors",
     cairn::tool::RunInfo},
    {"check", "check DIR/TABLE",
     "verify the index file and the records, indexes and blob chains against each other; exit 1 "
     "on any fault",
     cairn::tool::RunTableCheck},
    {"create", "create DIR/TABLE --schema FILE.json", "create a table from a JSON schema",
     cairn::tool::RunCreate},
    {"apply", "apply DIR/TABLE [--password P] [--transaction] < ops.jsonl",
     "insert, update and delete records, one JSON operation a line; stops at the first failure "
     "(with --transaction, all lines or none)",
     cairn::tool::RunApply},
    {"repair", "repair DIR/TABLE [--password P]",
     "rebuild the index file from the records and free blob blocks no record reaches; keeps a "
     "copy of the old files",
     cairn::tool::RunRepair},
    {"dump", "dump DIR/TABLE [--index NAME] [--password P]",
     "print the active records as JSON lines in index order", cairn::tool::RunDump},
    {"sql", "sql DIR \"STATEMENT\" [--password P] [--max-rows N]",
     "run a SELECT ... ORDER BY query and print its rows as JSON lines; standard error says "
     "whether the result was live or copied and how many rows it had",
     cairn::tool::RunSql},
};

void PrintUsage(std::ostream& out) {
  out << "usage: cairn COMMAND ARGS...\n\ncommands:\n";
  for (const TCommand& c : kCommands) {
    out << "  cairn " << c.usage << "\n      " << c.summary << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(args.empty() ? std::cerr : std::cout);
    return args.empty() ? 2 : 0;
  }
  for (const TCommand& c : kCommands) {
    if (c.name == args[0]) {
      return c.run(std::span<const std::string>(args).subspan(1), std::cout, std::cerr);
    }
  }
  std::cerr << "cairn: unknown command '" << args[0] << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
