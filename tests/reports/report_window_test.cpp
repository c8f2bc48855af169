// The print command, the help print call and the preview window, on the
// offscreen platform with the preview and message boxes answered by the test.
#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <stdexcept>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "reports/export_settings_dialog.h"
#include "reports/pass_form.h"
#include "reports/print_msg_form.h"
#include "reports/report_dataset.h"
#include "reports/report_file.h"
#include "reports/report_output.h"
#include "reports/report_preview.h"
#include "reports/report_print.h"
#include "report_test_util.h"

namespace tarn {
namespace {

// The live query as the report sees it, with a pending edit that a post applies.
class TFakeQuery : public TRowsDataset {
 public:
  using TRowsDataset::TRowsDataset;
  QString pending;  // new Item of the first record, applied by Post
  std::vector<std::string>* log = nullptr;
  QString FieldText(const QString& name) const override {
    if (posted && Current() == 0 && name == QStringLiteral("Item")) return pending;
    return TRowsDataset::FieldText(name);
  }
  bool posted = false;
};

class TRecordingOutput : public TReportOutput {
 public:
  void Preview(QWidget*, const TReportDocument& document) override {
    log->push_back("preview");
    if (fail) throw std::runtime_error("Preview failed");
    previews.push_back(document);
  }
  bool PrintToDefault(QWidget*, const TReportDocument& document) override {
    printed.push_back(document);
    return true;
  }
  std::vector<std::string>* log = nullptr;
  bool fail = false;
  std::vector<TReportDocument> previews, printed;
};

bool HasText(const TReportDocument& document, const QString& text) {
  for (const auto& page : document.pages)
    for (const auto& item : page.items)
      if (auto* t = std::get_if<TTextItem>(&item); t && t->text == text) return true;
  return false;
}

class PrintCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Globals() = TProcessValues{};
    query_.log = &log_;
    output_.log = &log_;
    caller_.dataset = &query_;
    caller_.editing_existing = [this] { return editing_; };
    caller_.post = [this] {
      log_.push_back("post");
      query_.posted = true;
    };
    caller_.focus_grid = [this] { log_.push_back("focus"); };
    query_.MoveTo(1);
  }

  TFakeQuery query_{std::vector<TRowsDataset::TRow>{
      {{QStringLiteral("Item"), QStringLiteral("Bank")}},
      {{QStringLiteral("Item"), QStringLiteral("Mail")}},
      {{QStringLiteral("Item"), QStringLiteral("Shop")}}}};
  std::vector<std::string> log_;
  TRecordingOutput output_;
  TScopedReportOutput scoped_output_{&output_};
  TScriptedMessageBoxes boxes_;
  TPassReportCaller caller_;
  bool editing_ = true;
};

TEST_F(PrintCommandTest, NoOrCancelLeavesEverythingAlone) {
  for (TMsgResult answer : {TMsgResult::kNo, TMsgResult::kCancel}) {
    boxes_.QueueAnswer(answer);
    PWbtnClick(nullptr, caller_);
  }
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_EQ(boxes_.Shown()[0].text, QString::fromLatin1(kPassReportQuestion));
  EXPECT_EQ(boxes_.Shown()[0].caption, QStringLiteral("Confirm"));
  EXPECT_EQ(boxes_.Shown()[0].buttons, TMsgButtons::kYesNoCancel);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(query_.Current(), 1u);
}

TEST_F(PrintCommandTest, YesPostsThePendingEditFirstPreviewsAllRecordsAndEndsOnTheLast) {
  query_.pending = QStringLiteral("Bank (edited)");
  boxes_.QueueAnswer(TMsgResult::kYes);
  PWbtnClick(nullptr, caller_);
  EXPECT_EQ(log_, (std::vector<std::string>{"post", "preview", "focus"}));
  ASSERT_EQ(output_.previews.size(), 1u);
  const TReportDocument& shown = output_.previews[0];
  EXPECT_TRUE(HasText(shown, QStringLiteral("Bank (edited)")));
  EXPECT_TRUE(HasText(shown, QStringLiteral("Shop")));
  EXPECT_EQ(shown.title, QStringLiteral("Passwords"));
  EXPECT_EQ(query_.Current(), 2u) << "left on the last record";
  EXPECT_EQ(boxes_.Shown().size(), 1u);

  // A record being inserted is not posted by the command.
  log_.clear();
  editing_ = false;
  boxes_.QueueAnswer(TMsgResult::kYes);
  PWbtnClick(nullptr, caller_);
  EXPECT_EQ(log_, (std::vector<std::string>{"preview", "focus"}));
}

TEST_F(PrintCommandTest, AFailureGivesTheFocusBackThenReportsTheError) {
  output_.fail = true;
  boxes_.QueueAnswer(TMsgResult::kYes);
  PWbtnClick(nullptr, caller_);
  EXPECT_EQ(log_, (std::vector<std::string>{"post", "preview", "focus"}));
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_EQ(boxes_.Shown()[1].caption, QStringLiteral("Tarn"));
  EXPECT_EQ(boxes_.Shown()[1].text, QStringLiteral("Preview failed."));

  // A post that fails is reported the same way, and nothing is previewed.
  log_.clear();
  output_.fail = false;
  caller_.post = [] { throw std::runtime_error("Key violation"); };
  boxes_.QueueAnswer(TMsgResult::kYes);
  PWbtnClick(nullptr, caller_);
  EXPECT_EQ(log_, (std::vector<std::string>{"focus"}));
  EXPECT_EQ(boxes_.Shown().back().text, QStringLiteral("Key violation."));
}

TEST_F(PrintCommandTest, HelpPrintGoesToThePrinterWithTheTopicAsSetAndNoPreview) {
  Globals().HelpText = QStringLiteral("HINTS :\r\n\r\nHover for help.");
  PrintHelpText(nullptr);
  ASSERT_EQ(output_.printed.size(), 1u);
  EXPECT_TRUE(output_.previews.empty());
  EXPECT_TRUE(HasText(output_.printed[0], QStringLiteral("Hover for help.")));
  EXPECT_TRUE(HasText(output_.printed[0], QStringLiteral("Help  Information.")));
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST(PrintWithoutPrinterTest, NothingIsPrintedAndNothingIsSaid) {
  // No print service answers at this address, so there is no printer at all.
  TScriptedMessageBoxes boxes;
  TPrintMsgForm form;
  EXPECT_FALSE(ReportOutput().PrintToDefault(nullptr, form.Prepare()));
  PrintHelpText(nullptr);
  EXPECT_TRUE(boxes.Shown().empty());
}

TReportDocument ThreePages() {
  TReportDocument doc;
  doc.title = QStringLiteral("Three");
  doc.page_width = 297;
  doc.page_height = 210;
  for (int i = 1; i <= 3; ++i) {
    TReportPage page;
    page.items.push_back(TTextItem{QRectF(20, 20, 100, 5), QStringLiteral("Page body %1").arg(i),
                                   TReportFont{}, Qt::black, TAlign::kLeft});
    doc.pages.push_back(page);
  }
  return doc;
}

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    form_.resize(1000, 700);
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
  }
  QTemporaryDir dir_;
  TPreviewForm form_{ThreePages(), nullptr};
  TScriptedMessageBoxes boxes_;
};

TEST_F(PreviewTest, ToolbarPagesAndZooms) {
  EXPECT_EQ(form_.windowTitle(), QStringLiteral("Print Preview"));
  EXPECT_EQ(form_.CloseBtn->text(), QStringLiteral("&Close"));
  auto* label = form_.findChild<QLabel*>(QStringLiteral("PageLabel"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("Page 1 of 3"));
  EXPECT_FALSE(form_.PriorAct->isEnabled());
  form_.NextAct->trigger();
  EXPECT_EQ(form_.PageIndex(), 1);
  form_.LastAct->trigger();
  EXPECT_EQ(form_.PageIndex(), 2);
  EXPECT_FALSE(form_.NextAct->isEnabled());
  EXPECT_EQ(label->text(), QStringLiteral("Page 3 of 3"));
  form_.PriorAct->trigger();
  form_.FirstAct->trigger();
  EXPECT_EQ(form_.PageIndex(), 0);

  form_.FullAct->trigger();
  EXPECT_NEAR(form_.Scale(), form_.logicalDpiX() / 25.4, 1e-9);
  EXPECT_NEAR(form_.PageView()->width(), 297 * form_.logicalDpiX() / 25.4, 1.5);
  form_.FitAct->trigger();
  auto* scroll = form_.findChild<QScrollArea*>();
  const QSize room = scroll->viewport()->size();
  EXPECT_LE(form_.PageView()->width(), room.width());
  EXPECT_LE(form_.PageView()->height(), room.height());
  const double fit = form_.Scale();
  form_.WidthAct->trigger();
  EXPECT_GE(form_.Scale(), fit);
  EXPECT_LE(form_.PageView()->width(), room.width());
  EXPECT_GT(form_.PageView()->width(), room.width() * 0.9);

  const QString shots = qEnvironmentVariable("TARN_SCREENSHOT_DIR");
  if (!shots.isEmpty()) {
    form_.FitAct->trigger();
    form_.grab().save(shots + QStringLiteral("/preview.png"));
  }
  form_.CloseBtn->click();
  EXPECT_FALSE(form_.isVisible());
}

TEST_F(PreviewTest, SavesLoadsAndRefusesADamagedFile) {
  const QString path = dir_.filePath(QStringLiteral("three.trp"));
  form_.ChooseSaveFile = [&](QString* chosen, int* type) {
    *chosen = path;
    *type = 0;
    return true;
  };
  form_.SaveAct->trigger();
  ASSERT_TRUE(QFile::exists(path));

  TPreviewForm other(TReportDocument{}, nullptr);
  other.ChooseOpenFile = [&] { return path; };
  other.LoadAct->trigger();
  EXPECT_EQ(EncodeReportFile(other.Document()), EncodeReportFile(form_.Document()));
  EXPECT_EQ(other.findChild<QLabel*>(QStringLiteral("PageLabel"))->text(),
            QStringLiteral("Page 1 of 3"));

  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  file.seek(30);
  file.write("garbage");
  file.close();
  other.LoadAct->trigger();
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].caption, QStringLiteral("Error"));
  EXPECT_TRUE(boxes_.Shown()[0].text.startsWith(QStringLiteral("The report file is damaged")));
  EXPECT_EQ(other.Document().pages.size(), 3u) << "the shown report stays";
}

TEST_F(PreviewTest, ExportsAfterItsSettingsDialogAndNotWhenCancelled) {
  const QString path = dir_.filePath(QStringLiteral("three.txt"));
  form_.ChooseSaveFile = [&](QString* chosen, int* type) {
    *chosen = path;
    *type = 6;  // Text Document
    return true;
  };
  QString asked;
  bool accept = false;
  TScopedSettingsEditor editor([&](QWidget*, TReportExporter& exporter) {
    asked = exporter.Description();
    exporter.SetValue(QStringLiteral("formfeed"), false);
    exporter.SetValue(QStringLiteral("lineend"), 1);
    return accept;
  });
  form_.SaveAct->trigger();
  EXPECT_EQ(asked, QStringLiteral("Text Document"));
  EXPECT_FALSE(QFile::exists(path));
  accept = true;
  form_.SaveAct->trigger();
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.contains("Page body 1"));
  EXPECT_TRUE(text.contains("Page body 3"));
  EXPECT_FALSE(text.contains('\f'));
  EXPECT_FALSE(text.contains('\r'));
}

TEST_F(PreviewTest, PrintsThePageRangeAsManyTimesAsAsked) {
  // A printer writing PDF cannot make copies itself, so they come as pages.
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  const QString pdf = dir_.filePath(QStringLiteral("printed.pdf"));
  printer.setOutputFileName(pdf);
  printer.setCopyCount(2);
  ASSERT_TRUE(PrintPages(printer, form_.Document(), 2, 3, &form_));
  const testing::TPdfText text = testing::ReadPdfWords(pdf);
  ASSERT_EQ(text.Pages(), 4);
  const char* expected[] = {"2", "3", "2", "3"};
  for (int page = 0; page < 4; ++page) {
    EXPECT_EQ(text.Find(QString::fromLatin1(expected[page]), page).size(), 1u) << page;
    EXPECT_NEAR(text.page_widths[page], 297, 0.5);
  }
}

}  // namespace
}  // namespace tarn
