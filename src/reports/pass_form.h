// The password list report: every record of the repository, passwords in
// plain text, on A4 landscape pages, in the order the dataset walks.
//
// PWbtnClick is the main window's print command. It asks first; on Yes it
// has the caller post a pending edit of an existing record, builds the report
// over the dataset (which it leaves on its last record), shows the preview
// and waits for it to close. Afterwards, and also when anything failed, the
// caller gives the focus back to the grid; a failure then goes to
// LogException.
#pragma once

#include <QString>
#include <functional>

#include "reports/report.h"
#include "reports/report_pages.h"

class QWidget;

namespace tarn {

class TReportDataset;

inline constexpr char kPassReportQuestion[] =
    "Are you SURE it is absolutely necessary to print your Passwords ?";

// What the print command needs from the main window and its live query.
struct TPassReportCaller {
  TReportDataset* dataset = nullptr;
  // True while the current record holds an unposted edit of an existing
  // record (a record being inserted does not count).
  std::function<bool()> editing_existing;
  std::function<void()> post;        // posts that edit; throws on failure
  std::function<void()> focus_grid;  // gives the keyboard focus to the grid
};

// The report's definition, bound to `dataset`. Each detail band takes the
// Grad3Str colour as it prints.
class TPassForm {
 public:
  explicit TPassForm(TReportDataset* dataset);
  TReport& Report() { return report_; }
  // Walks the dataset and lays the pages out.
  TReportDocument Prepare();

 private:
  TReport report_;
};

void PWbtnClick(QWidget* owner, const TPassReportCaller& caller);

}  // namespace tarn
