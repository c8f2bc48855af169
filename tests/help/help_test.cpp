#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "app/message_box.h"
#include "app/process_values.h"
#include "app/version_check.h"
#include "help/about_form.h"
#include "help/about_values.h"
#include "help/colour_box.h"
#include "help/colour_form.h"
#include "help/help_topics.h"
#include "help/msg_form.h"
#include "kit/gradient_panel.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"
#include "platform/program_path.h"
#include "reports/report_output.h"

namespace tarn {
namespace {

const QColor kLime(0, 255, 0);

// Keeps the text lines of what would be printed.
struct TRecordingOutput : TReportOutput {
  void Preview(QWidget*, const TReportDocument&) override { ADD_FAILURE() << "no preview"; }
  bool PrintToDefault(QWidget* owner, const TReportDocument& document) override {
    EXPECT_NE(owner, nullptr);
    QStringList lines;
    for (const TReportPage& page : document.pages)
      for (const TPageItem& item : page.items)
        if (const auto* text = std::get_if<TTextItem>(&item)) lines << text->text;
    printed.push_back(lines);
    return true;
  }
  std::vector<QStringList> printed;
};

class HelpWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Globals() = TProcessValues{}; }
  void TearDown() override { Globals() = TProcessValues{}; }
  // Reported errors are logged beside the program: keep them out of the build.
  QTemporaryDir dir_;
  TScopedProgramPath path_{dir_.filePath("tarn")};
  TScriptedMessageBoxes boxes_;
};

TEST_F(HelpWindowTest, CompatibilityTopicNamesTheProgramAndItsFolder) {
  TScopedProgramPath path("/opt/tarn/bin/tarn");
  const QString text = HelpTopicText(THelpTopic::kSplashScreen);
  EXPECT_TRUE(text.startsWith(" WINDOWS  COMPATIBILITY :\r\n\r\n  It is STRONGLY"));
  EXPECT_TRUE(text.endsWith(
      "  Shortcuts to  /opt/tarn/bin/tarn  should have their \"Start In Properties\" set to  "
      "/opt/tarn/bin/\r\n\r\n  Just hit the ENTER key to close this Help Form (as long as nothing "
      "on the form has been clicked).\r\n"));
}

TEST_F(HelpWindowTest, EachTopicShowsOnceUnderItsFirstLineAsHeading) {
  const std::pair<THelpTopic, QString> topics[] = {
      {THelpTopic::kAbout, "ABOUT TARN :"},
      {THelpTopic::kBeginners, "BEGINNERS :"},
      {THelpTopic::kHints, " HINTS :"},
      {THelpTopic::kSplashScreen, " WINDOWS  COMPATIBILITY :"}};
  for (const auto& [topic, heading] : topics) {
    // Twice in a row: a new window each time, holding the topic once.
    for (int round = 0; round < 2; ++round) {
      QString shown;
      QString title;
      QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<TMsgForm*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        shown = form->HMsg->toPlainText();
        title = form->FlashHelp->text();
        form->CloseBtn->click();
      });
      ShowHelpTopic(nullptr, topic);
      const QString expected = HelpTopicText(topic);
      EXPECT_EQ(Globals().HelpText, expected);
      QString plain = expected;
      plain.replace("\r\n", "\n");
      EXPECT_EQ(shown, plain);
      EXPECT_EQ(title, heading);
    }
  }
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(HelpWindowTest, EnterClosesUntilTheTextIsClicked) {
  Globals().HelpText = HelpTopicText(THelpTopic::kHints);
  {
    TMsgForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), form.CloseBtn);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
  }
  TMsgForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::mouseClick(form.HMsg->viewport(), Qt::LeftButton, {}, QPoint(40, 8));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.HMsg->toPlainText().count('\n'),
            HelpTopicText(THelpTopic::kHints).count('\n') + 1);
}

TEST_F(HelpWindowTest, CopyTakesTheEditedBoxPrintTakesTheTopicAndBothTurnLime) {
  Globals().Grad1Str = "clBlue";
  Globals().Grad2Str = "clYellow";
  Globals().Grad3Str = "$00BBFFFF";
  Globals().HelpText = HelpTopicText(THelpTopic::kAbout);
  TRecordingOutput printer;
  TScopedReportOutput output(&printer);
  TMsgForm form;
  form.show();
  EXPECT_EQ(form.HeadPanel->StartColor(), QColor(0, 0, 255));
  EXPECT_EQ(form.HeadPanel->EndColor(), QColor(255, 255, 0));
  EXPECT_EQ(form.CopyBtn->StartColor(), QColor(255, 255, 0));
  EXPECT_EQ(form.HMsg->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xBB));

  form.HMsg->moveCursor(QTextCursor::End);
  form.HMsg->insertPlainText(" edited");
  form.CopyBtn->click();
  EXPECT_EQ(QApplication::clipboard()->text(), form.HMsg->toPlainText());
  EXPECT_TRUE(QApplication::clipboard()->text().endsWith("ULTRA SECURE ! edited"));
  form.PrintBtn->click();
  ASSERT_EQ(printer.printed.size(), 1u);
  const QStringList lines = printer.printed[0];
  EXPECT_TRUE(lines.contains(" ULTRA SECURE !"));
  EXPECT_TRUE(lines.filter("edited").isEmpty());
  // Still lime after more use and a repaint.
  form.HMsg->insertPlainText("!");
  form.repaint();
  for (TShapeButton* b : {form.CopyBtn, form.PrintBtn}) {
    EXPECT_EQ(b->StartColor(), kLime);
    EXPECT_EQ(b->EndColor(), kLime);
  }
}

TEST_F(HelpWindowTest, HeadingTwinklesEveryTwoSecondsWhileShown) {
  TMsgForm form;
  EXPECT_EQ(form.windowTitle(), " Help Information");
  EXPECT_EQ(form.FlashHelp->Interval(), 2000);
  form.show();
  EXPECT_TRUE(form.FlashHelp->IsTwinkling());
  const QColor first = form.FlashHelp->CurrentColor();
  form.FlashHelp->Twinkle();
  EXPECT_EQ(form.FlashHelp->CurrentColor(), QColor(Qt::white));
  EXPECT_NE(first, QColor(Qt::white));
}

TEST_F(HelpWindowTest, UnreadableColourIsReportedAndTheWindowStillOpens) {
  Globals().Grad1Str = "nonsense";
  Globals().HelpText = "X";
  TMsgForm form;
  form.show();
  EXPECT_EQ(form.HMsg->toPlainText(), "X");
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_TRUE(boxes_.Texts()[0].contains("nonsense"));
}

// The colour dialog.
class ColourFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Globals() = TProcessValues{};
    Globals().Grad4Str = "clBtnFace";
  }
  void TearDown() override { Globals() = TProcessValues{}; }
  static void Pick(TColourBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
  }
  std::array<QString, 5> Settings() const {
    const TProcessValues& g = Globals();
    return {g.Grad1Str, g.Grad2Str, g.Grad3Str, g.Grad4Str, g.StartColStr};
  }
  QTemporaryDir dir_;
  TScopedProgramPath path_{dir_.filePath("tarn")};
  TScriptedMessageBoxes boxes_;
  std::optional<QColor> chosen_;
  TScopedColourChooser chooser_{[this](QWidget*, const QColor&) { return chosen_; }};
};

TEST_F(ColourFormTest, ChoicesPreviewAtOnceAndQuitChangesNothing) {
  const auto before = Settings();
  TColourForm form;
  EXPECT_EQ(form.windowTitle(), " Colour Configuration Form");
  form.show();
  EXPECT_EQ(form.ColorBox1->currentText(), "Blue");
  EXPECT_EQ(form.ColorBox4->currentIndex(), TColourBox::kCustomIndex);

  Pick(form.ColorBox1, 10);  // Red
  Pick(form.ColorBox2, 16);  // White
  Pick(form.ColorBox3, 1);   // Black
  chosen_ = QColor(0x12, 0x34, 0x56);
  Pick(form.ColorBox4, TColourBox::kCustomIndex);
  Pick(form.ColorBox5, 14);  // Fuchsia
  EXPECT_EQ(form.HeadPanel->StartColor(), QColor(255, 0, 0));
  EXPECT_EQ(form.HeadPanel->EndColor(), QColor(255, 255, 255));
  EXPECT_EQ(form.GridNotes->palette().color(QPalette::Window), QColor(0, 0, 0));
  EXPECT_EQ(form.AltLabel->palette().color(QPalette::Window), QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(form.CurrentCol->palette().color(QPalette::Window), QColor(255, 0, 255));
  EXPECT_EQ(form.SaveBtn->StartColor(), QColor(255, 255, 255));
  EXPECT_EQ(form.QuitBtn->EndColor(), QColor(255, 0, 0));
  EXPECT_EQ(Settings(), before);

  form.QuitBtn->click();
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(Settings(), before);
}

TEST_F(ColourFormTest, SaveWithoutChangeWritesTheSameTexts) {
  Globals().Grad2Str = "nonsense";  // unreadable: reported, kept unless changed
  const auto before = Settings();
  TColourForm form;
  EXPECT_EQ(boxes_.Shown().size(), 1u);
  form.show();
  form.SaveBtn->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(Settings(), before);
  EXPECT_EQ(Globals().Grad3Str, "$00BBFFFF");
  EXPECT_EQ(Globals().Grad4Str, "clBtnFace");
}

TEST_F(ColourFormTest, CustomColoursAreStoredByNameWhenTheyHaveOne) {
  TColourForm form;
  form.show();
  chosen_ = QColor(0xFF, 0xFB, 0xF0);  // cream
  Pick(form.ColorBox1, TColourBox::kCustomIndex);
  chosen_ = QColor(0xAB, 0xCD, 0xEF);
  Pick(form.ColorBox3, TColourBox::kCustomIndex);
  chosen_ = QColor(0, 0x80, 0);  // a standard colour picked as custom
  Pick(form.ColorBox5, TColourBox::kCustomIndex);
  EXPECT_EQ(form.ColorBox5->currentText(), "Green");
  chosen_.reset();  // cancelled: the selection stays
  Pick(form.ColorBox2, TColourBox::kCustomIndex);
  form.SaveBtn->click();
  EXPECT_EQ(Globals().Grad1Str, "clCream");
  EXPECT_EQ(Globals().Grad2Str, "clLime");
  EXPECT_EQ(Globals().Grad3Str, "$00EFCDAB");
  EXPECT_EQ(Globals().StartColStr, "clGreen");
}

TEST_F(ColourFormTest, OwnerReappliesHoweverTheDialogCloses) {
  int reapplied = 0;
  for (const char* button : {"SaveBtn", "QuitBtn", ""}) {
    QTimer::singleShot(0, [&] {
      auto* form = qobject_cast<TColourForm*>(QApplication::activeModalWidget());
      ASSERT_NE(form, nullptr);
      Pick(form->ColorBox1, 10);
      if (*button) {
        form->findChild<TShapeButton*>(button)->click();
      } else {
        form->close();
      }
    });
    const bool saved = ShowColourForm(nullptr, [&] { ++reapplied; });
    EXPECT_EQ(saved, QString(button) == "SaveBtn");
    EXPECT_EQ(Globals().Grad1Str, "clRed");  // saved by the first round only
  }
  EXPECT_EQ(reapplied, 3);
}

// The about window.
TEST(AboutValuesTest, OperatingSystemTextFollowsThePlatformFamily) {
  EXPECT_EQ(OsText({TPlatformFamily::kWindowsNT, {}, 6, 1, 7601, "Service Pack 1"}),
            "Windows NT 6.1 (Build 7601: Service Pack 1)");
  EXPECT_EQ(OsText({TPlatformFamily::kWindowsNT, {}, 10, 0, 19045, {}}),
            "Windows NT 10.0 (Build 19045)");
  EXPECT_EQ(OsText({TPlatformFamily::kWindows9x, {}, 4, 10, 0x040A08AE, {}}),
            "Windows 95 4.10 (Build 2222)");
  EXPECT_EQ(OsText({TPlatformFamily::kOther, "Linux", 6, 1, 99, "x"}), "Linux 6.1");
  const TSystemVersion here = CurrentSystemVersion();
  EXPECT_FALSE(here.name.isEmpty());
  EXPECT_EQ(OsText(here),
            QStringLiteral("%1 %2.%3").arg(here.name).arg(here.major).arg(here.minor));
}

TEST(AboutValuesTest, MemoryInKilobytesGroupedByTheLocale) {
  EXPECT_EQ(PhysicalMemoryText(16777216ull * 1024 + 1023, QLocale(QLocale::English)),
            "16,777,216 KB");
  EXPECT_EQ(PhysicalMemoryText(1234567ull * 1024, QLocale(QLocale::German)), "1.234.567 KB");
  EXPECT_EQ(PhysicalMemoryText(999ull * 1024, QLocale::c()), "999 KB");
  EXPECT_GT(PhysicalMemoryBytes(), 0u);
}

TEST(AboutFormTest, ShowsTheBuildVersionOrZerosWhenUnreadable) {
  Globals() = TProcessValues{};
  {
    TAboutForm form;
    EXPECT_EQ(form.windowTitle(), " About this Software");
    form.show();
    const TFileVersion v = *ProgramFileVersion();
    EXPECT_EQ(form.VerLab->text(),
              QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.release));
    EXPECT_EQ(form.OS->text(), OsText(CurrentSystemVersion()));
    EXPECT_TRUE(form.PhysMem->text().endsWith(" KB"));
    EXPECT_EQ(form.BodyPanel->StartColor(), QColor(0, 0, 255));
    EXPECT_EQ(form.CloseBtn->StartColor(), QColor(0, 255, 0));
    EXPECT_EQ(form.size(), QSize(644, 523));
    // The memory text ends where the layout says, whatever its length.
    EXPECT_EQ(form.PhysMem->geometry().right() + 1, 606);
    form.CloseBtn->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
  }
  TScopedFileVersion unreadable{std::nullopt};
  TAboutForm form;
  form.show();
  EXPECT_EQ(form.VerLab->text(), "0.0.0");
}

}  // namespace
}  // namespace tarn
