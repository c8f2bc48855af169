#include "app/main_form.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QFile>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/pwd_grid.h"
#include "app/termination.h"
#include "kit/gradient_panel.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"
#include "platform/program_path.h"

namespace tarn {
namespace {

TEST(ColumnScalingTest, RoundsToTheNearestPixelHalvesAwayFromZero) {
  EXPECT_EQ(ScaleColumnWidth(193, 1200, 1000), 232);  // 231.6
  EXPECT_EQ(ScaleColumnWidth(104, 1200, 1000), 125);  // 124.8
  EXPECT_EQ(ScaleColumnWidth(5, 3, 2), 8);            // 7.5
  EXPECT_EQ(ScaleColumnWidth(3, 3, 2), 5);            // 4.5, not the even 4
  EXPECT_EQ(ScaleColumnWidth(151, 1000, 1000), 151);
  EXPECT_EQ(ScaleColumnWidth(374, 500, 1000), 187);
}

TEST(WindowFitTest, KeepsTheDesignSizeUnlessTheScreenIsSmaller) {
  EXPECT_EQ(FitWindowSize({1020, 760}, {8, 32}, {1920, 1050}), QSize(1020, 760));
  // 1366 x 768 less a 40-pixel panel: the height gives way, the width stays.
  EXPECT_EQ(FitWindowSize({1020, 760}, {8, 32}, {1366, 728}), QSize(1020, 696));
  EXPECT_EQ(FitWindowSize({1020, 760}, {8, 32}, {800, 600}), QSize(792, 568));
}

TEST(MessageBoxTest, ShowsTextAsPlainText) {
  const TMessage message{"Error", "C:/keys/<b>file</b>", TMsgIcon::kError, TMsgButtons::kOk};
  const auto box = BuildMessageBox(nullptr, message);
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->text(), "C:/keys/<b>file</b>");
  EXPECT_EQ(box->windowTitle(), "Error");
}

// Records what the main window asks of its seams, in order.
struct TCalls {
  QStringList log;
};

class TFakePassword : public TStartupPasswordSeam {
 public:
  TFakePassword(TCalls* calls, QString stored) : calls_(calls), stored_(std::move(stored)) {}
  QString Read() override {
    calls_->log << "read";
    return stored_;
  }
  void Ask(QWidget* owner) override {
    calls_->log << "ask";
    EXPECT_NE(owner, nullptr);
    if (fail_entry) RequestTermination();
  }
  void Write(const QString& password) override {
    calls_->log << "write:" + password;
    throw std::runtime_error("registry refused");  // must be ignored
  }
  bool fail_entry = false;

 private:
  TCalls* calls_;
  QString stored_;
};

class TFakeRepository : public TRepositorySeam {
 public:
  explicit TFakeRepository(TCalls* calls) : calls_(calls) {}
  void Open(QWidget*) override {
    calls_->log << "open";
    open_ = true;
  }
  bool IsOpen() const override { return open_; }
  bool IsLive() const override { return open_ && live; }
  bool IsEditing() const override { return editing; }
  void Post() override {
    calls_->log << "post";
    if (post_error) throw std::runtime_error("Key violation");
    editing = false;
  }
  void FlushBuffers() override { calls_->log << "flush"; }
  bool live = true;
  bool editing = false;
  bool post_error = false;

 private:
  TCalls* calls_;
  bool open_ = false;
};

class MainFormTest : public ::testing::Test {
 protected:
  MainFormTest() {
    Globals() = TProcessValues{};
    ResetTermination();
  }
  ~MainFormTest() override { ResetTermination(); }

  std::unique_ptr<TMainForm> MakeForm(const QString& stored = "7") {
    TMainFormParts parts;
    auto password = std::make_unique<TFakePassword>(&calls_, stored);
    auto repository = std::make_unique<TFakeRepository>(&calls_);
    password_ = password.get();
    repository_ = repository.get();
    password_->fail_entry = fail_entry_;
    parts.startup_password = std::move(password);
    parts.repository = std::move(repository);
    return std::make_unique<TMainForm>(std::move(parts));
  }

  QByteArray Ini() {
    QFile f(dir_.filePath("tarn.INI"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  TScopedProgramPath program_{dir_.filePath("tarn")};
  TScopedClock clock_{[] { return QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)); }};
  TScriptedMessageBoxes boxes_;
  TCalls calls_;
  TFakePassword* password_ = nullptr;
  TFakeRepository* repository_ = nullptr;
  bool fail_entry_ = false;
};

TEST_F(MainFormTest, CreationReadsAsksOpensInOrderAndDestructionWritesBack) {
  {
    auto form = MakeForm("7");
    EXPECT_EQ(form->windowTitle(), " Password Repository (Tarn)");
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(form->width(), std::min(1020, available.width() - 8));
    EXPECT_EQ(form->height(), std::min(760, available.height() - 32));
    EXPECT_EQ(calls_.log, (QStringList{"read", "ask", "open"}));
    EXPECT_EQ(Globals().StartupPassword, "7");
    EXPECT_EQ(Globals().ProgramFolder, dir_.path() + "/");
    EXPECT_EQ(DataFolder(), dir_.path() + "/Data");
    EXPECT_EQ(Globals().ProductKey, "Quellfen");
    EXPECT_EQ(Globals().VersionDocPath, dir_.path() + "/CurrentVersionQuellfen.txt");
    EXPECT_FALSE(form->FlashPwd->isVisibleTo(form.get()));
    calls_.log.clear();
  }
  // The registry's refusal is swallowed; the table is still flushed.
  EXPECT_EQ(calls_.log, (QStringList{"write:7", "flush"}));
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(MainFormTest, UnreadablePasswordSkipsEntryAndRepositoryAndFlashes) {
  {
    auto form = MakeForm("");
    EXPECT_EQ(calls_.log, QStringList{"read"});
    EXPECT_TRUE(form->FlashPwd->isVisibleTo(form.get()));
    EXPECT_EQ(form->PWgrid->model()->rowCount(), 0);
    calls_.log.clear();
  }
  // Written back empty; nothing to flush.
  EXPECT_EQ(calls_.log, QStringList{"write:"});
}

TEST_F(MainFormTest, FailedEntryRequestsTerminationAndCloseStepIsSkipped) {
  fail_entry_ = true;
  auto form = MakeForm("7");
  // Creation went on to the repository, as the entry's result is not consulted.
  EXPECT_EQ(calls_.log, (QStringList{"read", "ask", "open"}));
  EXPECT_TRUE(TerminationRequested());
  repository_->editing = true;
  QCloseEvent close;
  QCoreApplication::sendEvent(form.get(), &close);
  EXPECT_TRUE(close.isAccepted());
  EXPECT_FALSE(calls_.log.contains("post"));
  EXPECT_TRUE(Ini().isEmpty());
}

TEST_F(MainFormTest, ShowingAppliesColoursAndTodaysLongDate) {
  SetNameLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
  QFile ini(dir_.filePath("tarn.INI"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Detail]\r\nGrad1Str=clNavy\r\nGrad2Str=$000000FF\r\nGrad3Str=clWhite\r\n");
  ini.close();
  auto form = MakeForm();
  form->show();
  EXPECT_EQ(form->HeadPanel->StartColor(), QColor(0, 0, 0x80));
  EXPECT_EQ(form->HeadPanel->EndColor(), QColor(0xFF, 0, 0));
  EXPECT_EQ(form->SubHead->StartColor(), QColor(0, 0, 0x80));
  EXPECT_EQ(form->PWgrid->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(form->PWnote->palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(form->HeadPanel->Caption(), "Tuesday 8 December 2026");
  EXPECT_EQ(Globals().PreviousWidth, form->width());
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(MainFormTest, MalformedColourIsReportedAndLaterColoursAreNotApplied) {
  QFile ini(dir_.filePath("tarn.INI"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Detail]\r\nGrad2Str=clPinkish\r\nGrad3Str=clYellow\r\n");
  ini.close();
  auto form = MakeForm();
  form->show();
  EXPECT_EQ(boxes_.Texts(), QStringList{"'clPinkish' is not a valid integer value."});
  EXPECT_NE(form->PWgrid->palette().color(QPalette::Base), QColor(Qt::yellow));
  QFile log(dir_.filePath("tarn.Log"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_EQ(log.readAll(), "08/12/2026 14:05:09:'clPinkish' is not a valid integer value\r\n");
  // Closing keeps the text as the user had it.
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(Ini().contains("Grad2Str=clPinkish\r\n"));
}

TEST_F(MainFormTest, ResizingScalesColumnsFromThePreviousWidth) {
  auto form = MakeForm();
  // Sizes that fit the offscreen screen (800 x 600), in the ratio 1000 : 1200.
  form->resize(600, 500);  // before the first show: columns stay
  EXPECT_EQ(form->PWgrid->columnWidth(0), 193);
  form->show();
  ASSERT_EQ(Globals().PreviousWidth, 600);
  form->resize(720, 500);
  QTRY_COMPARE(form->width(), 720);
  EXPECT_EQ(form->PWgrid->columnWidth(0), 232);  // 231.6
  EXPECT_EQ(form->PWgrid->columnWidth(1), 125);  // 124.8
  EXPECT_EQ(Globals().PreviousWidth, 720);
  // The buttons keep their distance from the right edge.
  EXPECT_EQ(form->HeadPanel->width() - form->findChild<QWidget*>("GoBtn")->x(), 1020 - 952);
}

TEST_F(MainFormTest, ClosingPostsAndSavesAllFiveColours) {
  auto form = MakeForm();
  repository_->editing = true;
  Globals().Grad4Str = "clYellow";
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(calls_.log.contains("post"));
  EXPECT_EQ(Ini(),
            "[Detail]\r\nGrad1Str=clBlue\r\nGrad2Str=clLime\r\nGrad3Str=$00BBFFFF\r\n"
            "Grad4Str=clYellow\r\nStartColStr=clLime\r\n");
}

TEST_F(MainFormTest, FailedPostKeepsTheWindowOpenAndUnsaved) {
  auto form = MakeForm();
  form->show();
  repository_->editing = true;
  repository_->post_error = true;
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(boxes_.Texts(), QStringList{"Key violation."});
  EXPECT_TRUE(Ini().isEmpty());
  repository_->post_error = false;
  EXPECT_TRUE(form->close());
}

TEST_F(MainFormTest, UnwritableSettingsAreReportedAndTheWindowStillCloses) {
  ASSERT_TRUE(QDir().mkpath(dir_.filePath("tarn.INI")));  // the path is taken by a folder
  auto form = MakeForm();
  form->show();
  EXPECT_TRUE(form->close());
  EXPECT_EQ(boxes_.Texts(), QStringList{"Unable to write to " + dir_.filePath("tarn.INI") + "."});
}

TEST_F(MainFormTest, LabelIsPlainAndMenusOpenWithAltAndTheirLetter) {
  auto form = MakeForm();
  form->show();
  EXPECT_FALSE(form->FlashPwd->font().bold());
  EXPECT_EQ(form->FlashPwd->font().family(), "Georgia");
  EXPECT_EQ(form->FlashPwd->font().pixelSize(), 11);
  // Every menu and entry has a letter; Alt+P opens the Password menu.
  for (QAction* a : {form->File1->menuAction(), form->Config1->menuAction(),
                     form->Help1->menuAction(), form->Password1->menuAction(), form->About1,
                     form->SplashScreen, form->Colors1, form->UpGrade1, form->VersionCheck1,
                     form->Tarn1, form->N11, form->Hints1, form->Delete1, form->PWChange})
    EXPECT_TRUE(a->text().contains('&')) << a->text().toStdString();
  EXPECT_FALSE(form->Delete1->icon().isNull());
  form->activateWindow();
  QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
  QTRY_VERIFY(form->Password1->isVisible());
  form->Password1->close();
}

TEST_F(MainFormTest, HintsReachTheStatusBarAndStay) {
  auto form = MakeForm();
  form->show();
  QStatusTipEvent tip("Print to File or Report");
  QCoreApplication::sendEvent(form->PWbtn, &tip);
  EXPECT_EQ(form->statusBar()->currentMessage(), "Print to File or Report");
  QStatusTipEvent empty("");
  QCoreApplication::sendEvent(form->PWbtn, &empty);
  EXPECT_EQ(form->statusBar()->currentMessage(), "Print to File or Report");
}

}  // namespace
}  // namespace tarn
