// The index file's section of `cairn info`: header counters and the
// descriptor of every index (primary, secondary, record-status, text).
#include <filesystem>
#include <sstream>

#include "storage/base/engine_error.h"
#include "storage/access/index_file.h"
#include "storage/access/index_table_info.h"
#include "storage/files/data_file.h"
#include "tools/cairn/info.h"

namespace cairn::tool {

namespace {

const char* CompressionName(uint8_t c) {
  switch (c) {
    case kCompressNone:
      return "none";
    case kCompressDuplicate:
      return "duplicate";
    case kCompressTrailing:
      return "trailing";
    case kCompressFull:
      return "full";
    default:
      return "unknown";
  }
}

}  // namespace

void InfoIndex(const TTablePath& table, TInfoReport& report) {
  nlohmann::ordered_json& j = report.json["index"];
  j = nlohmann::ordered_json::object();
  j["file"] = table.IndexFile();
  std::ostream& t = report.text;
  t << "\nIndex file " << table.IndexFile() << '\n';
  if (!std::filesystem::exists(table.IndexFile())) {
    // Not an error: opening the table makes a fresh one.
    j["missing"] = true;
    InfoLine(t, "missing", "a fresh index file is made when the table opens");
    return;
  }
  try {
    TDataFile data(table.name);
    data.set_file_name(table.DataFile());
    data.Open();
    TIndexFile file(IndexTableInfoOf(data));
    data.Close();
    file.set_file_name(table.IndexFile());
    file.OpenIndexFile();
    const auto& h = file.header();
    j["changeCounter"] = file.change_counter();
    j["nextPage"] = le::I32(&h[hdr::kNextPage]);
    j["secondaryIndexes"] = file.secondary_count();
    j["activeRecords"] = file.active_count();
    j["noPrimaryKey"] = file.no_primary_key();
    InfoLine(t, "change counter", std::to_string(file.change_counter()));
    InfoLine(t, "next page", std::to_string(le::I32(&h[hdr::kNextPage])));
    InfoLine(t, "secondary indexes", std::to_string(file.secondary_count()));
    InfoLine(t, "active records", std::to_string(file.active_count()));
    InfoLine(t, "no primary key", file.no_primary_key() ? "yes" : "no");
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (int i = 0; i < kIndexCount; ++i) {
      if (i > file.secondary_count() && i < kStatusIndex) continue;
      const TIndexDescriptor d = file.Descriptor(i);
      nlohmann::ordered_json e;
      e["number"] = i;
      e["name"] = i == 0 ? std::string("(primary)") : d.name;
      e["keyLength"] = d.key_length;
      e["unique"] = d.unique;
      e["descending"] = d.descending;
      e["caseInsensitive"] = d.case_insensitive;
      e["compression"] = CompressionName(d.compression);
      nlohmann::ordered_json fields = nlohmann::ordered_json::array();
      std::string field_text;
      for (int f = 0; f < d.field_count && f < kMaxKeyFields; ++f) {
        std::string name = std::to_string(d.fields[f]);
        for (const TKeyField& k : file.info().fields)
          if (k.number == d.fields[f]) name = k.name;
        if (d.field_descending[f]) name += " desc";
        fields.push_back(name);
        field_text += (f ? ", " : "") + name;
      }
      e["fields"] = fields;
      e["root"] = d.root;
      e["freeList"] = d.free_head;
      e["noCounts"] = d.no_counts;
      list.push_back(e);
      std::ostringstream line;
      line << "key " << d.key_length << (d.unique ? ", unique" : "")
           << (d.descending ? ", descending" : "") << (d.case_insensitive ? ", no case" : "")
           << ", compression " << CompressionName(d.compression) << ", root " << d.root << ", free "
           << d.free_head << (field_text.empty() ? "" : ", fields " + field_text);
      InfoLine(t, "index " + std::to_string(i) + " " + e["name"].get<std::string>(), line.str());
    }
    j["indexes"] = list;
    file.CloseIndexFile();
  } catch (const ECairnEngineError& e) {
    j["error"] = e.what();
    t << "  " << e.what() << '\n';
    report.failed = true;
  }
}

}  // namespace cairn::tool
