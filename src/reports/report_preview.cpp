#include "reports/report_preview.h"

#include <QAction>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "app/message_box.h"
#include "reports/report_export.h"
#include "reports/report_file.h"
#include "reports/report_print.h"
#include "reports/report_render.h"

namespace tarn {
namespace {

constexpr char kReportFilter[] = "Report file (*.trp)";

QStringList SaveFilters() {
  QStringList filters{QString::fromLatin1(kReportFilter)};
  for (const auto& format : ExportFormats())
    filters << QStringLiteral("%1 (*.%2)").arg(format->Description(), format->Extension());
  return filters;
}

}  // namespace

TPreviewForm::TPreviewForm(TReportDocument document, QWidget* owner)
    : QDialog(owner), document_(std::move(document)), printer_(QPrinter::HighResolution) {
  setWindowTitle(QStringLiteral("Print Preview"));
  setWindowFlag(Qt::WindowMaximizeButtonHint);
  resize(1000, 760);

  ToolBar = new QToolBar(this);
  ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  // Paging and zooming show only their icons (their names as tool tips);
  // the commands that open dialogs keep their names beside the icon.
  auto add = [&](const char* name, const QString& text, QStyle::StandardPixmap icon,
                 auto handler, bool icon_only = true) {
    QAction* action = ToolBar->addAction(style()->standardIcon(icon), text);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(text);
    connect(action, &QAction::triggered, this, handler);
    if (!icon_only)
      if (auto* button = qobject_cast<QToolButton*>(ToolBar->widgetForAction(action)))
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return action;
  };
  FitAct = add("FitAct", QStringLiteral("Zoom to fit"), QStyle::SP_TitleBarNormalButton,
               [this] { SetZoom(TZoom::kFit); });
  FullAct = add("FullAct", QStringLiteral("Zoom to 100 %"), QStyle::SP_TitleBarMaxButton,
                [this] { SetZoom(TZoom::kFull); });
  WidthAct = add("WidthAct", QStringLiteral("Zoom to page width"), QStyle::SP_ToolBarHorizontalExtensionButton,
                 [this] { SetZoom(TZoom::kWidth); });
  ToolBar->addSeparator();
  FirstAct = add("FirstAct", QStringLiteral("First page"), QStyle::SP_MediaSkipBackward,
                 [this] { ShowPage(0); });
  PriorAct = add("PriorAct", QStringLiteral("Previous page"), QStyle::SP_MediaSeekBackward,
                 [this] { ShowPage(page_ - 1); });
  NextAct = add("NextAct", QStringLiteral("Next page"), QStyle::SP_MediaSeekForward,
                [this] { ShowPage(page_ + 1); });
  LastAct = add("LastAct", QStringLiteral("Last page"), QStyle::SP_MediaSkipForward,
                [this] { ShowPage(static_cast<int>(document_.pages.size()) - 1); });
  ToolBar->addSeparator();
  SetupAct = add("SetupAct", QStringLiteral("Printer setup"), QStyle::SP_FileDialogDetailedView,
                 [this] { SetupClick(); }, false);
  PrintAct = add("PrintAct", QStringLiteral("Print"), QStyle::SP_DialogApplyButton,
                 [this] { PrintClick(); }, false);
  SaveAct = add("SaveAct", QStringLiteral("Save"), QStyle::SP_DialogSaveButton,
                [this] { SaveClick(); }, false);
  LoadAct = add("LoadAct", QStringLiteral("Load"), QStyle::SP_DialogOpenButton,
                [this] { LoadClick(); }, false);
  ToolBar->addSeparator();
  page_label_ = new QLabel(this);
  page_label_->setObjectName(QStringLiteral("PageLabel"));
  page_label_->setContentsMargins(8, 0, 8, 0);
  ToolBar->addWidget(page_label_);
  auto* spacer = new QWidget(this);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  ToolBar->addWidget(spacer);
  CloseBtn = new QPushButton(QStringLiteral("&Close"), this);
  CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::accept);
  ToolBar->addWidget(CloseBtn);

  scroll_ = new QScrollArea(this);
  scroll_->setBackgroundRole(QPalette::Dark);
  scroll_->setAlignment(Qt::AlignCenter);
  view_ = new QLabel;
  view_->setObjectName(QStringLiteral("PageView"));
  scroll_->setWidget(view_);
  scroll_->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(ToolBar);
  layout->addWidget(scroll_, 1);

  ChooseSaveFile = [this](QString* path, int* type) {
    QFileDialog dialog(this, QStringLiteral("Save report"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(SaveFilters());
    dialog.setDefaultSuffix(QStringLiteral("trp"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
      const auto open = filter.lastIndexOf(QLatin1String("(*."));
      dialog.setDefaultSuffix(filter.mid(open + 3).chopped(1));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    *path = dialog.selectedFiles().first();
    *type = static_cast<int>(SaveFilters().indexOf(dialog.selectedNameFilter()));
    return *type >= 0;
  };
  ChooseOpenFile = [this] {
    return QFileDialog::getOpenFileName(this, QStringLiteral("Load report"), QString(),
                                        QString::fromLatin1(kReportFilter) +
                                            QStringLiteral(";;All files (*)"));
  };
  Refresh();
}

void TPreviewForm::SetZoom(TZoom zoom) {
  zoom_ = zoom;
  Refresh();
}

void TPreviewForm::ShowPage(int index) {
  page_ = std::clamp(index, 0, std::max(0, static_cast<int>(document_.pages.size()) - 1));
  Refresh();
}

bool TPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  // Fit and width follow the room the page has, which settles after layout.
  if (watched == scroll_->viewport() && event->type() == QEvent::Resize && zoom_ != TZoom::kFull)
    Refresh();
  return QDialog::eventFilter(watched, event);
}

void TPreviewForm::Refresh() {
  const int count = static_cast<int>(document_.pages.size());
  page_label_->setText(QStringLiteral("Page %1 of %2").arg(count ? page_ + 1 : 0).arg(count));
  FirstAct->setEnabled(page_ > 0);
  PriorAct->setEnabled(page_ > 0);
  NextAct->setEnabled(page_ + 1 < count);
  LastAct->setEnabled(page_ + 1 < count);
  PrintAct->setEnabled(count > 0);
  if (count == 0) return;

  const QSize room = scroll_->viewport()->size() - QSize(16, 16);
  const double fit_width = std::max(50, room.width()) / document_.page_width;
  const double fit_height = std::max(50, room.height()) / document_.page_height;
  switch (zoom_) {
    case TZoom::kFull: scale_ = logicalDpiX() / 25.4; break;
    case TZoom::kWidth:
      scale_ = (std::max(50, room.width() - scroll_->verticalScrollBar()->sizeHint().width())) /
               document_.page_width;
      break;
    case TZoom::kFit: scale_ = std::min(fit_width, fit_height); break;
  }
  const QImage image = RenderPage(document_, page_, scale_ * 25.4);
  view_->setPixmap(QPixmap::fromImage(image));
  view_->resize(image.size());
}

void TPreviewForm::SetupClick() {
  QPageSetupDialog dialog(&printer_, this);
  dialog.exec();
}

void TPreviewForm::PrintClick() {
  const int count = static_cast<int>(document_.pages.size());
  QPrintDialog dialog(&printer_, this);
  dialog.setMinMax(1, count);
  dialog.setFromTo(1, count);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  if (dialog.exec() != QDialog::Accepted) return;
  int from = 1, to = count;
  if (printer_.printRange() == QPrinter::PageRange) {
    from = printer_.fromPage();
    to = printer_.toPage();
  }
  PrintPages(printer_, document_, from, to, this);
}

void TPreviewForm::SaveClick() {
  QString path;
  int type = 0;
  if (!ChooseSaveFile || !ChooseSaveFile(&path, &type)) return;
  try {
    if (type == 0) {
      SaveReportFile(document_, path);
      return;
    }
    auto formats = ExportFormats();
    if (type < 1 || type > static_cast<int>(formats.size())) return;
    TReportExporter& exporter = *formats[type - 1];
    if (!EditExportSettings(this, exporter)) return;
    exporter.Write(document_, path);
  } catch (const std::exception& e) {
    ShowError(this, QString::fromUtf8(e.what()));
  }
}

void TPreviewForm::LoadClick() {
  const QString path = ChooseOpenFile ? ChooseOpenFile() : QString();
  if (path.isEmpty()) return;
  try {
    document_ = LoadReportFile(path);
  } catch (const std::exception& e) {
    ShowError(this, QString::fromUtf8(e.what()));
    return;
  }
  page_ = 0;
  Refresh();
}

}  // namespace tarn
