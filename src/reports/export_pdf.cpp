#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "reports/export_formats.h"
#include "reports/report_render.h"

namespace tarn {

void WritePdf(const TReportDocument& document, const QString& path, int dpi, const QString& title,
              const QString& author, bool archive) {
  // Written beside the target and renamed over it: never a half-written file.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    throw EExportError("Unable to write to " + path.toStdString());
  {
  QPdfWriter writer(&file);
  writer.setResolution(dpi);
  writer.setTitle(title.isEmpty() ? document.title : title);
  writer.setCreator(author);
  if (archive) writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
  writer.setPageLayout(QPageLayout(
      QPageSize(QPageSize::A4),
      document.Landscape() ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
  QPainter painter;
  if (!painter.begin(&writer)) throw EExportError("Unable to write to " + path.toStdString());
  for (size_t i = 0; i < document.pages.size(); ++i) {
    if (i > 0) writer.newPage();
    PaintPage(painter, document.pages[i], writer.resolution() / 25.4);
  }
  if (!painter.end()) throw EExportError("Unable to write to " + path.toStdString());
  }
  if (!file.commit()) throw EExportError("Unable to write to " + path.toStdString());
}

namespace {

class TPdfExporter : public TBasicExporter {
 public:
  TPdfExporter() : TBasicExporter(QStringLiteral("Adobe Acrobat Document"), QStringLiteral("pdf")) {
    AddText(QStringLiteral("title"), QStringLiteral("Document title (empty: the report's)"), {});
    AddText(QStringLiteral("author"), QStringLiteral("Author"), QStringLiteral("Tarn"));
    AddInt(QStringLiteral("dpi"), QStringLiteral("Resolution (dots per inch)"), 1200, 72, 2400);
    AddBool(QStringLiteral("archive"), QStringLiteral("Archive format (PDF/A-1b)"), false);
  }
  void Write(const TReportDocument& document, const QString& path) const override {
    WritePdf(document, path, Value(QStringLiteral("dpi")).toInt(),
             Value(QStringLiteral("title")).toString(), Value(QStringLiteral("author")).toString(),
             Value(QStringLiteral("archive")).toBool());
  }
};

}  // namespace

std::unique_ptr<TReportExporter> MakePdfExporter() { return std::make_unique<TPdfExporter>(); }

}  // namespace tarn
