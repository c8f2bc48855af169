// The report file (".TRP"): a prepared report saved with its pages, so that
// loading it shows exactly the pages that were saved. The bytes are
// documented in report_file.cpp, where they are written.
#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

#include "reports/report_pages.h"

namespace tarn {

inline constexpr int kReportFileVersion = 1;

// A file that is not a report file, is damaged or truncated, or comes from a
// newer version. The message says which, for the user.
class EReportFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

QByteArray EncodeReportFile(const TReportDocument& document);
TReportDocument DecodeReportFile(const QByteArray& bytes);

// Written to a temporary file and renamed over `path`, so a failure leaves
// any earlier file whole. Both throw EReportFileError.
void SaveReportFile(const TReportDocument& document, const QString& path);
TReportDocument LoadReportFile(const QString& path);

}  // namespace tarn
