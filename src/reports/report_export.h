// Export formats of a prepared report. Each format has settings the user
// sets in its own dialog before the file is written; the defaults give a
// file of the page's true size that opens in the usual program for it.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <stdexcept>
#include <vector>

#include "reports/report_pages.h"

class QWidget;

namespace tarn {

class EExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One setting of a format, shown as a row of its settings dialog.
struct TExportSetting {
  enum class TKind { kInt, kBool, kText, kChoice };
  QString key;
  QString label;
  TKind kind = TKind::kBool;
  QVariant value;       // int, bool, QString; for a choice the chosen index
  int min = 0, max = 0;  // int range
  QStringList choices;
};

class TReportExporter {
 public:
  virtual ~TReportExporter() = default;
  virtual QString Description() const = 0;  // as the save dialog lists it
  virtual QString Extension() const = 0;    // without the dot
  std::vector<TExportSetting>& Settings() { return settings_; }
  QVariant Value(const QString& key) const;
  void SetValue(const QString& key, const QVariant& value);
  // Writes `path`; images with several pages write one file a page (see
  // PagePaths). Throws EExportError with a message for the user.
  virtual void Write(const TReportDocument& document, const QString& path) const = 0;

 protected:
  std::vector<TExportSetting> settings_;
};

// Every export format, in the save dialog's order: PDF, HTML, XHTML, RTF,
// XLS, TXT, BMP, JPG, GIF, EMF, WMF.
std::vector<std::unique_ptr<TReportExporter>> ExportFormats();

// Shows the settings dialog of `exporter` ("<description> settings");
// false when cancelled. Goes through a seam so tests can answer it.
bool EditExportSettings(QWidget* parent, TReportExporter& exporter);

// Files written for an image export of `pages` pages to `path`: the path
// itself for one page, else "name_1.ext", "name_2.ext", ...
QStringList PagePaths(const QString& path, int pages);

}  // namespace tarn
