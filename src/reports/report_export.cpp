#include "reports/report_export.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "reports/export_formats.h"
#include "reports/export_settings_dialog.h"

namespace tarn {

QVariant TReportExporter::Value(const QString& key) const {
  for (const auto& s : settings_)
    if (s.key == key) return s.value;
  return {};
}

void TReportExporter::SetValue(const QString& key, const QVariant& value) {
  for (auto& s : settings_)
    if (s.key == key) s.value = value;
}

std::vector<std::unique_ptr<TReportExporter>> ExportFormats() {
  std::vector<std::unique_ptr<TReportExporter>> formats;
  formats.push_back(MakePdfExporter());
  formats.push_back(MakeHtmlExporter(/*xhtml=*/false));
  formats.push_back(MakeHtmlExporter(/*xhtml=*/true));
  formats.push_back(MakeRtfExporter());
  formats.push_back(MakeXlsExporter());
  formats.push_back(MakeTextExporter());
  formats.push_back(MakeImageExporter(TImageKind::kBmp));
  formats.push_back(MakeImageExporter(TImageKind::kJpg));
  formats.push_back(MakeImageExporter(TImageKind::kGif));
  formats.push_back(MakeMetafileExporter(/*enhanced=*/true));
  formats.push_back(MakeMetafileExporter(/*enhanced=*/false));
  return formats;
}

QStringList PagePaths(const QString& path, int pages) {
  if (pages <= 1) return {path};
  const QFileInfo info(path);
  const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName();
  const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
  QStringList paths;
  for (int i = 1; i <= pages; ++i) paths << QStringLiteral("%1_%2%3").arg(stem).arg(i).arg(suffix);
  return paths;
}

TExportSettingsDialog::TExportSettingsDialog(TReportExporter& exporter, QWidget* parent)
    : QDialog(parent), exporter_(exporter) {
  setWindowTitle(exporter.Description() + QStringLiteral(" settings"));
  auto* form = new QFormLayout(this);
  for (const TExportSetting& s : exporter.Settings()) {
    QWidget* editor = nullptr;
    switch (s.kind) {
      case TExportSetting::TKind::kInt: {
        auto* spin = new QSpinBox(this);
        spin->setRange(s.min, s.max);
        spin->setValue(s.value.toInt());
        editor = spin;
        break;
      }
      case TExportSetting::TKind::kBool: {
        auto* check = new QCheckBox(this);
        check->setChecked(s.value.toBool());
        editor = check;
        break;
      }
      case TExportSetting::TKind::kText: {
        auto* edit = new QLineEdit(s.value.toString(), this);
        edit->setMinimumWidth(220);
        editor = edit;
        break;
      }
      case TExportSetting::TKind::kChoice: {
        auto* combo = new QComboBox(this);
        combo->addItems(s.choices);
        combo->setCurrentIndex(s.value.toInt());
        editor = combo;
        break;
      }
    }
    editor->setObjectName(s.key);
    form->addRow(s.label, editor);
    editors_.push_back(editor);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

void TExportSettingsDialog::Apply() {
  auto& settings = exporter_.Settings();
  for (size_t i = 0; i < settings.size(); ++i) {
    QWidget* editor = editors_[i];
    QVariant& value = settings[i].value;
    if (auto* spin = qobject_cast<QSpinBox*>(editor)) value = spin->value();
    if (auto* check = qobject_cast<QCheckBox*>(editor)) value = check->isChecked();
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) value = edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(editor)) value = combo->currentIndex();
  }
}

namespace {

TSettingsEditor& Editor() {
  static TSettingsEditor editor = [](QWidget* parent, TReportExporter& exporter) {
    TExportSettingsDialog dialog(exporter, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.Apply();
    return true;
  };
  return editor;
}

}  // namespace

bool EditExportSettings(QWidget* parent, TReportExporter& exporter) {
  return Editor()(parent, exporter);
}

TScopedSettingsEditor::TScopedSettingsEditor(TSettingsEditor editor)
    : previous_(std::exchange(Editor(), std::move(editor))) {}

TScopedSettingsEditor::~TScopedSettingsEditor() { Editor() = std::move(previous_); }

}  // namespace tarn
