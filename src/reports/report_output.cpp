#include "reports/report_output.h"

#include "reports/report_preview.h"
#include "reports/report_print.h"

namespace tarn {
namespace {

class TScreenOutput : public TReportOutput {
 public:
  void Preview(QWidget* owner, const TReportDocument& document) override {
    TPreviewForm preview(document, owner);
    preview.exec();
  }
  bool PrintToDefault(QWidget* owner, const TReportDocument& document) override {
    return PrintToDefaultPrinter(document, owner);
  }
};

TReportOutput*& Installed() {
  static TScreenOutput screen;
  static TReportOutput* installed = &screen;
  return installed;
}

}  // namespace

TReportOutput& ReportOutput() { return *Installed(); }

TScopedReportOutput::TScopedReportOutput(TReportOutput* output) : previous_(Installed()) {
  Installed() = output;
}

TScopedReportOutput::~TScopedReportOutput() { Installed() = previous_; }

}  // namespace tarn
