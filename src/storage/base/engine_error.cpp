#include "storage/base/engine_error.h"

#include <algorithm>
#include <array>

namespace cairn {
namespace {

// Codes used only by remote sessions have no text of their own; their name is
// shown instead.
constexpr std::array<TErrorInfo, 92> kErrors = {{
    {8705, "CAIRN_BOF", "Beginning of table '%s' unexpectedly encountered"},
    {8706, "CAIRN_EOF", "End of table '%s' unexpectedly encountered"},
    {8708, "CAIRN_KEYORRECDELETED",
     "Record has been changed or deleted by another user, session, or table cursor in the table "
     "'%s'"},
    {8709, "CAIRN_NOCURRREC", "No current record in the table '%s'"},
    {8710, "CAIRN_RECNOTFOUND", "Record not found in the table '%s'"},
    {8711, "CAIRN_ENDOFBLOB", "End of blob data in the table '%s' reached prematurely"},
    {8961, "CAIRN_HEADERCORRUPT", "Header information corrupt in the table '%s'"},
    {8962, "CAIRN_FILECORRUPT", "Data record buffers corrupt in the table '%s'"},
    {8963, "CAIRN_MEMOCORRUPT", "BLOB block buffers corrupt in the table '%s'"},
    {8965, "CAIRN_INDEXCORRUPT", "Index page buffers corrupt in the table '%s'"},
    {9217, "CAIRN_READERR", "Error reading from the table '%s'"},
    {9218, "CAIRN_WRITEERR", "Error writing to the table '%s'"},
    {9220, "CAIRN_FILEDELETEFAIL", "Cannot delete the table '%s'"},
    {9221, "CAIRN_FILENOACCESS", "Error accessing header information for the table '%s'"},
    {9477, "CAIRN_RECTOOBIG", "Maximum record size exceeded in the table '%s'"},
    {9479, "CAIRN_TABLEFULL", "The table '%s' is full and cannot contain any more data"},
    {9482, "CAIRN_INTERNALLIMIT", "Too many filters defined for the table '%s'"},
    {9487, "CAIRN_INDEXLIMIT",
     "Maximum or minimum limits on number of indexes or fields in an index exceeded in the table "
     "'%s'"},
    {9492, "CAIRN_FLDLIMIT",
     "Maximum or minimum limits on number of fields, auto-increment field value, or field size "
     "exceeded in the table '%s'"},
    {9494, "CAIRN_OPENBLOBLIMIT", "Too many blobs opened in the table '%s'"},
    {9498, "CAIRN_BLOBLIMIT",
     "Too many blob fields or invalid blob block size specified for the table '%s'"},
    {9729, "CAIRN_KEYVIOL", "Duplicate key found in the index '%s' of the table '%s'"},
    {9730, "CAIRN_MINVALERR",
     "The value for the field '%s' in the table '%s' is below the minimum allowable value"},
    {9731, "CAIRN_MAXVALERR",
     "The value for the field '%s' in the table '%s' is above the maximum allowable value"},
    {9732, "CAIRN_REQDERR", "A value must be provided for the field '%s' in the table '%s'"},
    {9985, "CAIRN_OUTOFRANGE", "Invalid field number or name '%s' specified for the table '%s'"},
    {9993, "CAIRN_PRIMARYKEYREDEFINE",
     "A primary index is already defined for the table '%s' and cannot be added again"},
    {9998, "CAIRN_INVALIDBLOBOFFSET", "Invalid blob offset into the table '%s' specified"},
    {10000, "CAIRN_INVALIDFLDTYPE",
     "Invalid field definition specified for the field '%s' in the table '%s'"},
    {10006, "CAIRN_INVALIDVCHKSTRUCT",
     "Invalid default, min or max validity check, or expression specified for the field '%s' in "
     "the table '%s'"},
    {10010, "CAIRN_INDEXNAMEREQUIRED",
     "The secondary index name is missing or not specified for the table '%s'"},
    {10015, "CAIRN_INVALIDPASSWORD", "Password provided for the table '%s' is invalid"},
    {10022, "CAIRN_INVALIDINDEXNAME",
     "Invalid secondary index name '%s' specified for the table '%s'"},
    {10023, "CAIRN_INVALIDIDXDESC",
     "Invalid field number '%s' specified in the index '%s' for the table '%s'"},
    {10026, "CAIRN_INVALIDKEY", "Invalid key size specified in the index '%s' for the table '%s'"},
    {10027, "CAIRN_INDEXEXISTS", "The secondary index '%s' already exists for the table '%s'"},
    {10029, "CAIRN_INVALIDBLOBLEN", "Invalid blob length in the table '%s'"},
    {10030, "CAIRN_INVALIDBLOBHANDLE", "Invalid blob handle for the table '%s' specified"},
    {10031, "CAIRN_TABLEOPEN", "The table '%s' is already in use"},
    {10038, "CAIRN_INVALIDFIELDNAME",
     "Invalid or duplicate field name '%s' specified for the table '%s'"},
    {10050, "CAIRN_NOSUCHFILTER", "Invalid filter handle specified for the table '%s'"},
    {10051, "CAIRN_INVALIDFILTER", "Filter error for the table '%s' - %s"},
    {10055, "CAIRN_INVALIDINDEXDELETE", "The primary index cannot be removed from the table '%s'"},
    {10241, "CAIRN_LOCKED", "The table '%s' is already locked by another user"},
    {10242, "CAIRN_UNLOCKFAILED", "Cannot unlock table or record in the table '%s'"},
    {10244, "CAIRN_ACTIVETRANSACTION",
     "A transaction is already active for the database '%s'; transactions do not nest"},
    {10245, "CAIRN_NOACTIVETRANSACTION", "No transaction is active for the database '%s'"},
    {10249, "CAIRN_LOCKTIMEOUT", "General lock failure with the table '%s'"},
    {10253, "CAIRN_NEEDEXCLACCESS", "The table '%s' must be opened exclusively"},
    {10258, "CAIRN_RECLOCKFAILED", "Record in the table '%s' is in use by another user"},
    {10498, "CAIRN_NOTSUFFTABLERIGHTS",
     "Insufficient rights to the table '%s', a password is required"},
    {10753, "CAIRN_NOTABLOB", "Invalid blob field '%s' specified for the table '%s'"},
    {10758, "CAIRN_NOTINITIALIZED", "The database engine is not initialized"},
    {11010, "CAIRN_OSENOENT", "Table '%s' does not exist"},
    {11012, "CAIRN_OSEMFILE",
     "Too many operating system files open while attempting to open the table '%s'"},
    {11013, "CAIRN_OSEACCES", "Access denied to table '%s'"},
    {11014, "CAIRN_OSEBADF", "Invalid operating system file handle for the table '%s'"},
    {11016, "CAIRN_OSENOMEM",
     "There is insufficient operating system memory available for the current operation"},
    {11017, "CAIRN_OSEINVMEM", "Invalid length for the in-memory table '%s'"},
    {11023, "CAIRN_OSENODEV",
     "Access denied to logical operating system device for the table '%s'"},
    {11025, "CAIRN_OSENOTSAM", "The table '%s' has been moved"},
    {11047, "CAIRN_OSUNKNOWN", "An unknown operating system error %s occurred with the table '%s'"},
    {11276, "CAIRN_REMOTECOMMLOST", ""},
    {11279, "CAIRN_REMOTEUNKNOWN", ""},
    {11280, "CAIRN_REMOTECONNECT", ""},
    {11281, "CAIRN_REMOTENOLOGIN", ""},
    {11282, "CAIRN_REMOTEMAXCONNECT", ""},
    {11283, "CAIRN_REMOTEADDRESSBLOCK", ""},
    {11285, "CAIRN_REMOTECALLBACK", ""},
    {11286, "CAIRN_REMOTEVERSION", ""},
    {11287, "CAIRN_REMOTEINVLOGIN", ""},
    {11288, "CAIRN_REMOTENOTAUTH", ""},
    {11289, "CAIRN_REMOTENOTADMIN", ""},
    {11290, "CAIRN_REMOTEINVUSER", ""},
    {11291, "CAIRN_REMOTENOUSER", ""},
    {11292, "CAIRN_REMOTEDUPUSER", ""},
    {11293, "CAIRN_REMOTEINVDB", ""},
    {11294, "CAIRN_REMOTENODB", ""},
    {11295, "CAIRN_REMOTEDUPDB", ""},
    {11296, "CAIRN_REMOTEINVDBUSER", ""},
    {11297, "CAIRN_REMOTENODBUSER", ""},
    {11298, "CAIRN_REMOTEDUPDBUSER", ""},
    {11299, "CAIRN_REMOTEINVREQUEST", ""},
    {11300, "CAIRN_IMPORTERROR", "An error occurred during the import into the table '%s' - %s"},
    {11301, "CAIRN_EXPORTERROR", "An error occurred during the export from the table '%s' - %s"},
    {11949, "CAIRN_SQLPARSE", "SQL error - %s"},
    {12035, "CAIRN_OLDVERSION", "The table '%s' is not the correct version"},
    {12292, "CAIRN_SEARCHCOLREQD",
     "Invalid field '%s' specified for the index '%s' in the table '%s'"},
    {13060, "CAIRN_TABLEEXISTS", "The table '%s' already exists"},
    {15001, "CAIRN_COMPRESS", "Error compressing data"},
    {15002, "CAIRN_UNCOMPRESS", "Error uncompressing data"},
    {15878, "CAIRN_CANNOTLOADLDDRV",
     "The language driver for the table '%s' is not available or installed"},
}};

static_assert(std::is_sorted(kErrors.begin(), kErrors.end(),
                             [](const TErrorInfo& a, const TErrorInfo& b) {
                               return a.code < b.code;
                             }));

// Texts whose table placeholder comes before the free detail placeholder.
bool TableComesFirst(uint16_t code) {
  return code == CAIRN_INVALIDFILTER || code == CAIRN_IMPORTERROR || code == CAIRN_EXPORTERROR;
}

}  // namespace

const TErrorInfo* FindErrorInfo(uint16_t code) {
  auto it = std::lower_bound(kErrors.begin(), kErrors.end(), code,
                             [](const TErrorInfo& e, uint16_t c) { return e.code < c; });
  return (it != kErrors.end() && it->code == code) ? &*it : nullptr;
}

std::string_view ErrorName(uint16_t code) {
  const TErrorInfo* info = FindErrorInfo(code);
  return info ? info->name : std::string_view();
}

std::string_view ErrorText(uint16_t code) {
  const TErrorInfo* info = FindErrorInfo(code);
  return info ? info->text : std::string_view();
}

std::span<const TErrorInfo> AllErrorInfo() { return kErrors; }

std::string FormatErrorText(uint16_t code, std::initializer_list<std::string_view> args) {
  const TErrorInfo* info = FindErrorInfo(code);
  if (info == nullptr) return "Unknown engine error";
  if (info->text.empty()) return std::string(info->name);
  std::string out;
  std::string_view text = info->text;
  auto arg = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's') {
      if (arg != args.end()) out += *arg++;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

ECairnEngineError::ECairnEngineError(uint16_t code, std::initializer_list<std::string_view> args)
    : code_(code), text_(FormatErrorText(code, args)) {
  message_ = "Cairn Engine Error # " + std::to_string(code_) + " " + text_;
}

void RaiseEngineError(uint16_t code) { throw ECairnEngineError(code); }

void RaiseEngineError(uint16_t code, std::string_view table) {
  throw ECairnEngineError(code, {table});
}

void RaiseEngineError(uint16_t code, std::string_view name, std::string_view table) {
  if (TableComesFirst(code)) throw ECairnEngineError(code, {table, name});
  throw ECairnEngineError(code, {name, table});
}

void RaiseEngineError(uint16_t code, std::initializer_list<std::string_view> args) {
  throw ECairnEngineError(code, args);
}

}  // namespace cairn
