// The reports' layout, read back from real PDF output with pdftotext.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>

#include "app/date_formats.h"
#include "app/process_values.h"
#include "reports/export_formats.h"
#include "reports/pass_form.h"
#include "reports/print_msg_form.h"
#include "reports/report_dataset.h"
#include "reports/report_layout.h"
#include "report_test_util.h"

namespace tarn {
namespace {

using testing::ReadPdfWords;
using testing::TPdfText;
using testing::TWord;

constexpr double kTolerance = 0.5;  // mm
const QDateTime kPrinted(QDate(2026, 12, 8), QTime(14, 5, 9));

class ReportLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Globals() = TProcessValues{};
    ASSERT_TRUE(dir_.isValid());
  }

  // Writes `document` as PDF (kept in $TARN_REPORT_OUT when set, for looking at).
  TPdfText Read(const TReportDocument& document, const QString& name) {
    const QString pdf = dir_.filePath(name + QStringLiteral(".pdf"));
    WritePdf(document, pdf);
    const QString keep = qEnvironmentVariable("TARN_REPORT_OUT");
    if (!keep.isEmpty()) QFile::copy(pdf, QDir(keep).filePath(name + QStringLiteral(".pdf")));
    TPdfText text = ReadPdfWords(pdf);
    EXPECT_EQ(text.Pages(), static_cast<int>(document.pages.size()));
    return text;
  }

  static TWord One(const TPdfText& text, const QString& word, int page = -1) {
    const auto found = text.Find(word, page);
    EXPECT_EQ(found.size(), 1u) << word.toStdString() << " on page " << page;
    return found.empty() ? TWord{} : found.front();
  }

  QTemporaryDir dir_;
  TScopedClock clock_{[] { return kPrinted; }};
};

TRowsDataset::TRow Row(const QString& item, const QString& pw, const QString& details,
                       const QString& date = QStringLiteral("01/02/2020")) {
  return {{QStringLiteral("Item"), item},   {QStringLiteral("Date"), date},
          {QStringLiteral("User"), item.toLower() + QStringLiteral("_user")},
          {QStringLiteral("PW"), pw},       {QStringLiteral("Web"), item.toLower() + QStringLiteral(".example")},
          {QStringLiteral("Details"), details}};
}

// Column header and footer of a password list page, at their millimetres.
void ExpectPassFrame(const TPdfText& text, int page) {
  const double header_top = 10 + 1.06;
  struct {
    const char* word;
    double left;
  } lefts[] = {{"Item", 10}, {"User", 87.79}, {"Password", 132.77}, {"Web", 248.13}};
  for (const auto& l : lefts) {
    const auto found = text.Find(QString::fromLatin1(l.word), page);
    ASSERT_FALSE(found.empty()) << l.word << " page " << page;
    const auto top = std::min_element(found.begin(), found.end(),
                                      [](auto& a, auto& b) { return a.top < b.top; });
    EXPECT_NEAR(top->left, l.left, kTolerance) << l.word;
    EXPECT_NEAR(top->top, header_top, kTolerance) << l.word;
  }
  const auto data = text.Find(QStringLiteral("Data"), page);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_NEAR(data[0].right, 10 + 55.03 + 21.17, kTolerance);  // right-aligned

  const double footer_top = 210 - 10 - 7.41;
  const auto title = text.Find(QStringLiteral("Passwords"), page);
  ASSERT_EQ(title.size(), 1u) << "footer on page " << page;
  EXPECT_NEAR(title[0].left, 10, kTolerance);
  EXPECT_GT(title[0].top, footer_top);
  EXPECT_LT(title[0].bottom, footer_top + 7.41);
  const auto number = text.Find(QString::number(page + 1), page);
  const auto page_word = text.Find(QStringLiteral("Page"), page);
  ASSERT_EQ(page_word.size(), 1u);
  ASSERT_FALSE(number.empty());
  // "Page n" centred across the band (10 to 292 mm).
  const double centre = (page_word[0].left + number.back().right) / 2;
  EXPECT_NEAR(centre, 10 + 282.0 / 2, kTolerance);
  const auto time = text.Find(QStringLiteral("14:05:09"), page);
  ASSERT_EQ(time.size(), 1u);
  EXPECT_NEAR(time[0].right, 292, kTolerance);
  EXPECT_EQ(text.Find(QStringLiteral("Printed"), page).size(), 1u);
  EXPECT_EQ(text.Find(QStringLiteral("08/12/2026"), page).size(), 1u);
}

TEST_F(ReportLayoutTest, PasswordListPlacesFieldsCutsLongOnesAndGrowsWithNotes) {
  QStringList notes;
  for (int i = 1; i <= 12; ++i) notes << QStringLiteral("note%1").arg(i);
  const QString long_pw(200, QLatin1Char('X'));
  TRowsDataset data({Row(QStringLiteral("Alpha"), QStringLiteral("pw1"), QStringLiteral("single")),
                     Row(QStringLiteral("Bravo"), long_pw, notes.join(QStringLiteral("\r\n"))),
                     Row(QStringLiteral("Charlie") + QString(60, QLatin1Char('c')),
                         QStringLiteral("pw3"), QString())});
  TPassForm form(&data);
  const TReportDocument document = form.Prepare();
  ASSERT_EQ(document.pages.size(), 1u);
  EXPECT_TRUE(document.Landscape());
  EXPECT_EQ(data.Current(), 2u) << "the walk ends on the last record";
  const TPdfText text = Read(document, QStringLiteral("pass_list"));
  ExpectPassFrame(text, 0);

  const double band1 = 10 + 6.88, field = 1.06;
  const TWord alpha = One(text, QStringLiteral("Alpha"));
  EXPECT_NEAR(alpha.left, 10, kTolerance);
  EXPECT_NEAR(alpha.top, band1 + field, kTolerance);
  const auto dates = text.Find(QStringLiteral("01/02/2020"));
  ASSERT_EQ(dates.size(), 3u);
  for (const auto& d : dates) EXPECT_NEAR(d.right, 10 + 55.03 + 21.17, kTolerance);
  EXPECT_NEAR(One(text, QStringLiteral("alpha_user")).left, 87.79, kTolerance);
  EXPECT_NEAR(One(text, QStringLiteral("pw1")).left, 132.77, kTolerance);
  EXPECT_NEAR(One(text, QStringLiteral("alpha.example")).left, 248.13, kTolerance);
  const TWord single = One(text, QStringLiteral("single"));
  EXPECT_NEAR(single.left, 10, kTolerance);
  EXPECT_NEAR(single.top, band1 + 5.82, kTolerance);

  // Second band starts one band height lower; its password is cut at the column's edge.
  const double band2 = band1 + 10.85;
  EXPECT_NEAR(One(text, QStringLiteral("Bravo")).top, band2 + field, kTolerance);
  const auto cut = std::find_if(text.words.begin(), text.words.end(),
                                [](const TWord& w) { return w.text.startsWith(QStringLiteral("XXXX")); });
  ASSERT_NE(cut, text.words.end());
  EXPECT_NEAR(cut->left, 132.77, kTolerance);
  EXPECT_LE(cut->right, 132.77 + 114.83 + kTolerance);
  EXPECT_GT(cut->right, 132.77 + 114.83 - 3) << "cut at the width, not earlier";
  EXPECT_LT(cut->text.size(), long_pw.size());
  // The long item is cut at its column too, before the date column.
  const auto charlie = std::find_if(text.words.begin(), text.words.end(),
                                    [](const TWord& w) { return w.text.startsWith(QStringLiteral("Charlie")); });
  ASSERT_NE(charlie, text.words.end());
  EXPECT_LE(charlie->right, 10 + 52.92 + kTolerance);

  // Twelve lines of notes grow the band; the next record follows below them.
  const double line = LineHeightMm(TReportFont{QStringLiteral("Arial"), 8});
  const TWord last_note = One(text, QStringLiteral("note12"));
  EXPECT_NEAR(last_note.top, band2 + 5.82 + 11 * line, kTolerance);
  const double band3 = band2 + 5.82 + 12 * line + 1.06;
  EXPECT_NEAR(charlie->top, band3 + field, kTolerance);
  EXPECT_GT(band3 - band2, 10.85 + 5);
}

TEST_F(ReportLayoutTest, PasswordListRunsOverPagesInDatasetOrderWithFrameOnEveryPage) {
  std::vector<TRowsDataset::TRow> rows;
  for (int i = 0; i < 40; ++i)
    rows.push_back(Row(QStringLiteral("Rec%1").arg(i, 2, 10, QLatin1Char('0')),
                       QStringLiteral("p%1").arg(i), QStringLiteral("n%1").arg(i)));
  std::reverse(rows.begin(), rows.end());  // the dataset's order, not the items'
  TRowsDataset data(rows);
  TPassForm form(&data);
  const TReportDocument document = form.Prepare();
  const TPdfText text = Read(document, QStringLiteral("pass_pages"));
  // 175.71 mm between column header and footer hold 16 bands of 10.85 mm.
  ASSERT_EQ(text.Pages(), 3);
  int expected = 39;
  for (int page = 0; page < 3; ++page) {
    ExpectPassFrame(text, page);
    std::vector<TWord> items;
    for (const auto& w : text.OnPage(page))
      if (w.text.startsWith(QStringLiteral("Rec"))) items.push_back(w);
    std::sort(items.begin(), items.end(), [](auto& a, auto& b) { return a.top < b.top; });
    EXPECT_EQ(items.size(), page < 2 ? 16u : 8u);
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(items[i].text, QStringLiteral("Rec%1").arg(expected--, 2, 10, QLatin1Char('0')));
      EXPECT_NEAR(items[i].top, 10 + 6.88 + 10.85 * static_cast<double>(i) + 1.06, kTolerance);
    }
  }
  EXPECT_EQ(expected, -1);
}

TEST_F(ReportLayoutTest, EmptyPasswordListIsOnePageWithHeadersAndFooter) {
  TRowsDataset data;
  TPassForm form(&data);
  const TPdfText text = Read(form.Prepare(), QStringLiteral("pass_empty"));
  ASSERT_EQ(text.Pages(), 1);
  ExpectPassFrame(text, 0);
  EXPECT_EQ(text.words.size(), 5u + 6u);  // five headings; title, "Page 1", "Printed" date time
}

TEST_F(ReportLayoutTest, HelpPrintoutContinuesLongTopicsBetweenLinesUnderHeadingAndFooter) {
  TPrintMsgForm form;
  QStringList lines;
  for (int i = 1; i <= 130; ++i) lines << QStringLiteral("Line%1 of the topic").arg(i);
  Globals().HelpText = lines.join(QStringLiteral("\r\n"));  // read when the report starts
  const TReportDocument document = form.Prepare();
  EXPECT_FALSE(document.Landscape());
  const TPdfText text = Read(document, QStringLiteral("help_long"));
  ASSERT_GE(text.Pages(), 2);

  const double footer_top = 297 - 10 - 15.88;
  int next = 1;
  for (int page = 0; page < text.Pages(); ++page) {
    // Publisher heading centred, 8.47 mm below the band's top.
    std::vector<TWord> heading;
    for (const auto& w : text.OnPage(page))
      if (w.bottom < 10 + 15.61) heading.push_back(w);
    ASSERT_FALSE(heading.empty());
    std::sort(heading.begin(), heading.end(), [](auto& a, auto& b) { return a.left < b.left; });
    EXPECT_EQ(heading.front().text, QStringLiteral("The"));
    EXPECT_NEAR((heading.front().left + heading.back().right) / 2, 105, kTolerance);
    EXPECT_NEAR(heading.front().top, 10 + 8.47, kTolerance);
    // Footer with the title "Help  Information." and the page number.
    const auto info = text.Find(QStringLiteral("Information."), page);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_GT(info[0].top, footer_top);
    EXPECT_EQ(text.Find(QString::number(page + 1), page).size(), 1u);
    // Whole lines, in order, none reaching into the footer.
    std::vector<TWord> body;
    for (const auto& w : text.OnPage(page))
      if (w.text.startsWith(QStringLiteral("Line"))) body.push_back(w);
    std::sort(body.begin(), body.end(), [](auto& a, auto& b) { return a.top < b.top; });
    ASSERT_FALSE(body.empty());
    EXPECT_NEAR(body.front().left, 10 + 10.58, kTolerance);
    if (page == 0) {
      EXPECT_NEAR(body.front().top, 10 + 15.61 + 1.06, kTolerance);
    }
    for (const auto& w : body) {
      EXPECT_EQ(w.text, QStringLiteral("Line%1").arg(next++));
      EXPECT_LT(w.bottom, footer_top);
      EXPECT_EQ(text.Find(QStringLiteral("topic"), page).size(), body.size());
    }
  }
  EXPECT_EQ(next, 131);
}

TEST_F(ReportLayoutTest, HelpPrintoutOfAnEmptyTopicIsOnePage) {
  TPrintMsgForm form;
  const TPdfText text = Read(form.Prepare(), QStringLiteral("help_empty"));
  ASSERT_EQ(text.Pages(), 1);
  EXPECT_EQ(text.Find(QStringLiteral("Help"), 0).size(), 1u);
  EXPECT_EQ(text.Find(QStringLiteral("Information."), 0).size(), 1u);
}

TEST_F(ReportLayoutTest, BandsThatCannotFitAPageStillEndTheLayout) {
  // A page header leaving less than a line of room: every record still gets
  // printed, a line a page, and the layout ends.
  TReport report;
  TReportBand header;
  header.kind = TBandKind::kPageHeader;
  header.height = 275;
  TReportBand detail;
  detail.kind = TBandKind::kDetail;
  detail.height = 4;
  TReportControl field;
  field.kind = TControlKind::kDataText;
  field.field = QStringLiteral("Item");
  field.width = 100;
  field.height = 4;
  field.top = 1;
  detail.controls.push_back(field);
  report.bands = {header, detail};
  TRowsDataset data({{{QStringLiteral("Item"), QStringLiteral("one")}},
                     {{QStringLiteral("Item"), QStringLiteral("two")}}});
  report.dataset = &data;
  const TReportDocument document = LayOut(report, kPrinted);
  int lines = 0;
  for (const auto& page : document.pages)
    for (const auto& item : page.items) lines += std::holds_alternative<TTextItem>(item);
  EXPECT_EQ(lines, 2);
  EXPECT_LE(document.pages.size(), 3u);
}

}  // namespace
}  // namespace tarn
