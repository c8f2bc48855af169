// Not a test: saves pictures of the preview window (over a sample password
// list) and of every export format's settings dialog, as drawn on the
// display it runs on: report_screens OUTDIR.
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTest>

#include "app/process_values.h"
#include "reports/export_settings_dialog.h"
#include "reports/pass_form.h"
#include "reports/report_dataset.h"
#include "reports/report_preview.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) return 64;
  const QDir out(QString::fromLocal8Bit(argv[1]));
  std::vector<tarn::TRowsDataset::TRow> rows;
  for (int i = 0; i < 30; ++i)
    rows.push_back({{QStringLiteral("Item"), QStringLiteral("Account %1").arg(i)},
                    {QStringLiteral("Date"), QStringLiteral("03/04/2021")},
                    {QStringLiteral("User"), QStringLiteral("user%1").arg(i)},
                    {QStringLiteral("PW"), QStringLiteral("x7#Kq!%1pL").arg(i)},
                    {QStringLiteral("Web"), QStringLiteral("https://site%1.example").arg(i)},
                    {QStringLiteral("Details"), i % 4 ? QString() : QStringLiteral("Changed on 01/01/2026\r\nSecond line")}});
  tarn::TRowsDataset data(rows);
  tarn::TPassForm form(&data);
  tarn::TPreviewForm preview(form.Prepare(), nullptr);
  preview.show();
  if (!QTest::qWaitForWindowExposed(&preview)) return 1;
  auto shoot = [&](QWidget& w, const QString& name) {
    QApplication::processEvents();
    w.grab().save(out.filePath(name + QStringLiteral(".png")));
  };
  shoot(preview, QStringLiteral("preview_fit"));
  preview.WidthAct->trigger();
  shoot(preview, QStringLiteral("preview_width"));
  preview.FullAct->trigger();
  preview.NextAct->trigger();
  shoot(preview, QStringLiteral("preview_full_page2"));
  for (auto& format : tarn::ExportFormats()) {
    tarn::TExportSettingsDialog dialog(*format, &preview);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) return 1;
    shoot(dialog, QStringLiteral("settings_") + format->Extension() + QLatin1Char('_') +
                      format->Description().section(QLatin1Char(' '), 0, 0));
  }
  return 0;
}
