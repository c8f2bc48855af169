// Runs the real tarn-derive binary with a piped standard input.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "generator/derive.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exit_code = -1;
  std::string out, err;
};

std::string Drain(int fd) {
  std::string data;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return data;
}

ToolRun RunTool(const std::vector<std::string>& args, const std::string& input) {
  int in[2], out[2], err[2];
  EXPECT_EQ(::pipe(in), 0);
  EXPECT_EQ(::pipe(out), 0);
  EXPECT_EQ(::pipe(err), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    std::vector<char*> argv{const_cast<char*>(TARN_DERIVE_BIN)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TARN_DERIVE_BIN, argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  // Inputs are tiny, far below the pipe's buffer, so writing first cannot block.
  (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  ToolRun run;
  run.out = Drain(out[0]);
  run.err = Drain(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class DeriveToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tarn-tool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += static_cast<char>((i * 37 + 11) & 0xFF);
    key_ = (dir_ / "key").string();
    std::ofstream(key_, std::ios::binary) << bytes;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string key_;
};

TEST_F(DeriveToolTest, WritesRawSingleBytePasswordAndNewline) {
  const ToolRun run = RunTool({key_}, "Tarn\xC3\xA9\n5\n");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const tarn::DeriveResult expected = tarn::DerivePassword(key_, "Tarn\xE9", "5");
  EXPECT_EQ(run.out, expected.password + "\n");
  EXPECT_EQ(run.out.size(), 81u);
  EXPECT_TRUE(run.err.empty());
  // CR LF line ends and a missing last newline read the same.
  EXPECT_EQ(RunTool({key_}, "Tarn\xC3\xA9\r\n5").out, run.out);
}

TEST_F(DeriveToolTest, HighCodesAreWrittenAsSingleBytes) {
  // 'é' XOR a masked byte sets the top bit: the output must hold one byte, not UTF-8.
  const ToolRun run = RunTool({key_}, "\xC3\xA9\n0\n");
  ASSERT_EQ(run.exit_code, 0);
  ASSERT_EQ(run.out.size(), 81u);
  for (size_t i = 0; i < 80; ++i) EXPECT_GE(static_cast<unsigned char>(run.out[i]), 0x80u);
}

TEST_F(DeriveToolTest, EmptyInputDerivesAtOffsetZero) {
  const ToolRun run = RunTool({key_}, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, tarn::DerivePassword(key_, "", "0").password + "\n");
}

TEST_F(DeriveToolTest, InsufficientBytesExitsTwo) {
  const ToolRun run = RunTool({key_}, "s\n90\n");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(run.err, "Insufficient Bytes read - Please choose another file or reduce the offset\n");
}

TEST_F(DeriveToolTest, UnopenableKeyFileExitsOne) {
  const std::string missing = (dir_ / "none").string();
  const ToolRun run = RunTool({missing}, "s\n1\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.err.find(missing), std::string::npos);
  EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
  EXPECT_EQ(RunTool({}, "").exit_code, 64);
}

}  // namespace
