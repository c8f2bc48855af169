// The help printout: the current help topic (HelpText) on A4 portrait pages
// under the publisher's heading, sent straight to the default printer while
// a progress window shows. Without a printer nothing happens and nothing is
// said.
#pragma once

#include <QString>

#include "reports/report.h"
#include "reports/report_pages.h"

class QWidget;

namespace tarn {

inline constexpr char kHelpPrintoutTitle[] = "Help  Information.";

class TPrintMsgForm {
 public:
  // Reads HelpText when the report starts, not now.
  TPrintMsgForm();
  TReport& Report() { return report_; }
  TReportDocument Prepare();

 private:
  TReport report_;
};

// The help window's print command: prints HelpText to the default printer
// (one copy, all pages).
void PrintHelpText(QWidget* owner);

}  // namespace tarn
