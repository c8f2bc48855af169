#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace tarn {
namespace {

namespace fs = std::filesystem;

constexpr char kKey[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tarn-reg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    file_ = root_ / "cfg" / "tarn" / "registry.json";
  }
  void TearDown() override { fs::remove_all(root_); }

  int TempFiles() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(file_.parent_path())) {
      n += e.path().filename().string().find(".tmp-") != std::string::npos;
    }
    return n;
  }

  fs::path root_, file_;
};

mode_t Mode(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return st.st_mode & 0777;
}

TEST_F(RegistryTest, StringsRoundTripAndOtherValuesSurvive) {
  FileRegistry reg(file_);
  EXPECT_EQ(reg.ReadString(kKey, "EntryStr"), std::nullopt);  // no file yet
  reg.WriteString(kKey, "EntryStr", "s3cr\xC3\xA9t");
  reg.WriteString(kKey, "Other", "x");
  reg.WriteString("\\Software\\Elsewhere", "EntryStr", "y");
  reg.WriteString(kKey, "EntryStr", "");
  FileRegistry again(file_);
  EXPECT_EQ(again.ReadString(kKey, "EntryStr"), "");
  EXPECT_EQ(again.ReadString(kKey, "Other"), "x");
  EXPECT_EQ(again.ReadString("\\Software\\Elsewhere", "EntryStr"), "y");
  EXPECT_EQ(again.ReadString(kKey, "Missing"), std::nullopt);
  EXPECT_EQ(again.ReadString("\\Software\\Nowhere", "EntryStr"), std::nullopt);
  // Key paths and names match without regard to case or a leading separator.
  EXPECT_EQ(again.ReadString("software\\MICROSOFT\\windows\\CurrentVersion\\Explorer\\StartPage",
                             "OTHER"),
            "x");
}

TEST_F(RegistryTest, ValueOfAnotherTypeIsAnErrorUntilOverwritten) {
  FileRegistry reg(file_);
  reg.WriteValue(kKey, "EntryStr", RegistryValue{RegistryType::kDword, "1234"});
  EXPECT_THROW(reg.ReadString(kKey, "EntryStr"), RegistryError);
  EXPECT_EQ(reg.ReadValue(kKey, "EntryStr")->type, RegistryType::kDword);
  reg.WriteString(kKey, "EntryStr", "");
  EXPECT_EQ(reg.ReadString(kKey, "EntryStr"), "");
  reg.WriteValue(kKey, "Expand", RegistryValue{RegistryType::kExpandString, "e"});
  EXPECT_EQ(reg.ReadString(kKey, "Expand"), "e");
}

TEST_F(RegistryTest, FileAndNewFolderAreOwnerOnly) {
  FileRegistry reg(file_);
  reg.WriteString(kKey, "EntryStr", "1");
  EXPECT_EQ(Mode(file_), 0600u);
  EXPECT_EQ(Mode(file_.parent_path()), 0700u);
  // A store that was opened up by hand is tightened again on the next write.
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  reg.WriteString(kKey, "EntryStr", "2");
  EXPECT_EQ(Mode(file_), 0600u);
}

TEST_F(RegistryTest, FailureBeforeReplaceKeepsOldContent) {
  FileRegistry reg(file_);
  reg.WriteString(kKey, "EntryStr", "old");
  reg.SetBeforeReplaceHook([] { throw RegistryError("injected"); });
  EXPECT_THROW(reg.WriteString(kKey, "EntryStr", "new"), RegistryError);
  EXPECT_EQ(reg.ReadString(kKey, "EntryStr"), "old");
  EXPECT_EQ(TempFiles(), 0);
}

TEST_F(RegistryTest, WriterKilledMidWayLeavesOldContent) {
  FileRegistry(file_).WriteString(kKey, "EntryStr", "old");
  int ready[2], never[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(never), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileRegistry reg(file_);
    reg.SetBeforeReplaceHook([&] {
      (void)!::write(ready[1], "r", 1);
      char c;
      (void)!::read(never[0], &c, 1);  // wait here until killed
    });
    reg.WriteString(kKey, "EntryStr", "new");
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(TempFiles(), 1);  // the new content is written but not yet in place
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  for (int fd : {ready[0], ready[1], never[0], never[1]}) ::close(fd);

  FileRegistry reg(file_);
  EXPECT_EQ(reg.ReadString(kKey, "EntryStr"), "old");
  reg.WriteString(kKey, "EntryStr", "next");  // the dead writer's lock went with it
  EXPECT_EQ(reg.ReadString(kKey, "EntryStr"), "next");
  EXPECT_EQ(TempFiles(), 0);
}

TEST_F(RegistryTest, WritersInTwoProcessesLoseNoValue) {
  constexpr int kEach = 25;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      FileRegistry reg(file_);
      for (int i = 0; i < kEach; ++i) {
        reg.WriteString(kKey, "v" + std::to_string(c) + "_" + std::to_string(i), "x");
      }
      ::_exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  FileRegistry reg(file_);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(reg.ReadString(kKey, "v" + std::to_string(c) + "_" + std::to_string(i)), "x");
    }
  }
}

TEST_F(RegistryTest, DamagedStoreReadsAsErrorAndIsKeptAsideOnWrite) {
  fs::create_directories(file_.parent_path());
  std::ofstream(file_) << "{ not json";
  FileRegistry reg(file_);
  EXPECT_THROW(reg.ReadString(kKey, "EntryStr"), RegistryError);
  reg.WriteString(kKey, "EntryStr", "");
  EXPECT_EQ(reg.ReadString(kKey, "EntryStr"), "");
  std::ifstream bad(file_.string() + ".bad");
  std::string kept((std::istreambuf_iterator<char>(bad)), {});
  EXPECT_EQ(kept, "{ not json");
}

TEST_F(RegistryTest, DefaultPathHonoursXdgConfigHome) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  const std::string saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("XDG_CONFIG_HOME", "/some/where", 1);
  EXPECT_EQ(FileRegistry::DefaultPath(), fs::path("/some/where/tarn/registry.json"));
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(FileRegistry::DefaultPath(), fs::path("/home/u/.config/tarn/registry.json"));
  ::setenv("HOME", saved_home.c_str(), 1);
  if (old) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
}  // namespace tarn
