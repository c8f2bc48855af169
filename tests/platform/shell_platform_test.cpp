#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/profile_file.h"
#include "platform/program_path.h"

namespace tarn {
namespace {

TEST(ProgramPathTest, ExtensionIsReplacedOnTheLastComponentOnly) {
  EXPECT_EQ(ChangeFileExt("/opt/tarn/bin/tarn", ".INI"), "/opt/tarn/bin/tarn.INI");
  EXPECT_EQ(ChangeFileExt("/opt/tarn.d/bin/tarn", ".Log"), "/opt/tarn.d/bin/tarn.Log");
  EXPECT_EQ(ChangeFileExt("/opt/Tarn.exe", ".INI"), "/opt/Tarn.INI");
  EXPECT_EQ(ChangeFileExt("/opt/a.b.c", ".INI"), "/opt/a.b.INI");
}

TEST(ProgramPathTest, OverridesNestAndFolderEndsWithASeparator) {
  {
    TScopedProgramPath outer("/x/y/tarn");
    EXPECT_EQ(ProgramFolder(), "/x/y/");
    {
      TScopedProgramPath inner("/z/tarn");
      EXPECT_EQ(ProgramPath(), "/z/tarn");
    }
    EXPECT_EQ(ProgramPath(), "/x/y/tarn");
  }
  EXPECT_NE(ProgramPath(), "/x/y/tarn");
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ProfileFileTest, ReadsLikeThePlatformReader) {
  QTemporaryDir dir;
  const QString path = dir.filePath("p.INI");
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[A]\nk1 = \"quoted value\" \nK2=x=y\n[ b ]\nk1=other\nnoequals\n");
  f.close();
  const TProfileFile file(path);
  EXPECT_EQ(file.ReadString("a", "K1"), "quoted value");
  EXPECT_EQ(file.ReadString("A", "k2"), "x=y");
  EXPECT_EQ(file.ReadString("B", "k1"), "other");
  EXPECT_EQ(file.ReadString("B", "k2", "fallback"), "fallback");
  EXPECT_EQ(file.ReadString("C", "k1", "fallback"), "fallback");
  EXPECT_TRUE(file.HasKey("A", "K2"));
}

TEST(ProfileFileTest, SaveKeepsTheFileModeAndReplacesAtomically) {
  QTemporaryDir dir;
  const QString path = dir.filePath("p.INI");
  TProfileFile first(path);
  first.WriteString("S", "K", "1");
  ASSERT_TRUE(first.Save());
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
  TProfileFile second(path);
  second.WriteString("S", "K", "2");
  second.WriteString("S", "L", "3");
  ASSERT_TRUE(second.Save());
  EXPECT_EQ(ReadAll(path), "[S]\r\nK=2\r\nL=3\r\n");
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.INI"});
}

TEST(ProfileFileTest, FailedSaveGivesTheReason) {
  QTemporaryDir dir;
  TProfileFile file(dir.filePath("gone/p.INI"));
  file.WriteString("S", "K", "1");
  QString reason;
  EXPECT_FALSE(file.Save(&reason));
  EXPECT_FALSE(reason.isEmpty());
}

}  // namespace
}  // namespace tarn
