// Every export format written from a real report and opened by the reader a
// person would use: LibreOffice converts the documents, worksheets and
// metafiles, poppler renders the PDF, Qt opens the images.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>

#include "app/date_formats.h"
#include "app/process_values.h"
#include "reports/export_formats.h"
#include "reports/pass_form.h"
#include "reports/report_dataset.h"
#include "reports/report_export.h"
#include "report_test_util.h"

namespace tarn {
namespace {

using testing::ReadPdfWords;
using testing::RunTool;

TReportDocument TwoPageList() {
  Globals() = TProcessValues{};
  std::vector<TRowsDataset::TRow> rows;
  for (int i = 0; i < 20; ++i)
    rows.push_back({{QStringLiteral("Item"), QStringLiteral("Account%1").arg(i)},
                    {QStringLiteral("Date"), QStringLiteral("03/04/2021")},
                    {QStringLiteral("User"), QStringLiteral("user%1").arg(i)},
                    {QStringLiteral("PW"), QStringLiteral("Pw<&>%1").arg(i)},
                    {QStringLiteral("Web"), QStringLiteral("site%1.example").arg(i)},
                    {QStringLiteral("Details"), QStringLiteral("caf\u00e9 note %1").arg(i)}});
  TRowsDataset data(rows);
  TPassForm form(&data);
  return form.Prepare();
}

class ReportExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new QTemporaryDir;
    document_ = new TReportDocument(TwoPageList());
    ASSERT_EQ(document_->pages.size(), 2u);
    for (auto& format : ExportFormats()) {
      const QString path = Path(format->Description());
      format->Write(*document_, path);
    }
  }
  static void TearDownTestSuite() {
    const QString keep = qEnvironmentVariable("TARN_REPORT_OUT");
    if (!keep.isEmpty())
      for (const QString& f : QDir(dir_->path()).entryList(QDir::Files))
        QFile::copy(dir_->filePath(f), QDir(keep).filePath(f));
    delete dir_;
    delete document_;
  }
  // "HTML Document" -> <dir>/HTML_Document.<extension>
  static QString Path(const QString& description) {
    for (auto& format : ExportFormats())
      if (format->Description() == description)
        return dir_->filePath(QString(description).replace(QLatin1Char(' '), QLatin1Char('_')) +
                              QLatin1Char('.') + format->Extension());
    return {};
  }
  // Converts with LibreOffice (one start for all files), as a person opening
  // them would; the converted files' paths ("missing" for one that did not
  // convert), or nothing when LibreOffice is not installed.
  static QStringList Convert(const QStringList& paths, const QString& to) {
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty()) return {};
    const QString out = dir_->filePath(QStringLiteral("converted"));
    QDir().mkpath(out);
    QStringList args{QStringLiteral("-env:UserInstallation=file://") + dir_->filePath(QStringLiteral("lo")),
                     QStringLiteral("--headless"), QStringLiteral("--convert-to"), to,
                     QStringLiteral("--outdir"), out};
    RunTool(office, args + paths, 600000);
    QStringList converted;
    for (const QString& path : paths) {
      const QString file = QDir(out).filePath(QFileInfo(path).completeBaseName() + QLatin1Char('.') +
                                              to.section(QLatin1Char(':'), 0, 0));
      converted << (QFile::exists(file) ? file : QStringLiteral("missing"));
    }
    return converted;
  }
  static QString PdfText(const QString& pdf) {
    return RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  }

  static QTemporaryDir* dir_;
  static TReportDocument* document_;
};

QTemporaryDir* ReportExportTest::dir_ = nullptr;
TReportDocument* ReportExportTest::document_ = nullptr;

TEST_F(ReportExportTest, SaveDialogListsTheFormatsInOrder) {
  QStringList list;
  for (auto& format : ExportFormats()) list << format->Description() + QLatin1Char('|') + format->Extension();
  EXPECT_EQ(list, (QStringList{"Adobe Acrobat Document|pdf", "HTML Document|htm",
                               "XHTML Document|htm", "Rich Text Format|rtf",
                               "Microsoft Excel Worksheet|xls", "Text Document|txt",
                               "Bitmap File|bmp", "JPEG Image File|jpg", "GIF Image File|gif",
                               "Enhanced Metafile|emf", "Windows Metafile|wmf"}));
}

TEST_F(ReportExportTest, PdfRendersWithBothPagesAndTheirText) {
  const QString pdf = Path(QStringLiteral("Adobe Acrobat Document"));
  const auto words = ReadPdfWords(pdf);
  ASSERT_EQ(words.Pages(), 2);
  EXPECT_NEAR(words.page_widths[0], 297, 0.5);
  EXPECT_NEAR(words.page_heights[0], 210, 0.5);
  EXPECT_EQ(words.Find(QStringLiteral("Pw<&>19")).size(), 1u);
  const QString png = dir_->filePath(QStringLiteral("render"));
  RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("30"), QStringLiteral("-png"), pdf, png});
  const QImage first(png + QStringLiteral("-1.png"));
  ASSERT_FALSE(first.isNull());
  EXPECT_NEAR(first.width(), std::lround(297 / 25.4 * 30), 1);
}

TEST_F(ReportExportTest, ImagesOpenWithThePageSizeOneFileAPage) {
  for (const char* description : {"Bitmap File", "JPEG Image File", "GIF Image File"}) {
    const QStringList pages = PagePaths(Path(QString::fromLatin1(description)), 2);
    for (const QString& page : pages) {
      const QImage image(page);
      ASSERT_FALSE(image.isNull()) << page.toStdString();
      // 150 dots per inch by default.
      EXPECT_EQ(image.width(), std::lround(297 / 25.4 * 150)) << description;
      EXPECT_EQ(image.height(), std::lround(210 / 25.4 * 150)) << description;
      // Ink where the first heading is, paper in the middle of nowhere.
      const auto dark = [&](int x_mm, int y_mm) {
        const QColor c = image.pixelColor(std::lround(x_mm / 25.4 * 150), std::lround(y_mm / 25.4 * 150));
        return c.lightness() < 200;
      };
      bool ink = false;
      for (int x = 10; x < 18 && !ink; ++x)
        for (int y = 11; y < 15 && !ink; ++y) ink = dark(x, y);
      EXPECT_TRUE(ink) << description;
      EXPECT_FALSE(dark(150, 190)) << description;
    }
  }
}

TEST_F(ReportExportTest, DocumentsWorksheetAndMetafilesOpenInLibreOffice) {
  const QStringList documents{QStringLiteral("HTML Document"), QStringLiteral("XHTML Document"),
                              QStringLiteral("Rich Text Format"), QStringLiteral("Text Document"),
                              QStringLiteral("Microsoft Excel Worksheet")};
  QStringList paths;
  for (const QString& d : documents) paths << Path(d);
  // The second page of each metafile.
  paths << PagePaths(Path(QStringLiteral("Enhanced Metafile")), 2)[1]
        << PagePaths(Path(QStringLiteral("Windows Metafile")), 2)[1];
  const QStringList pdfs = Convert(paths, QStringLiteral("pdf"));
  if (pdfs.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed";
  for (int i = 0; i < documents.size(); ++i) {
    const QString text = PdfText(pdfs[i]);
    EXPECT_TRUE(text.contains(QStringLiteral("Password"))) << documents[i].toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Pw<&>19"))) << documents[i].toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("caf\u00e9 note 7"))) << documents[i].toStdString();
  }
  for (int i = 5; i < 7; ++i) {
    const QString text = PdfText(pdfs[i]);
    EXPECT_TRUE(text.contains(QStringLiteral("Account19"))) << paths[i].toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Page 2"))) << paths[i].toStdString();
  }

  // The worksheet's columns are the report's: Item, Data, User, Password, Web.
  const QString csv = Convert({Path(QStringLiteral("Microsoft Excel Worksheet"))}, QStringLiteral("csv"))[0];
  QFile file(csv);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << csv.toStdString();
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  ASSERT_GT(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Item,Data,User,Password,Web"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Account0,03/04/2021,user0,Pw<&>0,site0.example"))) << lines[1].toStdString();
}

}  // namespace
}  // namespace tarn
