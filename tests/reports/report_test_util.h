// Helpers for tests that read real report output back: running the
// document tools and reading word boxes out of a PDF.
#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <vector>

namespace tarn::testing {

// Runs `program` with `args`; its standard output, or a null string when it
// could not run or failed.
inline QString RunTool(const QString& program, const QStringList& args, int timeout_ms = 180000) {
  QProcess process;
  process.start(program, args);
  if (!process.waitForFinished(timeout_ms) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0)
    return {};
  const QString out = QString::fromUtf8(process.readAllStandardOutput());
  return out.isNull() ? QStringLiteral("") : out;  // success is never null
}

struct TWord {
  int page = 0;  // 0-based
  double left = 0, top = 0, right = 0, bottom = 0;  // mm from the page's corner
  QString text;
};

struct TPdfText {
  std::vector<double> page_widths, page_heights;  // mm
  std::vector<TWord> words;

  std::vector<TWord> Find(const QString& text, int page = -1) const {
    std::vector<TWord> found;
    for (const auto& w : words)
      if (w.text == text && (page < 0 || w.page == page)) found.push_back(w);
    return found;
  }
  std::vector<TWord> OnPage(int page) const {
    std::vector<TWord> found;
    for (const auto& w : words)
      if (w.page == page) found.push_back(w);
    return found;
  }
  int Pages() const { return static_cast<int>(page_widths.size()); }
};

// The word boxes `pdftotext -bbox` reads from `pdf`, in millimetres.
inline TPdfText ReadPdfWords(const QString& pdf) {
  TPdfText result;
  const QString html = RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
  static const QRegularExpression tag(
      QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\">|"
                     "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                     "yMax=\"([\\d.]+)\">([^<]*)</word>"));
  constexpr double kMm = 25.4 / 72.0;
  for (auto it = tag.globalMatch(html); it.hasNext();) {
    const auto m = it.next();
    if (!m.captured(1).isEmpty()) {
      result.page_widths.push_back(m.captured(1).toDouble() * kMm);
      result.page_heights.push_back(m.captured(2).toDouble() * kMm);
      continue;
    }
    TWord w;
    w.page = result.Pages() - 1;
    w.left = m.captured(3).toDouble() * kMm;
    w.top = m.captured(4).toDouble() * kMm;
    w.right = m.captured(5).toDouble() * kMm;
    w.bottom = m.captured(6).toDouble() * kMm;
    QString text = m.captured(7);
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    w.text = text;
    result.words.push_back(w);
  }
  return result;
}

}  // namespace tarn::testing
