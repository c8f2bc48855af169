// Sends laid-out pages to a printer, page by page, while a progress window
// shows; the user may cancel it, which aborts the job.
#pragma once

#include "reports/report_pages.h"

class QPrinter;
class QWidget;

namespace tarn {

// Pages `from` to `to` (1-based, inclusive). Sets the paper (A4, the
// document's orientation, no margins: the pages carry their own). False when
// the printer refused or the user cancelled.
bool PrintPages(QPrinter& printer, const TReportDocument& document, int from, int to,
                QWidget* progress_owner);

// Prints every page once to the system's default printer. False, and
// nothing shown, when no printer is installed.
bool PrintToDefaultPrinter(const TReportDocument& document, QWidget* progress_owner);

}  // namespace tarn
