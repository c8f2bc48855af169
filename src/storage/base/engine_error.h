// The engine's error codes and the one exception every engine failure raises.
//
// ECairnEngineError carries a 16-bit code. Its message is
// "Cairn Engine Error # <code> <text>", where <text> is the code's text with
// each "%s" filled, in order, from the arguments given: the table name, or the
// index or field name followed by the table name where the text names one.
// Missing arguments become empty; surplus ones are ignored. Codes are stable:
// callers and stored logs rely on them.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace cairn {

inline constexpr uint16_t CAIRN_BOF = 8705;
inline constexpr uint16_t CAIRN_EOF = 8706;
inline constexpr uint16_t CAIRN_KEYORRECDELETED = 8708;
inline constexpr uint16_t CAIRN_NOCURRREC = 8709;
inline constexpr uint16_t CAIRN_RECNOTFOUND = 8710;
inline constexpr uint16_t CAIRN_ENDOFBLOB = 8711;
inline constexpr uint16_t CAIRN_HEADERCORRUPT = 8961;
inline constexpr uint16_t CAIRN_FILECORRUPT = 8962;
inline constexpr uint16_t CAIRN_MEMOCORRUPT = 8963;
inline constexpr uint16_t CAIRN_INDEXCORRUPT = 8965;
inline constexpr uint16_t CAIRN_READERR = 9217;
inline constexpr uint16_t CAIRN_WRITEERR = 9218;
inline constexpr uint16_t CAIRN_FILEDELETEFAIL = 9220;
inline constexpr uint16_t CAIRN_FILENOACCESS = 9221;
inline constexpr uint16_t CAIRN_RECTOOBIG = 9477;
inline constexpr uint16_t CAIRN_TABLEFULL = 9479;
inline constexpr uint16_t CAIRN_INTERNALLIMIT = 9482;
inline constexpr uint16_t CAIRN_INDEXLIMIT = 9487;
inline constexpr uint16_t CAIRN_FLDLIMIT = 9492;
inline constexpr uint16_t CAIRN_OPENBLOBLIMIT = 9494;
inline constexpr uint16_t CAIRN_BLOBLIMIT = 9498;
inline constexpr uint16_t CAIRN_KEYVIOL = 9729;
inline constexpr uint16_t CAIRN_MINVALERR = 9730;
inline constexpr uint16_t CAIRN_MAXVALERR = 9731;
inline constexpr uint16_t CAIRN_REQDERR = 9732;
inline constexpr uint16_t CAIRN_OUTOFRANGE = 9985;
inline constexpr uint16_t CAIRN_PRIMARYKEYREDEFINE = 9993;
inline constexpr uint16_t CAIRN_INVALIDBLOBOFFSET = 9998;
inline constexpr uint16_t CAIRN_INVALIDFLDTYPE = 10000;
inline constexpr uint16_t CAIRN_INVALIDVCHKSTRUCT = 10006;
inline constexpr uint16_t CAIRN_INDEXNAMEREQUIRED = 10010;
inline constexpr uint16_t CAIRN_INVALIDPASSWORD = 10015;
inline constexpr uint16_t CAIRN_INVALIDINDEXNAME = 10022;
inline constexpr uint16_t CAIRN_INVALIDIDXDESC = 10023;
inline constexpr uint16_t CAIRN_INVALIDKEY = 10026;
inline constexpr uint16_t CAIRN_INDEXEXISTS = 10027;
inline constexpr uint16_t CAIRN_INVALIDBLOBLEN = 10029;
inline constexpr uint16_t CAIRN_INVALIDBLOBHANDLE = 10030;
inline constexpr uint16_t CAIRN_TABLEOPEN = 10031;
inline constexpr uint16_t CAIRN_INVALIDFIELDNAME = 10038;
inline constexpr uint16_t CAIRN_NOSUCHFILTER = 10050;
inline constexpr uint16_t CAIRN_INVALIDFILTER = 10051;
inline constexpr uint16_t CAIRN_INVALIDINDEXDELETE = 10055;
inline constexpr uint16_t CAIRN_LOCKED = 10241;
inline constexpr uint16_t CAIRN_UNLOCKFAILED = 10242;
// The engine's own: transactions of a database (TDataDirectory).
inline constexpr uint16_t CAIRN_ACTIVETRANSACTION = 10244;
inline constexpr uint16_t CAIRN_NOACTIVETRANSACTION = 10245;
inline constexpr uint16_t CAIRN_LOCKTIMEOUT = 10249;
inline constexpr uint16_t CAIRN_NEEDEXCLACCESS = 10253;
inline constexpr uint16_t CAIRN_RECLOCKFAILED = 10258;
inline constexpr uint16_t CAIRN_NOTSUFFTABLERIGHTS = 10498;
inline constexpr uint16_t CAIRN_NOTABLOB = 10753;
inline constexpr uint16_t CAIRN_NOTINITIALIZED = 10758;
inline constexpr uint16_t CAIRN_OSENOENT = 11010;
inline constexpr uint16_t CAIRN_OSEMFILE = 11012;
inline constexpr uint16_t CAIRN_OSEACCES = 11013;
inline constexpr uint16_t CAIRN_OSEBADF = 11014;
inline constexpr uint16_t CAIRN_OSENOMEM = 11016;
inline constexpr uint16_t CAIRN_OSEINVMEM = 11017;
inline constexpr uint16_t CAIRN_OSENODEV = 11023;
inline constexpr uint16_t CAIRN_OSENOTSAM = 11025;
inline constexpr uint16_t CAIRN_OSUNKNOWN = 11047;
inline constexpr uint16_t CAIRN_REMOTECOMMLOST = 11276;
inline constexpr uint16_t CAIRN_REMOTEUNKNOWN = 11279;
inline constexpr uint16_t CAIRN_REMOTECONNECT = 11280;
inline constexpr uint16_t CAIRN_REMOTENOLOGIN = 11281;
inline constexpr uint16_t CAIRN_REMOTEMAXCONNECT = 11282;
inline constexpr uint16_t CAIRN_REMOTEADDRESSBLOCK = 11283;
inline constexpr uint16_t CAIRN_REMOTECALLBACK = 11285;
inline constexpr uint16_t CAIRN_REMOTEVERSION = 11286;
inline constexpr uint16_t CAIRN_REMOTEINVLOGIN = 11287;
inline constexpr uint16_t CAIRN_REMOTENOTAUTH = 11288;
inline constexpr uint16_t CAIRN_REMOTENOTADMIN = 11289;
inline constexpr uint16_t CAIRN_REMOTEINVUSER = 11290;
inline constexpr uint16_t CAIRN_REMOTENOUSER = 11291;
inline constexpr uint16_t CAIRN_REMOTEDUPUSER = 11292;
inline constexpr uint16_t CAIRN_REMOTEINVDB = 11293;
inline constexpr uint16_t CAIRN_REMOTENODB = 11294;
inline constexpr uint16_t CAIRN_REMOTEDUPDB = 11295;
inline constexpr uint16_t CAIRN_REMOTEINVDBUSER = 11296;
inline constexpr uint16_t CAIRN_REMOTENODBUSER = 11297;
inline constexpr uint16_t CAIRN_REMOTEDUPDBUSER = 11298;
inline constexpr uint16_t CAIRN_REMOTEINVREQUEST = 11299;
inline constexpr uint16_t CAIRN_IMPORTERROR = 11300;
inline constexpr uint16_t CAIRN_EXPORTERROR = 11301;
inline constexpr uint16_t CAIRN_SQLPARSE = 11949;
inline constexpr uint16_t CAIRN_OLDVERSION = 12035;
inline constexpr uint16_t CAIRN_SEARCHCOLREQD = 12292;
inline constexpr uint16_t CAIRN_TABLEEXISTS = 13060;
inline constexpr uint16_t CAIRN_COMPRESS = 15001;
inline constexpr uint16_t CAIRN_UNCOMPRESS = 15002;
inline constexpr uint16_t CAIRN_CANNOTLOADLDDRV = 15878;

// One row of the error table.
struct TErrorInfo {
  uint16_t code;
  std::string_view name;  // e.g. "CAIRN_HEADERCORRUPT"
  std::string_view text;  // with "%s" placeholders
};

// The row for `code`, or nullptr when the code is not the engine's.
const TErrorInfo* FindErrorInfo(uint16_t code);
// Name and text of `code`; empty for an unknown code.
std::string_view ErrorName(uint16_t code);
std::string_view ErrorText(uint16_t code);
// Every row, in ascending code order.
std::span<const TErrorInfo> AllErrorInfo();

// The code's text with each "%s" replaced by the next argument. An unknown
// code gives "Unknown engine error" so a message is never empty.
std::string FormatErrorText(uint16_t code, std::initializer_list<std::string_view> args);

class ECairnEngineError : public std::exception {
 public:
  // Formats the code's text with `args` (see FormatErrorText).
  ECairnEngineError(uint16_t code, std::initializer_list<std::string_view> args);
  explicit ECairnEngineError(uint16_t code) : ECairnEngineError(code, {}) {}

  uint16_t code() const noexcept { return code_; }
  // The formatted text alone, without the "Cairn Engine Error # <code> " prefix.
  const std::string& text() const noexcept { return text_; }
  // The whole message.
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  uint16_t code_;
  std::string text_;
  std::string message_;
};

// Raise helpers. `table` goes where the text names the table; `name` is the
// other argument: the index or field name (or the operating-system error
// number) for texts that name it before the table, the detail for the few
// texts that put it after the table (CAIRN_INVALIDFILTER, CAIRN_IMPORTERROR,
// CAIRN_EXPORTERROR). Texts with three placeholders take the list form.
[[noreturn]] void RaiseEngineError(uint16_t code);
[[noreturn]] void RaiseEngineError(uint16_t code, std::string_view table);
[[noreturn]] void RaiseEngineError(uint16_t code, std::string_view name, std::string_view table);
[[noreturn]] void RaiseEngineError(uint16_t code, std::initializer_list<std::string_view> args);

}  // namespace cairn
