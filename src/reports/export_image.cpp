// Page images: BMP and JPEG through Qt, GIF through giflib (Qt reads GIF
// but does not write it). One file per page; the image has the page's size
// at the chosen resolution, which is also stored in BMP and JPEG headers.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <gif_lib.h>

#include "reports/export_formats.h"
#include "reports/report_render.h"

namespace tarn {
namespace {

void WriteGif(const QImage& page, const QString& path) {
  const QImage image = page.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
  int error = 0;
  QByteArray bytes;
  GifFileType* gif = EGifOpen(&bytes, [](GifFileType* file, const GifByteType* data, int size) {
    static_cast<QByteArray*>(file->UserData)->append(reinterpret_cast<const char*>(data), size);
    return size;
  }, &error);
  if (!gif) throw EExportError("Unable to write to " + path.toStdString());
  ColorMapObject* map = GifMakeMapObject(256, nullptr);
  const QList<QRgb> table = image.colorTable();
  for (int i = 0; i < 256; ++i) {
    const QRgb c = i < table.size() ? table[i] : qRgb(255, 255, 255);
    map->Colors[i] = GifColorType{static_cast<GifByteType>(qRed(c)),
                                  static_cast<GifByteType>(qGreen(c)),
                                  static_cast<GifByteType>(qBlue(c))};
  }
  bool ok = EGifPutScreenDesc(gif, image.width(), image.height(), 8, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, image.width(), image.height(), false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < image.height(); ++y)
    ok = EGifPutLine(gif, const_cast<GifPixelType*>(image.constScanLine(y)), image.width()) ==
         GIF_OK;
  GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  if (!ok) throw EExportError("Unable to write to " + path.toStdString());
  WriteFileBytes(path, bytes);
}

class TImageExporter : public TBasicExporter {
 public:
  explicit TImageExporter(TImageKind kind)
      : TBasicExporter(Description(kind), Extension(kind)), kind_(kind) {
    AddInt(QStringLiteral("dpi"), QStringLiteral("Resolution (dots per inch)"), 150, 36, 600);
    AddChoice(QStringLiteral("pages"), QStringLiteral("Pages"),
              {QStringLiteral("Every page, a file each"), QStringLiteral("First page only")}, 0);
    if (kind == TImageKind::kJpg)
      AddInt(QStringLiteral("quality"), QStringLiteral("Quality (1 to 100)"), 90, 1, 100);
    if (kind == TImageKind::kBmp)
      AddBool(QStringLiteral("grey"), QStringLiteral("Shades of grey only"), false);
  }

  void Write(const TReportDocument& document, const QString& path) const override {
    const int count = Value(QStringLiteral("pages")).toInt() == 1
                          ? std::min<int>(1, static_cast<int>(document.pages.size()))
                          : static_cast<int>(document.pages.size());
    const QStringList paths = PagePaths(path, count);
    for (int i = 0; i < count; ++i) {
      QImage image = RenderPage(document, i, Value(QStringLiteral("dpi")).toInt());
      if (kind_ == TImageKind::kGif) {
        WriteGif(image, paths[i]);
        continue;
      }
      if (Value(QStringLiteral("grey")).toBool())
        image = image.convertToFormat(QImage::Format_Grayscale8);
      QBuffer buffer;
      buffer.open(QIODevice::WriteOnly);
      QImageWriter writer(&buffer, kind_ == TImageKind::kJpg ? "jpeg" : "bmp");
      if (kind_ == TImageKind::kJpg) writer.setQuality(Value(QStringLiteral("quality")).toInt());
      if (!writer.write(image))
        throw EExportError("Unable to write to " + paths[i].toStdString() + ": " +
                           writer.errorString().toStdString());
      WriteFileBytes(paths[i], buffer.data());
    }
  }

 private:
  static QString Description(TImageKind kind) {
    switch (kind) {
      case TImageKind::kBmp: return QStringLiteral("Bitmap File");
      case TImageKind::kJpg: return QStringLiteral("JPEG Image File");
      case TImageKind::kGif: return QStringLiteral("GIF Image File");
    }
    return {};
  }
  static QString Extension(TImageKind kind) {
    switch (kind) {
      case TImageKind::kBmp: return QStringLiteral("bmp");
      case TImageKind::kJpg: return QStringLiteral("jpg");
      case TImageKind::kGif: return QStringLiteral("gif");
    }
    return {};
  }
  TImageKind kind_;
};

}  // namespace

std::unique_ptr<TReportExporter> MakeImageExporter(TImageKind kind) {
  return std::make_unique<TImageExporter>(kind);
}

}  // namespace tarn
