#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/program_path.h"

namespace tarn {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

class SettingsTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  QString ini_ = dir_.filePath("Settings.INI");
};

TEST_F(SettingsTest, PathIsTheProgramPathWithIniExtension) {
  TScopedProgramPath program(dir_.filePath("tarn"));
  EXPECT_EQ(SettingsPath(), dir_.filePath("tarn.INI"));
  TScopedProgramPath windows_like(dir_.filePath("Tarn.exe"));
  EXPECT_EQ(SettingsPath(), dir_.filePath("Tarn.INI"));
}

TEST_F(SettingsTest, MissingFileOrSectionGivesDefaultsAndSavingWritesAllKeys) {
  TProcessValues values;
  values.Grad1Str = "clRed";  // must be replaced by the default
  LoadSettings(ini_, values);
  EXPECT_EQ(values.Grad1Str, "clBlue");
  EXPECT_EQ(values.Grad2Str, "clLime");
  EXPECT_EQ(values.Grad3Str, "$00BBFFFF");
  EXPECT_EQ(values.Grad4Str, "$00FF9191");
  EXPECT_EQ(values.StartColStr, "clLime");

  WriteAll(ini_, "[Other]\r\nKey=1\r\n");
  values.Grad2Str = "clRed";
  LoadSettings(ini_, values);
  EXPECT_EQ(values.Grad2Str, "clLime");
  SaveSettings(ini_, values);
  EXPECT_EQ(ReadAll(ini_),
            "[Other]\r\nKey=1\r\n[Detail]\r\nGrad1Str=clBlue\r\nGrad2Str=clLime\r\n"
            "Grad3Str=$00BBFFFF\r\nGrad4Str=$00FF9191\r\nStartColStr=clLime\r\n");
}

TEST_F(SettingsTest, EmptyValueTakesTheDefaultNotBlack) {
  WriteAll(ini_, "[Detail]\r\nGrad1Str=\r\nGrad3Str=  \r\nGrad4Str=clNavy\r\n");
  TProcessValues values;
  LoadSettings(ini_, values);
  EXPECT_EQ(values.Grad1Str, "clBlue");
  EXPECT_EQ(values.Grad3Str, "$00BBFFFF");
  EXPECT_EQ(values.Grad4Str, "clNavy");
}

TEST_F(SettingsTest, SavingReplacesValuesInPlaceAndKeepsTheRest) {
  WriteAll(ini_, "; kept\n[detail]\nStartColStr = clRed\nExtra=yes\n\n[Later]\nGrad1Str=keep\n");
  TProcessValues values;
  LoadSettings(ini_, values);
  EXPECT_EQ(values.StartColStr, "clRed");
  values.StartColStr = "$00123456";
  values.Grad1Str = "clNavy";
  SaveSettings(ini_, values);
  EXPECT_EQ(ReadAll(ini_),
            "; kept\r\n[detail]\r\nStartColStr=$00123456\r\nExtra=yes\r\nGrad1Str=clNavy\r\n"
            "Grad2Str=clLime\r\nGrad3Str=$00BBFFFF\r\nGrad4Str=$00FF9191\r\n\r\n[Later]\r\n"
            "Grad1Str=keep\r\n");
  TProcessValues again;
  LoadSettings(ini_, again);
  EXPECT_EQ(again.StartColStr, "$00123456");
  EXPECT_EQ(again.Grad1Str, "clNavy");
}

TEST_F(SettingsTest, MalformedColourIsKeptAsTyped) {
  WriteAll(ini_, "[Detail]\r\nGrad2Str=clPinkish\r\n");
  TProcessValues values;
  LoadSettings(ini_, values);
  EXPECT_EQ(values.Grad2Str, "clPinkish");
  SaveSettings(ini_, values);
  TProcessValues again;
  LoadSettings(ini_, again);
  EXPECT_EQ(again.Grad2Str, "clPinkish");
}

TEST_F(SettingsTest, UnwritableFileFailsWithItsPathAndIsLeftAlone) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  WriteAll(ini_, "[Detail]\r\nGrad1Str=clRed\r\n");
  ASSERT_EQ(::chmod(QFile::encodeName(ini_).constData(), 0444), 0);
  TProcessValues values;
  try {
    SaveSettings(ini_, values);
    FAIL() << "no error";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini_.toStdString());
  }
  EXPECT_EQ(ReadAll(ini_), "[Detail]\r\nGrad1Str=clRed\r\n");
}

TEST_F(SettingsTest, PathTakenByAFolderFailsAndLeavesNoTemporaryBehind) {
  ASSERT_TRUE(QDir().mkpath(ini_));
  EXPECT_THROW(SaveSettings(ini_, TProcessValues{}), EIniFileException);
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
}

TEST_F(SettingsTest, MissingFolderFailsWithItsPath) {
  const QString nowhere = dir_.filePath("no/such/folder/tarn.INI");
  EXPECT_THROW(SaveSettings(nowhere, TProcessValues{}), EIniFileException);
}

}  // namespace
}  // namespace tarn
