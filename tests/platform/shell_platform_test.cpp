#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/profile_file.h"
#include "platform/program_files.h"
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

QByteArray ReadAll(const QString& path);

void WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(path.left(path.lastIndexOf('/')));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

TEST(ProgramFilesTest, WritableProgramFolderKeepsEverythingBesideTheProgram) {
  QTemporaryDir dir;
  TScopedProgramPath program(dir.filePath("bin/tarn"));
  TScopedProgramFolderWritable writable(true);
  EXPECT_EQ(SettingsFilePath(), dir.filePath("bin/tarn.INI"));
  EXPECT_EQ(LogFilePath(), dir.filePath("bin/tarn.Log"));
  EXPECT_EQ(DataFolderPath(), dir.filePath("bin/Data"));
  EXPECT_EQ(ProvideDataFolder(), "");
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("bin/Data")));  // never created by the program
}

TEST(ProgramFilesTest, InstalledProgramUsesXdgFoldersAndCopiesTheTableOnce) {
  QTemporaryDir dir;
  qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
  qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
  WriteFile(dir.filePath("usr/bin/tarn"), "program");
  TScopedProgramPath program(dir.filePath("usr/bin/tarn"));
  TScopedProgramFolderWritable installed(false);
  // Before anything is delivered there is nothing to copy, and that is said.
  EXPECT_NE(ProvideDataFolder(), "");
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("data/tarn/Data/Pal.DAT")));
  for (const char* name : {"Pal.DAT", "Pal.IDX", "Pal.BLB"})
    WriteFile(dir.filePath(QString("usr/share/tarn/Data/") + name), QByteArray("delivered ") + name);

  EXPECT_EQ(SettingsFilePath(), dir.filePath("config/tarn/tarn.INI"));
  EXPECT_EQ(LogFilePath(), dir.filePath("data/tarn/tarn.Log"));
  EXPECT_EQ(DataFolderPath(), dir.filePath("data/tarn/Data"));
  EXPECT_EQ(QDir::cleanPath(DeliveredDataFolder()), dir.filePath("usr/share/tarn/Data"));
  EXPECT_EQ(ProvideDataFolder(), "");
  EXPECT_EQ(ReadAll(dir.filePath("data/tarn/Data/Pal.IDX")), "delivered Pal.IDX");
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("data/tarn/Data/Pal.IDX.part")));
  // The user's table is never overwritten by a later start.
  WriteFile(dir.filePath("data/tarn/Data/Pal.DAT"), "records");
  EXPECT_EQ(ProvideDataFolder(), "");
  EXPECT_EQ(ReadAll(dir.filePath("data/tarn/Data/Pal.DAT")), "records");
  qunsetenv("XDG_CONFIG_HOME");
  qunsetenv("XDG_DATA_HOME");
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
