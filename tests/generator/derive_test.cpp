#include "generator/derive.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "generator/codepage.h"
#include "generator/key_file.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

class DeriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "tarn-derive-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  fs::path dir_;
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 37 + 11) & 0xFF);
  return s;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(ParseNumberTest, MalformedTextMeansZero) {
  for (const char* text :
       {"",  "abc", "12a", "23 ", "3000000000", "2147483648", "-2147483649", "\t23", "-",  "+", "$",
        "x", "0x",  "+-1", "--1", "$G",         "0x1g",       "$100000000",  "1 2",  "- 1"}) {
    EXPECT_EQ(ParseNumber(text), 0) << '"' << text << '"';
  }
}

TEST(ParseNumberTest, AcceptedForms) {
  struct Case {
    const char* text;
    int32_t value;
  };
  for (const Case& c : std::vector<Case>{{" 23", 23},
                                         {"   +23", 23},
                                         {"$17", 23},
                                         {"x17", 23},
                                         {"X17", 23},
                                         {"0x17", 23},
                                         {"0X17", 23},
                                         {"007", 7},
                                         {"0", 0},
                                         {"-1", -1},
                                         {"+$fF", 255},
                                         {"2147483647", 2147483647},
                                         {"-2147483648", INT32_MIN},
                                         {"$FFFFFFFF", -1},
                                         {"$80000000", INT32_MIN},
                                         {"-$80000000", INT32_MIN},
                                         {"-x10", -16},
                                         {"$0000000000017", 23},
                                         {"00000000000000000042", 42}}) {
    EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(MixKeyBytesTest, SingleCharacterRules) {
  // Top bit dropped, low codes lifted, DEL kept.
  EXPECT_EQ(MixKeyBytes("\x41\xC1\x0D", ""), "AA-");
  EXPECT_EQ(MixKeyBytes(std::string("\x00\x7F", 2), ""), " \x7F");
  EXPECT_EQ(MixKeyBytes("\x41", "A"), " ");
  EXPECT_EQ(MixKeyBytes("\x41", "\xE9"), "\xA8");
  // The string cycles from its first character; characters past the window are ignored.
  EXPECT_EQ(MixKeyBytes("AAAA", "\x01\x02"), "@C@C");
  EXPECT_EQ(MixKeyBytes("AA", "\x01\x02XYZ"), MixKeyBytes("AA", "\x01\x02"));
}

TEST(MixKeyBytesTest, OutputRangeOverRandomInput) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(80, '\0'), ascii(1 + round % 17, '\0'), high(1 + round % 5, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    for (char& c : ascii) c = static_cast<char>(rng() & 0x7F);
    for (char& c : high) c = static_cast<char>(rng());
    for (unsigned char c : MixKeyBytes(bytes, ascii)) {
      ASSERT_GE(c, 0x20);
      ASSERT_LE(c, 0x7F);
    }
    for (unsigned char c : MixKeyBytes(bytes, high)) ASSERT_GE(c, 0x20);
  }
}

TEST_F(DeriveTest, KnownPasswordsNeverChange) {
  const std::string file = Write("key", Pattern(100));
  DeriveResult r = DerivePassword(file, Utf8ToKeyBytes("Tarn\xC3\xA9"), "5");
  ASSERT_EQ(r.kind, DeriveResult::Kind::kPassword) << r.error;
  EXPECT_EQ(Hex(r.password),
            "30287c5db129433522f8623a724ba33b754b30ea7c2c2079d53567593e9c4e5e3667c727396f2c8e"
            "58502435c9312b7d5ab02a423a23fb633d7348a224744831ed7d2f2176d436665e3f9f4f213764c6");
  r = DerivePassword(file, "", "$3C");
  ASSERT_EQ(r.kind, DeriveResult::Kind::kPassword);
  EXPECT_EQ(Hex(r.password),
            "375c21264b70353a5f24294e73383d62272c51763b40652a2f54793e43682d32577c21466b30355a");
}

TEST_F(DeriveTest, WindowLengthFollowsAvailableBytes) {
  const std::string file = Write("key", Pattern(200));
  struct Case {
    const char* number;
    DeriveResult::Kind kind;
    size_t length;
  };
  using K = DeriveResult::Kind;
  for (const Case& c : std::vector<Case>{{"168", K::kPassword, 32},
                                         {"167", K::kPassword, 33},
                                         {"120", K::kPassword, 80},
                                         {"0", K::kPassword, 80},
                                         {"169", K::kInsufficientBytes, 0},
                                         {"200", K::kPassword, 80},  // at the end: whole file
                                         {"201", K::kInsufficientBytes, 0},
                                         {"-1", K::kInsufficientBytes, 0}}) {
    const DeriveResult r = DerivePassword(file, "k", c.number);
    EXPECT_EQ(r.kind, c.kind) << c.number;
    EXPECT_EQ(r.password.size(), c.length) << c.number;
  }
  EXPECT_EQ(DerivePassword(file, "k", "200").password, DerivePassword(file, "k", "").password);
  EXPECT_EQ(DerivePassword(file, "k", "168").password, MixKeyBytes(Pattern(200).substr(168), "k"));
}

TEST_F(DeriveTest, MalformedNumbersDeriveAtOffsetZero) {
  const std::string file = Write("key", Pattern(120));
  const std::string at_zero = DerivePassword(file, "s", "0").password;
  ASSERT_EQ(at_zero.size(), 80u);
  for (const char* text : {"", "abc", "12a", "23 ", "3000000000"}) {
    EXPECT_EQ(DerivePassword(file, "s", text).password, at_zero) << text;
  }
  const std::string at_23 = DerivePassword(file, "s", "23").password;
  EXPECT_NE(at_23, at_zero);
  for (const char* text : {" 23", "+23", "$17", "x17", "0x17"}) {
    EXPECT_EQ(DerivePassword(file, "s", text).password, at_23) << text;
  }
}

TEST_F(DeriveTest, ShortAndEmptyFilesAreInsufficient) {
  EXPECT_EQ(DerivePassword(Write("empty", ""), "", "0").kind,
            DeriveResult::Kind::kInsufficientBytes);
  EXPECT_EQ(DerivePassword(Write("short", Pattern(31)), "", "0").kind,
            DeriveResult::Kind::kInsufficientBytes);
  const DeriveResult exact = DerivePassword(Write("exact", Pattern(32)), "", "0");
  EXPECT_EQ(exact.kind, DeriveResult::Kind::kPassword);
  EXPECT_EQ(exact.password.size(), 32u);
}

TEST_F(DeriveTest, TopBitsOfTheFileDoNotMatter) {
  std::string low = Pattern(90), high = low;
  for (size_t i = 0; i < high.size(); i += 3) high[i] = static_cast<char>(high[i] ^ 0x80);
  EXPECT_EQ(DerivePassword(Write("a", low), "xyz", "4").password,
            DerivePassword(Write("b", high), "xyz", "4").password);
}

TEST_F(DeriveTest, LargeSparseFileReadsOnlyTheWindow) {
  // 3 GiB sparse file: the offset arithmetic must not be 32-bit.
  const fs::path path = dir_ / "huge";
  { std::ofstream(path, std::ios::binary).put('\0'); }
  fs::resize_file(path, 3ll << 30);
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(2147483600);
    f << "Q";
  }
  const DeriveResult r = DerivePassword(path.string(), "", "2147483600");
  ASSERT_EQ(r.kind, DeriveResult::Kind::kPassword) << r.error;
  ASSERT_EQ(r.password.size(), 80u);
  EXPECT_EQ(r.password[0], 'Q');
  EXPECT_EQ(r.password.substr(1), std::string(79, ' '));
}

TEST_F(DeriveTest, FileErrorsNameTheFileAndReason) {
  const std::string missing = (dir_ / "gone.txt").string();
  DeriveResult r = DerivePassword(missing, "", "1");
  EXPECT_EQ(r.kind, DeriveResult::Kind::kFileError);
  EXPECT_NE(r.error.find(missing), std::string::npos);
  EXPECT_NE(r.error.find("No such file"), std::string::npos) << r.error;

  EXPECT_EQ(DerivePassword("", "", "1").kind, DeriveResult::Kind::kFileError);
  r = DerivePassword(dir_.string(), "", "1");
  EXPECT_EQ(r.kind, DeriveResult::Kind::kFileError);
  EXPECT_TRUE(r.password.empty());

  // A file that vanishes after it was chosen.
  const std::string vanishing = Write("v", Pattern(64));
  ASSERT_EQ(DerivePassword(vanishing, "", "").kind, DeriveResult::Kind::kPassword);
  fs::remove(vanishing);
  EXPECT_EQ(DerivePassword(vanishing, "", "").kind, DeriveResult::Kind::kFileError);
}

TEST_F(DeriveTest, FileLockedByAnotherProcessIsRefused) {
  const std::string file = Write("locked", Pattern(64));
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    char c = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(release[0], &c, 1);  // hold the lock until the parent is done
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const DeriveResult r = DerivePassword(file, "", "");
  EXPECT_EQ(r.kind, DeriveResult::Kind::kFileError);
  EXPECT_NE(r.error.find("another process"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find(file), std::string::npos);
  (void)!::write(release[1], "x", 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
  // Once the other process is gone the file opens again.
  EXPECT_EQ(DerivePassword(file, "", "").kind, DeriveResult::Kind::kPassword);
}

TEST_F(DeriveTest, KeyFileHoldsItsLockUntilDestroyed) {
  const std::string file = Write("k", Pattern(40));
  std::string error;
  auto first = KeyFile::Open(file, error);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->size(), 40);
  EXPECT_FALSE(KeyFile::Open(file, error));
  first.reset();
  EXPECT_TRUE(KeyFile::Open(file, error));
}

TEST(CodepageTest, Windows1252CharactersMapToTheirCodes) {
  EXPECT_EQ(Utf8ToKeyBytes("abc"), "abc");
  EXPECT_EQ(Utf8ToKeyBytes("\xC3\xA9"), "\xE9");      // é
  EXPECT_EQ(Utf8ToKeyBytes("\xE2\x82\xAC"), "\x80");  // €
  EXPECT_EQ(Utf8ToKeyBytes("\xC5\xB8"), "\x9F");      // Ÿ
  EXPECT_EQ(Utf8ToKeyBytes("\xC2\x81"), "\x81");      // unassigned slot
  EXPECT_EQ(Utf8ToKeyBytes("\xC2\x80"), "\xC2\x80");  // U+0080 is not in the code page
  EXPECT_EQ(Utf8ToKeyBytes("\xC4\x80"), "\xC4\x80");  // Ā: its UTF-8 bytes
  EXPECT_EQ(Utf8ToKeyBytes("\xF0\x9F\x94\x91x"), "\xF0\x9F\x94\x91x");
  EXPECT_EQ(Utf8ToKeyBytes("a\xFF\xC3"), "a\xFF\xC3");  // invalid bytes pass through
  EXPECT_EQ(Utf8ToKeyBytes("\xC0\xA9"), "\xC0\xA9");    // overlong form is invalid
  // Every code round-trips through its display form.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(Utf8ToKeyBytes(KeyBytesToUtf8(all)), all);
  EXPECT_EQ(KeyBytesToUtf8("\x80\xE9"), "\xE2\x82\xAC\xC3\xA9");
}

}  // namespace
}  // namespace tarn
