// Where prepared reports go: the preview window, the default printer.
// Both go through a seam so that tests (and windows under test) can watch
// what would be shown or printed without a screen or a printer.
#pragma once

#include <QString>

#include "reports/report_pages.h"

class QWidget;

namespace tarn {

class TReportOutput {
 public:
  virtual ~TReportOutput() = default;
  // Shows "Print Preview" and returns when the user closes it.
  virtual void Preview(QWidget* owner, const TReportDocument& document) = 0;
  // Prints every page, one copy, to the default printer with a progress
  // window; returns false (silently) when no printer is installed.
  virtual bool PrintToDefault(QWidget* owner, const TReportDocument& document) = 0;
};

TReportOutput& ReportOutput();

// Installs `output` for its lifetime (tests); installations nest.
class TScopedReportOutput {
 public:
  explicit TScopedReportOutput(TReportOutput* output);
  ~TScopedReportOutput();
  TScopedReportOutput(const TScopedReportOutput&) = delete;
  TScopedReportOutput& operator=(const TScopedReportOutput&) = delete;

 private:
  TReportOutput* previous_;
};

}  // namespace tarn
