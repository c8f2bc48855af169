#include "storage/base/engine_error.h"

#include <gtest/gtest.h>

#include <set>

namespace cairn {
namespace {

TEST(EngineErrorTest, MessagesCarryCodeAndFormattedText) {
  ECairnEngineError e(CAIRN_HEADERCORRUPT, {"Pal"});
  EXPECT_EQ(e.code(), 8961);
  EXPECT_STREQ(e.what(), "Cairn Engine Error # 8961 Header information corrupt in the table 'Pal'");
  EXPECT_EQ(e.text(), "Header information corrupt in the table 'Pal'");

  // Texts without a placeholder ignore the arguments.
  EXPECT_EQ(ECairnEngineError(CAIRN_COMPRESS, {"Pal"}).message(),
            "Cairn Engine Error # 15001 Error compressing data");
  // Missing arguments leave the placeholder empty rather than failing.
  EXPECT_EQ(ECairnEngineError(CAIRN_EOF).text(), "End of table '' unexpectedly encountered");
  // An unknown code still gives a message.
  EXPECT_EQ(ECairnEngineError(1).message(), "Cairn Engine Error # 1 Unknown engine error");
}

template <typename Fn>
std::string RaisedText(Fn fn) {
  try {
    fn();
  } catch (const ECairnEngineError& e) {
    return e.text();
  }
  return "<nothing raised>";
}

TEST(EngineErrorTest, RaiseHelpersPutEachNameWhereTheTextWantsIt) {
  EXPECT_EQ(RaisedText([] { RaiseEngineError(CAIRN_KEYVIOL, "ByItem", "Pal"); }),
            "Duplicate key found in the index 'ByItem' of the table 'Pal'");
  EXPECT_EQ(RaisedText([] { RaiseEngineError(CAIRN_REQDERR, "Item", "Pal"); }),
            "A value must be provided for the field 'Item' in the table 'Pal'");
  EXPECT_EQ(RaisedText([] { RaiseEngineError(CAIRN_OSUNKNOWN, "5", "Pal.DAT"); }),
            "An unknown operating system error 5 occurred with the table 'Pal.DAT'");
  // The detail comes after the table in these texts.
  EXPECT_EQ(RaisedText([] { RaiseEngineError(CAIRN_INVALIDFILTER, "bad operator", "Pal"); }),
            "Filter error for the table 'Pal' - bad operator");
  EXPECT_EQ(RaisedText([] {
              RaiseEngineError(CAIRN_INVALIDIDXDESC, {"3", "ByItem", "Pal"});
            }),
            "Invalid field number '3' specified in the index 'ByItem' for the table 'Pal'");
  EXPECT_EQ(RaisedText([] { RaiseEngineError(CAIRN_NOTINITIALIZED); }),
            "The database engine is not initialized");
  EXPECT_EQ(RaisedText([] { RaiseEngineError(CAIRN_SQLPARSE, "unexpected end"); }),
            "SQL error - unexpected end");
}

TEST(EngineErrorTest, TableIsSortedUniqueAndNamedLikeItsConstants) {
  std::set<uint16_t> codes;
  for (const TErrorInfo& info : AllErrorInfo()) {
    EXPECT_TRUE(codes.insert(info.code).second) << info.code;
    EXPECT_EQ(FindErrorInfo(info.code), &info);
    // Every code a local session raises has a text of its own.
    if (info.name.find("REMOTE") == std::string_view::npos) {
      EXPECT_FALSE(info.text.empty()) << info.name;
    }
  }
  EXPECT_EQ(codes.size(), 92u);
  EXPECT_EQ(FindErrorInfo(8707), nullptr);
  EXPECT_EQ(ErrorName(8707), "");

#define EXPECT_NAMED(c) EXPECT_EQ(ErrorName(c), #c)
  EXPECT_NAMED(CAIRN_BOF);
  EXPECT_NAMED(CAIRN_EOF);
  EXPECT_NAMED(CAIRN_KEYORRECDELETED);
  EXPECT_NAMED(CAIRN_NOCURRREC);
  EXPECT_NAMED(CAIRN_RECNOTFOUND);
  EXPECT_NAMED(CAIRN_ENDOFBLOB);
  EXPECT_NAMED(CAIRN_HEADERCORRUPT);
  EXPECT_NAMED(CAIRN_FILECORRUPT);
  EXPECT_NAMED(CAIRN_MEMOCORRUPT);
  EXPECT_NAMED(CAIRN_INDEXCORRUPT);
  EXPECT_NAMED(CAIRN_READERR);
  EXPECT_NAMED(CAIRN_WRITEERR);
  EXPECT_NAMED(CAIRN_FILEDELETEFAIL);
  EXPECT_NAMED(CAIRN_FILENOACCESS);
  EXPECT_NAMED(CAIRN_RECTOOBIG);
  EXPECT_NAMED(CAIRN_TABLEFULL);
  EXPECT_NAMED(CAIRN_INTERNALLIMIT);
  EXPECT_NAMED(CAIRN_INDEXLIMIT);
  EXPECT_NAMED(CAIRN_FLDLIMIT);
  EXPECT_NAMED(CAIRN_OPENBLOBLIMIT);
  EXPECT_NAMED(CAIRN_BLOBLIMIT);
  EXPECT_NAMED(CAIRN_KEYVIOL);
  EXPECT_NAMED(CAIRN_MINVALERR);
  EXPECT_NAMED(CAIRN_MAXVALERR);
  EXPECT_NAMED(CAIRN_REQDERR);
  EXPECT_NAMED(CAIRN_OUTOFRANGE);
  EXPECT_NAMED(CAIRN_PRIMARYKEYREDEFINE);
  EXPECT_NAMED(CAIRN_INVALIDBLOBOFFSET);
  EXPECT_NAMED(CAIRN_INVALIDFLDTYPE);
  EXPECT_NAMED(CAIRN_INVALIDVCHKSTRUCT);
  EXPECT_NAMED(CAIRN_INDEXNAMEREQUIRED);
  EXPECT_NAMED(CAIRN_INVALIDPASSWORD);
  EXPECT_NAMED(CAIRN_INVALIDINDEXNAME);
  EXPECT_NAMED(CAIRN_INVALIDIDXDESC);
  EXPECT_NAMED(CAIRN_INVALIDKEY);
  EXPECT_NAMED(CAIRN_INDEXEXISTS);
  EXPECT_NAMED(CAIRN_INVALIDBLOBLEN);
  EXPECT_NAMED(CAIRN_INVALIDBLOBHANDLE);
  EXPECT_NAMED(CAIRN_TABLEOPEN);
  EXPECT_NAMED(CAIRN_INVALIDFIELDNAME);
  EXPECT_NAMED(CAIRN_NOSUCHFILTER);
  EXPECT_NAMED(CAIRN_INVALIDFILTER);
  EXPECT_NAMED(CAIRN_INVALIDINDEXDELETE);
  EXPECT_NAMED(CAIRN_LOCKED);
  EXPECT_NAMED(CAIRN_UNLOCKFAILED);
  EXPECT_NAMED(CAIRN_LOCKTIMEOUT);
  EXPECT_NAMED(CAIRN_NEEDEXCLACCESS);
  EXPECT_NAMED(CAIRN_RECLOCKFAILED);
  EXPECT_NAMED(CAIRN_NOTSUFFTABLERIGHTS);
  EXPECT_NAMED(CAIRN_NOTABLOB);
  EXPECT_NAMED(CAIRN_NOTINITIALIZED);
  EXPECT_NAMED(CAIRN_OSENOENT);
  EXPECT_NAMED(CAIRN_OSEMFILE);
  EXPECT_NAMED(CAIRN_OSEACCES);
  EXPECT_NAMED(CAIRN_OSEBADF);
  EXPECT_NAMED(CAIRN_OSENOMEM);
  EXPECT_NAMED(CAIRN_OSEINVMEM);
  EXPECT_NAMED(CAIRN_OSENODEV);
  EXPECT_NAMED(CAIRN_OSENOTSAM);
  EXPECT_NAMED(CAIRN_OSUNKNOWN);
  EXPECT_NAMED(CAIRN_REMOTECOMMLOST);
  EXPECT_NAMED(CAIRN_REMOTEUNKNOWN);
  EXPECT_NAMED(CAIRN_REMOTECONNECT);
  EXPECT_NAMED(CAIRN_REMOTENOLOGIN);
  EXPECT_NAMED(CAIRN_REMOTEMAXCONNECT);
  EXPECT_NAMED(CAIRN_REMOTEADDRESSBLOCK);
  EXPECT_NAMED(CAIRN_REMOTECALLBACK);
  EXPECT_NAMED(CAIRN_REMOTEVERSION);
  EXPECT_NAMED(CAIRN_REMOTEINVLOGIN);
  EXPECT_NAMED(CAIRN_REMOTENOTAUTH);
  EXPECT_NAMED(CAIRN_REMOTENOTADMIN);
  EXPECT_NAMED(CAIRN_REMOTEINVUSER);
  EXPECT_NAMED(CAIRN_REMOTENOUSER);
  EXPECT_NAMED(CAIRN_REMOTEDUPUSER);
  EXPECT_NAMED(CAIRN_REMOTEINVDB);
  EXPECT_NAMED(CAIRN_REMOTENODB);
  EXPECT_NAMED(CAIRN_REMOTEDUPDB);
  EXPECT_NAMED(CAIRN_REMOTEINVDBUSER);
  EXPECT_NAMED(CAIRN_REMOTENODBUSER);
  EXPECT_NAMED(CAIRN_REMOTEDUPDBUSER);
  EXPECT_NAMED(CAIRN_REMOTEINVREQUEST);
  EXPECT_NAMED(CAIRN_IMPORTERROR);
  EXPECT_NAMED(CAIRN_EXPORTERROR);
  EXPECT_NAMED(CAIRN_SQLPARSE);
  EXPECT_NAMED(CAIRN_OLDVERSION);
  EXPECT_NAMED(CAIRN_SEARCHCOLREQD);
  EXPECT_NAMED(CAIRN_TABLEEXISTS);
  EXPECT_NAMED(CAIRN_COMPRESS);
  EXPECT_NAMED(CAIRN_UNCOMPRESS);
  EXPECT_NAMED(CAIRN_CANNOTLOADLDDRV);
#undef EXPECT_NAMED
}

}  // namespace
}  // namespace cairn
