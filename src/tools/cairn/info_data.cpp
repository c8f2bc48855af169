// The data file's section of `cairn info`: header and field descriptors.
#include <cstdio>
#include <ctime>

#include "storage/base/engine_error.h"
#include "storage/files/data_file.h"
#include "storage/files/field_values.h"
#include "tools/cairn/info.h"

namespace cairn::tool {

std::string FieldTypeName(uint8_t type, uint8_t subtype) {
  switch (type) {
    case kFldString:
      return subtype == kSubFixed ? "fixedchar" : subtype == kSubWide ? "widestring" : "string";
    case kFldDate:
      return "date";
    case kFldBlob:
      switch (subtype) {
        case kSubMemo:
          return "memo";
        case kSubFmtMemo:
          return "fmtmemo";
        case kSubGraphic:
          return "graphic";
        case kSubTypedBinary:
          return "typedbinary";
        default:
          return "blob";
      }
    case kFldBoolean:
      return "boolean";
    case kFldSmallInt:
      return "smallint";
    case kFldInteger:
      return subtype == kSubAutoInc ? "autoinc" : "integer";
    case kFldFloat:
      return subtype == kSubMoney ? "currency" : "float";
    case kFldBcd:
      return "bcd";
    case kFldBytes:
      return "bytes";
    case kFldTime:
      return "time";
    case kFldDateTime:
      return "datetime";
    case kFldWord:
      return "word";
    case kFldUInt32:
      return "uint32";
    case kFldExtended:
      return "extended";
    case kFldVarBytes:
      return "varbytes";
    case kFldLargeInt:
      return "largeint";
    default:
      return "type " + std::to_string(type) + "/" + std::to_string(subtype);
  }
}

std::string FormatHeaderStamp(double stamp) {
  // The stamp is the day count from 30 December 1899 less 693594.
  const double days = stamp + 2.0 * kDayNumberOf18991230;
  if (!(days >= 1 && days < 3652060)) return "invalid";
  const auto day = int32_t(days);
  auto ms = int32_t((days - day) * kMsPerDay + 0.5);
  if (ms >= kMsPerDay) ms = kMsPerDay - 1;
  return FormatDayNumber(day) + " " + FormatMs(ms).substr(0, 8);
}

void InfoData(const TTablePath& table, TInfoReport& report) {
  nlohmann::ordered_json& j = report.json["data"];
  j = nlohmann::ordered_json::object();
  j["file"] = table.DataFile();
  std::ostream& t = report.text;
  t << "\nData file " << table.DataFile() << '\n';
  TDataFile file(table.name);
  file.set_file_name(table.DataFile());
  try {
    file.Open();
  } catch (const ECairnEngineError& e) {
    j["error"] = e.what();
    t << "  error: " << e.what() << '\n';
    report.failed = true;
    return;
  }
  const TDataHeader& h = file.Header();
  auto& hj = j["header"];
  hj["changeCounter"] = h.ChangeCounter();
  hj["signature"] = h.Signature();
  hj["blobBlockSize"] = file.BlobBlockSize();
  hj["blobBlockSizeStored"] = h.BlobBlockSizeRaw();
  hj["recordSize"] = h.RecordSize();
  hj["fieldCount"] = h.FieldCount();
  hj["blobFieldCount"] = h.BlobFieldCount();
  hj["slots"] = file.RecordCount();
  hj["nextRecordNumber"] = h.NextRecordNumber();
  hj["firstDeleted"] = h.FirstDeleted();
  hj["lastAutoInc"] = h.LastAutoInc();
  hj["lastBlobRevision"] = h.LastBlobRevision();
  hj["lastUpdate"] = FormatHeaderStamp(h.TimeStamp());
  hj["description"] = file.Description();
  hj["encrypted"] = h.Encrypted();
  hj["languageId"] = h.LanguageId();
  hj["sortId"] = h.SortId();
  hj["userMajorVersion"] = h.UserMajorVersion();
  hj["userMinorVersion"] = h.UserMinorVersion();
  hj["writerVersion"] = h.WriterVersion();

  InfoLine(t, "change counter", std::to_string(h.ChangeCounter()));
  InfoLine(t, "format signature", std::to_string(h.Signature()));
  InfoLine(t, "record size", std::to_string(h.RecordSize()));
  InfoLine(t, "fields",
           std::to_string(h.FieldCount()) + " (" + std::to_string(h.BlobFieldCount()) + " blob)");
  InfoLine(t, "blob block size", std::to_string(file.BlobBlockSize()));
  InfoLine(t, "slots", std::to_string(file.RecordCount()));
  InfoLine(t, "first deleted slot", std::to_string(h.FirstDeleted()));
  InfoLine(t, "last auto-increment", std::to_string(h.LastAutoInc()));
  InfoLine(t, "last blob revision", std::to_string(h.LastBlobRevision()));
  InfoLine(t, "last update", FormatHeaderStamp(h.TimeStamp()));
  InfoLine(t, "description", file.Description());
  InfoLine(t, "encrypted", h.Encrypted() ? "yes" : "no");
  InfoLine(t, "locale",
           std::to_string(h.Locale()) + " (language " + std::to_string(h.LanguageId()) + ", sort " +
               std::to_string(h.SortId()) + ")");
  InfoLine(t, "user version",
           std::to_string(h.UserMajorVersion()) + "." + std::to_string(h.UserMinorVersion()));
  InfoLine(t, "writer version", std::to_string(h.WriterVersion()));

  std::string check = "ok";
  try {
    file.Check();
  } catch (const ECairnEngineError& e) {
    check = e.what();
  }
  j["check"] = check;
  InfoLine(t, "check", check);

  auto& fj = j["fields"];
  fj = nlohmann::ordered_json::array();
  t << "\n     #  name                            type         size scale offset  req"
    << "  case  min / max / default\n";
  for (const TFieldDescriptor& f : file.Fields()) {
    nlohmann::ordered_json e;
    e["number"] = f.FieldNumber();
    e["name"] = f.Name();
    e["type"] = FieldTypeName(f.Type(), f.Subtype());
    e["typeCode"] = f.Type();
    e["subtype"] = f.Subtype();
    e["size"] = f.DeclaredSize();
    e["scale"] = f.Scale();
    e["storageSize"] = f.StorageSize();
    e["offset"] = f.Offset();
    e["required"] = f.Required();
    e["charCase"] = f.CharCase();
    e["description"] = f.Description();
    e["min"] = f.MinValue();
    e["max"] = f.MaxValue();
    e["default"] = f.DefaultValue();
    fj.push_back(e);
    char line[160];
    static const char* kCase[] = {"-", "lower", "upper"};
    std::snprintf(line, sizeof line, "  %4u  %-30s  %-11s  %4u %5u %6u  %-3s  %-5s ",
                  unsigned(f.FieldNumber()), f.Name().c_str(),
                  FieldTypeName(f.Type(), f.Subtype()).c_str(), unsigned(f.DeclaredSize()),
                  unsigned(f.Scale()), unsigned(f.Offset()), f.Required() ? "yes" : "no",
                  f.CharCase() < 3 ? kCase[f.CharCase()] : "?");
    t << line;
    if (!f.MinValue().empty() || !f.MaxValue().empty() || !f.DefaultValue().empty()) {
      t << f.MinValue() << " / " << f.MaxValue() << " / " << f.DefaultValue();
    }
    t << '\n';
  }
}

}  // namespace cairn::tool
