// The subcommands of the `cairn` tool. Each is a function taking its
// arguments (after the subcommand's name) and two streams; it returns the
// process exit code: 0 success, 1 failure (message on `err`), 2 bad usage.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace cairn::tool {

using TCommandFn = int (*)(std::span<const std::string> args, std::ostream& out, std::ostream& err);

struct TCommand {
  std::string_view name;
  std::string_view usage;    // e.g. "info DIR/TABLE [--json]"
  std::string_view summary;  // one line for the help text
  TCommandFn run;
};

// A table named on the command line as DIR/TABLE (a trailing ".DAT",
// ".IDX" or ".BLB" is accepted and dropped).
struct TTablePath {
  std::string base;  // DIR/TABLE, to which the extensions are appended
  std::string name;  // TABLE, for messages
  std::string DataFile() const { return base + ".DAT"; }
  std::string IndexFile() const { return base + ".IDX"; }
  std::string BlobFile() const { return base + ".BLB"; }
};
TTablePath ParseTablePath(std::string_view arg);

}  // namespace cairn::tool
