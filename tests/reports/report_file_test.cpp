// Report files: a saved report loads back to the same pages; damaged,
// truncated, foreign and newer files are refused with a message, never a crash.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <random>
#include <zlib.h>

#include "app/date_formats.h"
#include "app/process_values.h"
#include "reports/pass_form.h"
#include "reports/report_dataset.h"
#include "reports/report_file.h"

namespace tarn {
namespace {

TReportDocument Sample() {
  Globals() = TProcessValues{};
  TRowsDataset data({{{QStringLiteral("Item"), QStringLiteral("Bank")},
                      {QStringLiteral("PW"), QStringLiteral("s3cr\u00e9t \u20ac")},
                      {QStringLiteral("Details"), QStringLiteral("line 1\r\nline 2")}},
                     {{QStringLiteral("Item"), QStringLiteral("Mail")}}});
  TPassForm form(&data);
  return form.Prepare();
}

TEST(ReportFileTest, SavedReportLoadsBackToTheSamePages) {
  const TReportDocument document = Sample();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("list.trp"));
  SaveReportFile(document, path);
  const TReportDocument loaded = LoadReportFile(path);
  ASSERT_EQ(loaded.pages.size(), document.pages.size());
  EXPECT_EQ(loaded.title, QStringLiteral("Passwords"));
  EXPECT_TRUE(loaded.Landscape());
  ASSERT_EQ(loaded.pages[0].items.size(), document.pages[0].items.size());
  // Every item comes back: the encodings of both are byte for byte the same.
  EXPECT_EQ(EncodeReportFile(loaded), EncodeReportFile(document));
  bool found = false;
  for (const auto& item : loaded.pages[0].items)
    if (auto* t = std::get_if<TTextItem>(&item))
      found |= t->text == QStringLiteral("s3cr\u00e9t \u20ac");
  EXPECT_TRUE(found);
}

void ExpectRefused(const QByteArray& bytes, const std::string& words) {
  try {
    DecodeReportFile(bytes);
    ADD_FAILURE() << "accepted a file that should be refused";
  } catch (const EReportFileError& e) {
    EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
  }
}

TEST(ReportFileTest, DamagedTruncatedForeignAndNewerFilesAreRefusedWithAMessage) {
  const QByteArray good = EncodeReportFile(Sample());
  ExpectRefused(QByteArray("%PDF-1.4 not a report"), "not a Tarn report file");
  for (qsizetype n = 4; n < good.size(); n += 1 + n / 7)
    ExpectRefused(good.left(n), "damaged");
  QByteArray flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x40);
  ExpectRefused(flipped, "damaged");
  QByteArray newer = good;
  newer[4] = 2;
  ExpectRefused(newer, "newer version");

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("missing.trp"));
  EXPECT_THROW(LoadReportFile(path), EReportFileError);
  // A failed save leaves the earlier file whole.
  const QString kept = dir.filePath(QStringLiteral("kept.trp"));
  SaveReportFile(Sample(), kept);
  EXPECT_THROW(SaveReportFile(Sample(), dir.filePath(QStringLiteral("no/such/dir.trp"))),
               EReportFileError);
  EXPECT_NO_THROW(LoadReportFile(kept));
}

// A brief randomised run over the loader: mutated files (with the checksum
// made right again, so the body parser itself is reached) load or are
// refused with EReportFileError, and nothing else happens.
TEST(ReportFileTest, RandomlyDamagedFilesNeverCrashTheLoader) {
  const QByteArray good = EncodeReportFile(Sample());
  std::mt19937 random(1234);
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    QByteArray bytes = good;
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < changes; ++i) {
      const auto at = static_cast<qsizetype>(16 + random() % (bytes.size() - 16));
      switch (random() % 3) {
        case 0: bytes[at] = static_cast<char>(random()); break;
        case 1: bytes.remove(at, 1 + random() % 16); break;
        default: bytes.insert(at, QByteArray(1 + random() % 4, static_cast<char>(random()))); break;
      }
    }
    // Re-seal length and checksum as a writer of damaged data would.
    const QByteArray body = bytes.mid(16);
    const uint32_t length = static_cast<uint32_t>(body.size());
    const uint32_t crc = static_cast<uint32_t>(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(body.constData()), length));
    for (int b = 0; b < 4; ++b) {
      bytes[8 + b] = static_cast<char>((length >> (8 * b)) & 0xFF);
      bytes[12 + b] = static_cast<char>((crc >> (8 * b)) & 0xFF);
    }
    try {
      const TReportDocument doc = DecodeReportFile(bytes);
      EXPECT_GE(doc.pages.size(), 1u);
    } catch (const EReportFileError&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace tarn
