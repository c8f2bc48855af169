// `cairn create`, `cairn apply`, `cairn dump`, the table-wide `cairn check`
// and `cairn repair`, which run through the engine's sessions and cursors.
// Bad input is reported with a message naming the problem before the table
// is touched.
#pragma once

#include <istream>
#include <ostream>
#include <span>
#include <string>

namespace cairn::tool {

int RunCreate(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunApply(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunDump(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunTableCheck(std::span<const std::string> args, std::ostream& out, std::ostream& err);
// `cairn repair`: rebuilds the index file and frees leaked blob
// blocks, then checks the table again.
int RunRepair(std::span<const std::string> args, std::ostream& out, std::ostream& err);
// What `cairn check` adds after faults: whether a repair would help, and why not.
void AdviseRepair(const std::string& directory, const std::string& table, const std::string& arg,
                  std::ostream& err);

// The body of `cairn apply`, reading the operations from `in`.
int ApplyOperations(std::span<const std::string> args, std::istream& in, std::ostream& out,
                    std::ostream& err);

}  // namespace cairn::tool
