// Real printing: the test runs a print service of its own (cupsd on a
// private socket and configuration in a temporary folder) with the PDF
// printer back end as the default printer, prints both reports through it
// and reads the printed PDFs. Skipped only when that service cannot run here.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "reports/export_formats.h"
#include "reports/pass_form.h"
#include "reports/print_msg_form.h"
#include "reports/report_dataset.h"
#include "reports/report_output.h"
#include "report_test_util.h"

namespace tarn {
namespace {

using testing::RunTool;

constexpr char kBackend[] = "/usr/lib/cups/backend/cups-pdf";
constexpr char kPpd[] = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";

class TPrivateCups {
 public:
  ~TPrivateCups() { Stop(); }

  // Empty when it runs with the default printer "TarnPDF", else why not.
  QString Start() {
    if (!QFile::exists(QStringLiteral("/usr/sbin/cupsd")) || !QFile::exists(QString::fromLatin1(kBackend)))
      return QStringLiteral("cupsd or its PDF back end is not installed");
    if (geteuid() != 0) return QStringLiteral("the PDF back end runs only under a root cupsd");
    if (!dir_.isValid()) return QStringLiteral("no temporary folder");
    for (const char* sub : {"root", "spool", "spool/tmp", "cache", "state", "log"})
      QDir(dir_.path()).mkpath(QString::fromLatin1(sub));
    QFile(dir_.path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const QString d = dir_.path();
    Write(QStringLiteral("cupsd.conf"),
          QStringLiteral("Listen %1/cups.sock\nLogLevel warn\nWebInterface No\n"
                         "PreserveJobFiles No\nPreserveJobHistory No\nBrowsing No\n"
                         "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n").arg(d));
    Write(QStringLiteral("cups-files.conf"),
          QStringLiteral("ServerRoot %1/root\nRequestRoot %1/spool\nCacheDir %1/cache\n"
                         "StateDir %1/state\nTempDir %1/spool/tmp\nErrorLog %1/log/error_log\n"
                         "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                         "User lp\nGroup lp\nSystemGroup root\n").arg(d));
    socket_ = d + QStringLiteral("/cups.sock");
    qputenv("CUPS_SERVER", socket_.toLocal8Bit());

    QFileSystemWatcher watcher({d});
    QSignalSpy changed(&watcher, &QFileSystemWatcher::directoryChanged);
    cupsd_.setProcessChannelMode(QProcess::MergedChannels);
    cupsd_.start(QStringLiteral("/usr/sbin/cupsd"),
                 {QStringLiteral("-f"), QStringLiteral("-c"), d + QStringLiteral("/cupsd.conf"),
                  QStringLiteral("-s"), d + QStringLiteral("/cups-files.conf")});
    if (!cupsd_.waitForStarted()) return QStringLiteral("cupsd does not start");
    while (!QFile::exists(socket_)) {
      if (cupsd_.state() != QProcess::Running || !changed.wait(30000))
        return QStringLiteral("cupsd did not come up: ") + QString::fromLocal8Bit(cupsd_.readAll());
    }
    if (RunTool(QStringLiteral("lpadmin"), {QStringLiteral("-p"), QStringLiteral("TarnPDF"), QStringLiteral("-E"),
                                            QStringLiteral("-v"), QStringLiteral("cups-pdf:/"),
                                            QStringLiteral("-P"), QString::fromLatin1(kPpd)})
            .isNull() ||
        RunTool(QStringLiteral("lpadmin"), {QStringLiteral("-d"), QStringLiteral("TarnPDF")}).isNull())
      return QStringLiteral("the PDF printer cannot be added");
    return {};
  }

  void Stop() {
    if (cupsd_.state() == QProcess::Running) {
      cupsd_.terminate();
      if (!cupsd_.waitForFinished(30000)) cupsd_.kill();
      cupsd_.waitForFinished();
    }
  }

  QString SpoolDir() const { return dir_.filePath(QStringLiteral("spool")); }
  bool Idle() const {
    return RunTool(QStringLiteral("lpstat"), {QStringLiteral("-o")}).trimmed().isEmpty();
  }

 private:
  void Write(const QString& name, const QString& text) {
    QFile file(dir_.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
  }

  QTemporaryDir dir_;
  QProcess cupsd_;
  QString socket_;
};

// Where the PDF back end puts a root job: the job owner's home, folder PDF.
QString PrintedFolder() { return QString::fromLocal8Bit(getpwuid(getuid())->pw_dir) + QStringLiteral("/PDF"); }

qsizetype Glyphs(const testing::TPdfText& text, int page) {
  qsizetype count = 0;
  for (const auto& word : text.OnPage(page)) count += word.text.size();
  return count;
}

TEST(ReportPrintTest, BothReportsReachTheDefaultPrinterWithTheirPages) {
  TPrivateCups cups;
  const QString why = cups.Start();
  if (!why.isEmpty()) GTEST_SKIP() << why.toStdString();

  const QString folder = PrintedFolder();
  QDir().mkpath(folder);
  const QStringList before = QDir(folder).entryList({QStringLiteral("*.pdf")}, QDir::Files);
  QFileSystemWatcher watcher({folder, cups.SpoolDir()});
  QSignalSpy changed(&watcher, &QFileSystemWatcher::directoryChanged);

  Globals() = TProcessValues{};
  std::vector<TRowsDataset::TRow> rows;
  for (int i = 0; i < 20; ++i) rows.push_back({{QStringLiteral("Item"), QStringLiteral("Printed%1").arg(i)}});
  TRowsDataset data(rows);
  TPassForm list(&data);
  TScriptedMessageBoxes boxes;
  const TReportDocument list_pages = list.Prepare();
  ASSERT_TRUE(ReportOutput().PrintToDefault(nullptr, list_pages));
  QStringList topic;
  for (int i = 0; i < 90; ++i) topic << QStringLiteral("Topic line %1").arg(i);
  Globals().HelpText = topic.join(QStringLiteral("\r\n"));
  PrintHelpText(nullptr);
  EXPECT_TRUE(boxes.Shown().empty());
  TPrintMsgForm help;
  const TReportDocument help_pages = help.Prepare();

  // Wait, on the folders' changes, for both jobs to finish.
  QStringList printed;
  for (;;) {
    printed = QDir(folder).entryList({QStringLiteral("*.pdf")}, QDir::Files);
    for (const QString& old : before) printed.removeAll(old);
    if (printed.size() >= 2 && cups.Idle()) break;
    ASSERT_TRUE(changed.wait(120000)) << "the printer produced " << printed.size() << " files";
  }
  ASSERT_EQ(printed.size(), 2);
  // The back end names the files after the jobs' titles. Its PDF keeps the
  // glyphs (on A4, landscape pages turned on the sheet) though not their
  // letters, so each page must hold as many glyphs as the report's own.
  QTemporaryDir own;
  int lists = 0, helps = 0;
  for (const QString& name : printed) {
    const QString pdf = QDir(folder).filePath(name);
    const bool is_list = name.startsWith(QStringLiteral("Passwords"));
    lists += is_list;
    helps += name.startsWith(QStringLiteral("Help"));
    const QString expected_pdf = own.filePath(name);
    WritePdf(is_list ? list_pages : help_pages, expected_pdf);
    const testing::TPdfText got = testing::ReadPdfWords(pdf);
    const testing::TPdfText expected = testing::ReadPdfWords(expected_pdf);
    ASSERT_EQ(got.Pages(), 2) << name.toStdString();
    ASSERT_EQ(expected.Pages(), 2);
    for (int page = 0; page < 2; ++page) {
      EXPECT_NEAR(std::min(got.page_widths[page], got.page_heights[page]), 210, 1);
      EXPECT_NEAR(std::max(got.page_widths[page], got.page_heights[page]), 297, 1);
      // (a glyph or two, such as the date's separators, may lose its place in the text)
      EXPECT_NEAR(Glyphs(got, page), Glyphs(expected, page), 3) << name.toStdString();
    }
    QFile::remove(pdf);
  }
  EXPECT_EQ(lists, 1);
  EXPECT_EQ(helps, 1);
}

}  // namespace
}  // namespace tarn
