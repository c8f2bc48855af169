// Two programs on one table: the window here and a peer process that keeps
// its session open. A record the peer is editing is refused to the window
// after the retries; what the peer posts shows here on the next move or
// refresh, and what the window posts reaches the peer; nothing is lost.
#include <gtest/gtest.h>

#include <QAction>
#include <QProcess>
#include <QTemporaryDir>

#include "app/main_form.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/pwd_grid.h"
#include "app/record_commands.h"
#include "app/repository_store.h"
#include "app/termination.h"
#include "platform/program_path.h"
#include "repository_fixture.h"
#include "storage/access/dataset_query.h"

namespace tarn {
namespace {

class TEnteredPassword : public TStartupPasswordSeam {
 public:
  QString Read() override { return QStringLiteral("7"); }
  void Ask(QWidget*) override {}
  void Write(const QString&) override {}
};

class TPeer {
 public:
  explicit TPeer(const QString& program_path) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(TARN_REPOSITORY_PEER), {program_path});
  }
  ~TPeer() {
    if (process_.state() != QProcess::NotRunning) {
      Send("quit");
      process_.closeWriteChannel();
      process_.waitForFinished(-1);
    }
  }
  // The next line the peer writes (waits for it; no timing involved).
  QString Line() {
    while (!process_.canReadLine()) {
      if (!process_.waitForReadyRead(-1)) return QStringLiteral("<peer ended>");
    }
    return QString::fromUtf8(process_.readLine()).trimmed();
  }
  QString Do(const QString& command) {
    Send(command);
    return Line();
  }

 private:
  void Send(const QString& command) {
    process_.write((command + '\n').toUtf8());
    process_.waitForBytesWritten(-1);
  }
  QProcess process_;
};

TEST(TwoProgramsTest, LockedRecordIsRefusedAndPostsReachTheOtherSide) {
  Globals() = TProcessValues{};
  ResetTermination();
  QTemporaryDir dir;
  const QString program_path = dir.filePath("tarn");
  testing::CreateTable(dir.path(), testing::PalSchema());
  testing::AddRecords(program_path, {{"Bank", "bob", "b1", "", QDate(2026, 1, 1)},
                                     {"Mail", "zed", "m1", "", QDate(2026, 1, 1)}});
  TScopedProgramPath program(program_path);
  TScriptedMessageBoxes boxes;

  TPeer peer(program_path);
  ASSERT_EQ(peer.Line(), "open");
  TMainFormParts parts;
  parts.startup_password = std::make_unique<TEnteredPassword>();
  auto owned = std::make_unique<TRepositoryStore>();
  TRepositoryStore& store = *owned;
  parts.repository = std::move(owned);
  TMainForm form(std::move(parts));
  cairn::TCairnQuery& q = store.Pwd;
  ASSERT_TRUE(store.IsOpen());

  // The peer edits Bank and keeps the lock: the window's delete is refused.
  ASSERT_EQ(peer.Do("first"), "ok");
  ASSERT_EQ(peer.Do("edit PW from-peer"), "ok");
  ASSERT_EQ(q.RecNo(), 1u);
  form.Delete1->trigger();  // Yes
  ASSERT_FALSE(boxes.Texts().isEmpty());
  EXPECT_TRUE(boxes.Texts().last().contains("is in use by another user"))
      << boxes.Texts().last().toStdString();
  EXPECT_EQ(q.State(), cairn::TDataSetState::dsBrowse);

  // The peer posts; the window sees it after a move.
  ASSERT_EQ(peer.Do("post"), "ok");
  q.Next();
  q.Prior();
  EXPECT_EQ(FieldText(q, "PW"), "from-peer");
  EXPECT_EQ(form.PWgrid->model()->index(0, 3).data().toString(), "from-peer");

  // The window posts Mail's user; the peer sees it after a refresh.
  q.Next();
  SetFieldText(q, "User", "zoe");
  q.Post();
  ASSERT_EQ(peer.Do("refresh"), "ok");
  ASSERT_EQ(peer.Do("next"), "ok");
  EXPECT_EQ(peer.Do("get User"), "zoe");
  EXPECT_EQ(peer.Do("get PW"), "m1");
}

}  // namespace
}  // namespace tarn
