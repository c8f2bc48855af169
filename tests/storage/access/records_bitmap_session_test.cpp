#include <gtest/gtest.h>

#include <string>

#include "storage/access/data_session.h"
#include "storage/access/records_bitmap.h"

namespace cairn {
namespace {

TEST(RecordsBitmapTest, SetClearCountAndWalkAcrossWords) {
  TRecordsBitmap bits;
  EXPECT_TRUE(bits.Empty());
  EXPECT_EQ(bits.NextSet(0), 0u);
  for (uint32_t slot : {1u, 63u, 64u, 65u, 200000001u}) bits.Set(slot);
  bits.Set(64);  // setting twice counts once
  bits.Set(0);   // slot 0 never belongs
  EXPECT_EQ(bits.Count(), 5u);
  EXPECT_FALSE(bits.Test(0));
  EXPECT_TRUE(bits.Test(63));
  EXPECT_FALSE(bits.Test(62));
  EXPECT_FALSE(bits.Test(4000000000u));  // far beyond the end reads as clear

  uint32_t walked[6] = {};
  int n = 0;
  for (uint32_t s = bits.NextSet(0); s != 0; s = bits.NextSet(s)) walked[n++] = s;
  ASSERT_EQ(n, 5);
  EXPECT_EQ(walked[0], 1u);
  EXPECT_EQ(walked[3], 65u);
  EXPECT_EQ(walked[4], 200000001u);

  bits.Clear(64);
  bits.Clear(64);
  bits.Clear(7);  // never set
  EXPECT_EQ(bits.Count(), 4u);
  EXPECT_EQ(bits.NextSet(63), 65u);
  bits.ClearAll();
  EXPECT_EQ(bits.Count(), 0u);
  EXPECT_FALSE(bits.Test(1));
}

TEST(DataSessionTest, DefaultsMatchTheProgramsExpectations) {
  TDataSession session;
  const TSessionSettings& s = session.Settings();
  EXPECT_EQ(s.lock_retry_count, 15);
  EXPECT_EQ(s.lock_wait_time, 100u);
  EXPECT_EQ(s.lock_protocol, TLockProtocol::kPessimistic);
  EXPECT_FALSE(s.force_buffer_flush);
  EXPECT_FALSE(s.strict_change_detection);
  EXPECT_EQ(s.index_buffer_size, 16384u);
  EXPECT_FALSE(s.private_directory.empty());
  ASSERT_FALSE(s.default_directory.empty());
  EXPECT_EQ(s.default_directory.back(), '/');
}

TEST(DataSessionTest, PasswordsAreExactCaseSensitiveAndUnique) {
  TDataSession session;
  session.AddPassword("");
  session.AddPassword("Secret");
  session.AddPassword("Secret");
  session.AddPassword("secret");
  ASSERT_EQ(session.Passwords().size(), 2u);
  EXPECT_TRUE(session.CheckPassword("Secret", "T"));
  EXPECT_FALSE(session.CheckPassword("SECRET", "T"));
  session.RemovePassword("SECRET");  // no exact match: nothing removed
  EXPECT_EQ(session.Passwords().size(), 2u);
  session.RemovePassword("Secret");
  EXPECT_FALSE(session.CheckPassword("Secret", "T"));
  session.RemoveAllPasswords();
  EXPECT_TRUE(session.Passwords().empty());
}

TEST(DataSessionTest, PasswordEventMayAddAndRetryButCannotSpin) {
  TDataSession session;
  int asked = 0;
  session.SetPasswordEvent([&](TDataSession& s, std::string_view table) {
    ++asked;
    EXPECT_EQ(table, "Pal");
    if (asked == 1) s.AddPassword("wrong");
    if (asked == 2) s.AddPassword("right");
    return true;
  });
  EXPECT_TRUE(session.CheckPassword("right", "Pal"));
  EXPECT_EQ(asked, 2);

  // A callback that keeps asking to retry without giving a new password fails.
  asked = 0;
  session.SetPasswordEvent([&](TDataSession&, std::string_view) { return ++asked < 1000; });
  EXPECT_FALSE(session.CheckPassword("other", "Pal"));
  EXPECT_EQ(asked, 1);

  session.SetPasswordEvent([](TDataSession&, std::string_view) { return false; });
  EXPECT_FALSE(session.CheckPassword("other", "Pal"));
}

}  // namespace
}  // namespace cairn
