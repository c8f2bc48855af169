#include "reports/report_print.h"

#include <QCoreApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressDialog>
#include <algorithm>

#include "reports/report_render.h"

namespace tarn {

bool PrintPages(QPrinter& printer, const TReportDocument& document, int from, int to,
                QWidget* progress_owner) {
  const int count = static_cast<int>(document.pages.size());
  from = std::clamp(from, 1, std::max(count, 1));
  to = std::clamp(to, from, std::max(count, 1));
  if (count == 0) return false;
  printer.setFullPage(true);
  printer.setPageLayout(QPageLayout(
      QPageSize(QPageSize::A4),
      document.Landscape() ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
  if (printer.docName().isEmpty()) printer.setDocName(document.title);

  // Copies the printer cannot make itself are sent as repeated pages.
  const int copies = printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
  const int total = (to - from + 1) * copies;
  QProgressDialog progress(QStringLiteral("Printing..."), QStringLiteral("Cancel"), 0, total,
                           progress_owner);
  progress.setWindowTitle(QStringLiteral("Printing"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);

  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const double px_per_mm = printer.resolution() / 25.4;
  for (int sheet = 0; sheet < total; ++sheet) {
    const int page = from + sheet % (to - from + 1);
    progress.setLabelText(QStringLiteral("Printing page %1 of %2").arg(page).arg(to));
    progress.setValue(sheet);
    QCoreApplication::processEvents();
    if (progress.wasCanceled()) {
      printer.abort();
      painter.end();
      return false;
    }
    if (sheet > 0) printer.newPage();
    PaintPage(painter, document.pages[page - 1], px_per_mm);  // full page: origin at the corner
  }
  progress.setValue(total);
  return painter.end();
}

bool PrintToDefaultPrinter(const TReportDocument& document, QWidget* progress_owner) {
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) return false;
  QPrinter printer(info, QPrinter::HighResolution);
  printer.setCopyCount(1);
  return PrintPages(printer, document, 1, static_cast<int>(document.pages.size()), progress_owner);
}

}  // namespace tarn
