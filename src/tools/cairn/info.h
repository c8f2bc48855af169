// `cairn info DIR/TABLE [--json]`: prints what the table's files say about
// themselves. The report is made of sections, one per file kind, run in the
// order of kInfoSections (info.cpp). Each section adds a member to the JSON
// report and a block of "name: value" lines to the text report. A section
// that cannot read its file records {"error": message} in its member, writes
// the message to the text, and sets `failed`; the other sections still run
// and the command then exits with 1.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/cairn/command.h"

namespace cairn::tool {

struct TInfoReport {
  nlohmann::ordered_json json;
  std::ostream& text;
  bool failed = false;
};

using TInfoSection = void (*)(const TTablePath& table, TInfoReport& report);

// The data file: header and field descriptors.
void InfoData(const TTablePath& table, TInfoReport& report);
// The index file: header counters and index descriptors.
void InfoIndex(const TTablePath& table, TInfoReport& report);
// The blob file: header, size and free list (tables with blob fields only).
void InfoBlob(const TTablePath& table, TInfoReport& report);

// Helpers shared by the sections.
void InfoLine(std::ostream& text, std::string_view key, const std::string& value);
// The schema name of a field type: "string", "memo", "autoinc", ... or
// "type N/M" for codes the engine does not name.
std::string FieldTypeName(uint8_t type, uint8_t subtype);
// The header time stamp as local "yyyy-mm-dd hh:mm:ss".
std::string FormatHeaderStamp(double stamp);

}  // namespace cairn::tool
