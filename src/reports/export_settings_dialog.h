// The settings dialog of an export format: one row per setting, OK and
// Cancel. Apply() stores the edited values in the exporter.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "reports/report_export.h"

namespace tarn {

class TExportSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  TExportSettingsDialog(TReportExporter& exporter, QWidget* parent);
  void Apply();

 private:
  TReportExporter& exporter_;
  std::vector<QWidget*> editors_;
};

// What EditExportSettings runs; tests replace it to answer without a screen.
using TSettingsEditor = std::function<bool(QWidget*, TReportExporter&)>;
class TScopedSettingsEditor {
 public:
  explicit TScopedSettingsEditor(TSettingsEditor editor);
  ~TScopedSettingsEditor();
  TScopedSettingsEditor(const TScopedSettingsEditor&) = delete;
  TScopedSettingsEditor& operator=(const TScopedSettingsEditor&) = delete;

 private:
  TSettingsEditor previous_;
};

}  // namespace tarn
