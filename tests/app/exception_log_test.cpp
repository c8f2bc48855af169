#include "app/exception_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <stdexcept>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "platform/program_path.h"

namespace tarn {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(FullStopTest, AddedOnlyAfterCharactersAboveTheFullStop) {
  EXPECT_EQ(WithFullStop("Disk full"), "Disk full.");
  EXPECT_EQ(WithFullStop("Error 42"), "Error 42.");
  EXPECT_EQ(WithFullStop("Really?"), "Really?.");
  EXPECT_EQ(WithFullStop("Done."), "Done.");
  EXPECT_EQ(WithFullStop("Stop!"), "Stop!");
  EXPECT_EQ(WithFullStop("(see above)"), "(see above)");
  EXPECT_EQ(WithFullStop("a-"), "a-");
  EXPECT_EQ(WithFullStop("path/"), "path/.");
  EXPECT_EQ(WithFullStop(""), "");
  EXPECT_EQ(WithFullStop(QString::fromUtf8("Grüße ä")), QString::fromUtf8("Grüße ä."));
}

class ExceptionLogTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  TScopedProgramPath program_{dir_.filePath("tarn")};
  TScopedClock clock_{[] { return QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)); }};
  TScriptedMessageBoxes boxes_;
  QString log_ = dir_.filePath("tarn.Log");
};

TEST_F(ExceptionLogTest, AppendsTheLineAndShowsTheMessage) {
  QFile existing(log_);
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("07/12/2026:earlier\r\n");
  existing.close();

  LogException(nullptr, std::runtime_error("Key violation"));
  EXPECT_EQ(ReadAll(log_), "07/12/2026:earlier\r\n08/12/2026 14:05:09:Key violation\r\n");
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
  EXPECT_EQ(boxes_.Shown()[0].text, "Key violation.");
  EXPECT_EQ(boxes_.Shown()[0].icon, TMsgIcon::kError);
  EXPECT_EQ(boxes_.Shown()[0].buttons, TMsgButtons::kOk);

  LogException(nullptr, QString("Second."));
  EXPECT_EQ(ReadAll(log_),
            "07/12/2026:earlier\r\n08/12/2026 14:05:09:Key violation\r\n"
            "08/12/2026 14:05:09:Second.\r\n");
  EXPECT_EQ(boxes_.Texts().back(), "Second.");
}

TEST_F(ExceptionLogTest, MidnightLineHasNoTime) {
  TScopedClock midnight([] { return QDateTime(QDate(2026, 12, 8), QTime(0, 0)); });
  LogException(nullptr, QString("M"));
  EXPECT_EQ(ReadAll(log_), "08/12/2026:M\r\n");
}

TEST_F(ExceptionLogTest, UnwritableLogStillShowsTheMessage) {
  TScopedProgramPath elsewhere(dir_.filePath("missing/folder/tarn"));
  LogException(nullptr, QString("Cannot open table"));
  EXPECT_EQ(boxes_.Texts(), QStringList{"Cannot open table."});
}

TEST_F(ExceptionLogTest, GuardedHandlersReportAndCarryOn) {
  bool after = false;
  Guarded(nullptr, [] { throw std::runtime_error("boom"); });
  Guarded(nullptr, [] { throw 42; });
  Guarded(nullptr, [&] { after = true; });
  EXPECT_TRUE(after);
  EXPECT_EQ(boxes_.Texts(), (QStringList{"boom.", "Unknown exception."}));
  EXPECT_EQ(ReadAll(log_), "08/12/2026 14:05:09:boom\r\n08/12/2026 14:05:09:Unknown exception\r\n");
}

}  // namespace
}  // namespace tarn
