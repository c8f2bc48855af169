#include "app/tarn_application.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <stdexcept>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/program.h"
#include "app/termination.h"
#include "platform/program_path.h"

namespace tarn {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TThrowingObject : public QObject {
 public:
  int handled = 0;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Handler failed");
    if (e->type() == QEvent::User + 1) {
      ++handled;
      return true;
    }
    return QObject::event(e);
  }
};

class ProgramTest : public ::testing::Test {
 protected:
  ProgramTest() {
    Globals() = TProcessValues{};
    ResetTermination();
  }
  ~ProgramTest() override { ResetTermination(); }

  QTemporaryDir dir_;
  TScopedProgramPath program_{dir_.filePath("tarn")};
  TScopedClock clock_{[] { return QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)); }};
  TScriptedMessageBoxes boxes_;
};

TEST_F(ProgramTest, WindowTitlesGetNoApplicationNameAppended) {
  // The platform appends " — " and the display name to every title when one is set.
  EXPECT_TRUE(QGuiApplication::applicationDisplayName().isEmpty());
  EXPECT_EQ(QCoreApplication::applicationName(), "Tarn");
}

TEST_F(ProgramTest, EscapingExceptionsAreLoggedAndTheProgramGoesOn) {
  TThrowingObject target;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
  QCoreApplication::processEvents();
  EXPECT_EQ(target.handled, 1);
  EXPECT_EQ(boxes_.Texts(), QStringList{"Handler failed."});
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
  EXPECT_EQ(ReadAll(dir_.filePath("tarn.Log")), "08/12/2026 14:05:09:Handler failed\r\n");
}

struct TRecord {
  QStringList calls;
};

class TPassword : public TStartupPasswordSeam {
 public:
  TPassword(TRecord* record, bool fail) : record_(record), fail_(fail) {}
  QString Read() override { return "7"; }
  void Ask(QWidget*) override {
    if (fail_) RequestTermination();
  }
  void Write(const QString& p) override { record_->calls << "write:" + p; }

 private:
  TRecord* record_;
  bool fail_;
};

class TRepository : public TNoRepository {
 public:
  TRepository(TRecord* record, std::function<void()> on_open)
      : record_(record), on_open_(std::move(on_open)) {}
  void Open(QWidget*) override {
    record_->calls << "open";
    if (on_open_) QTimer::singleShot(0, on_open_);
  }
  bool IsEditing() const override { return true; }
  void Post() override { record_->calls << "post"; }

 private:
  TRecord* record_;
  std::function<void()> on_open_;
};

TMainFormParts Parts(TRecord* record, bool fail_entry, std::function<void()> on_open = {}) {
  TMainFormParts parts;
  parts.startup_password = std::make_unique<TPassword>(record, fail_entry);
  parts.repository = std::make_unique<TRepository>(record, std::move(on_open));
  return parts;
}

TEST_F(ProgramTest, FailedEntryEndsTheRunAfterCreationWithoutClosing) {
  TRecord record;
  bool help_windows = false;
  const int code = RunProgram(Parts(&record, true), [&](TMainForm&) { help_windows = true; });
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(help_windows);
  EXPECT_EQ(record.calls, (QStringList{"open", "write:7"}));
  EXPECT_FALSE(QFile::exists(dir_.filePath("tarn.INI")));
}

TEST_F(ProgramTest, TerminationWhileRunningSkipsTheCloseStep) {
  TRecord record;
  const int code = RunProgram(Parts(&record, false, [] { RequestTermination(); }));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(record.calls, (QStringList{"open", "write:7"}));
  EXPECT_FALSE(QFile::exists(dir_.filePath("tarn.INI")));
}

TEST_F(ProgramTest, ClosingTheMainWindowPostsSavesAndEnds) {
  TRecord record;
  const int code = RunProgram(Parts(&record, false, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->inherits("tarn::TMainForm")) w->close();
  }));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(record.calls, (QStringList{"open", "post", "write:7"}));
  EXPECT_TRUE(ReadAll(dir_.filePath("tarn.INI")).startsWith("[Detail]\r\nGrad1Str=clBlue\r\n"));
}

}  // namespace
}  // namespace tarn

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  tarn::TTarnApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
