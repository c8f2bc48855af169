// The export formats, one file each; ExportFormats() lists them in order.
// Shared by the writers: text rows of a page, colour and escaping helpers.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "reports/report_export.h"

namespace tarn {

enum class TImageKind { kBmp, kJpg, kGif };

std::unique_ptr<TReportExporter> MakePdfExporter();
std::unique_ptr<TReportExporter> MakeHtmlExporter(bool xhtml);
std::unique_ptr<TReportExporter> MakeRtfExporter();
std::unique_ptr<TReportExporter> MakeXlsExporter();
std::unique_ptr<TReportExporter> MakeTextExporter();
std::unique_ptr<TReportExporter> MakeImageExporter(TImageKind kind);
std::unique_ptr<TReportExporter> MakeMetafileExporter(bool enhanced);

// Writes a PDF of every page at `dpi` (also the layout tests' reader input).
void WritePdf(const TReportDocument& document, const QString& path, int dpi = 1200,
              const QString& title = {}, const QString& author = {}, bool archive = false);

// Text lines of a page, top to bottom; in each, its texts left to right.
struct TTextRow {
  double top = 0, bottom = 0;
  std::vector<const TTextItem*> cells;
};
std::vector<TTextRow> TextRows(const TReportPage& page);

// The lefts (mm) of the text columns of a whole document, ascending: those
// of its lines with the most texts, lefts closer than 1 mm making one.
std::vector<double> TextColumns(const TReportDocument& document);
// Index of the last column starting at or before `left`.
int ColumnOf(const std::vector<double>& columns, double left);

// Writes `bytes` to `path` through a temporary file; throws EExportError.
void WriteFileBytes(const QString& path, const QByteArray& bytes);

// The exporter boilerplate: description, extension and settings.
class TBasicExporter : public TReportExporter {
 public:
  TBasicExporter(QString description, QString extension)
      : description_(std::move(description)), extension_(std::move(extension)) {}
  QString Description() const override { return description_; }
  QString Extension() const override { return extension_; }

 protected:
  void AddInt(const QString& key, const QString& label, int value, int min, int max) {
    settings_.push_back({key, label, TExportSetting::TKind::kInt, value, min, max, {}});
  }
  void AddBool(const QString& key, const QString& label, bool value) {
    settings_.push_back({key, label, TExportSetting::TKind::kBool, value, 0, 0, {}});
  }
  void AddText(const QString& key, const QString& label, const QString& value) {
    settings_.push_back({key, label, TExportSetting::TKind::kText, value, 0, 0, {}});
  }
  void AddChoice(const QString& key, const QString& label, const QStringList& choices, int value) {
    settings_.push_back({key, label, TExportSetting::TKind::kChoice, value, 0, 0, choices});
  }

 private:
  QString description_, extension_;
};

}  // namespace tarn
