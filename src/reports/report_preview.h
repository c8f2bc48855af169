// The preview window "Print Preview": one page at a time, zoomed to fit,
// to 100 % or to the page width, with first/previous/next/last page,
// printer setup, print (copies and a page range within the page count),
// save (the report file or an export format), load (a saved report file)
// and "&Close".
#pragma once

#include <QDialog>
#include <QPrinter>
#include <functional>

#include "reports/report_pages.h"

class QAction;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolBar;

namespace tarn {

class TPreviewForm : public QDialog {
  Q_OBJECT

 public:
  enum class TZoom { kFit, kFull, kWidth };

  TPreviewForm(TReportDocument document, QWidget* owner);

  const TReportDocument& Document() const { return document_; }
  int PageIndex() const { return page_; }
  TZoom ZoomMode() const { return zoom_; }
  // Pixels per millimetre of the page as shown.
  double Scale() const { return scale_; }
  QLabel* PageView() const { return view_; }

  // The file dialogs, replaceable by tests. ChooseSaveFile gives the path
  // and the chosen type (0 the report file, then ExportFormats() in order);
  // false when cancelled. ChooseOpenFile gives an empty path when cancelled.
  std::function<bool(QString* path, int* type)> ChooseSaveFile;
  std::function<QString()> ChooseOpenFile;

  QToolBar* ToolBar = nullptr;
  QAction *FitAct = nullptr, *FullAct = nullptr, *WidthAct = nullptr;
  QAction *FirstAct = nullptr, *PriorAct = nullptr, *NextAct = nullptr, *LastAct = nullptr;
  QAction *SetupAct = nullptr, *PrintAct = nullptr, *SaveAct = nullptr, *LoadAct = nullptr;
  QPushButton* CloseBtn = nullptr;

  void SetZoom(TZoom zoom);
  void ShowPage(int index);
  void SaveClick();
  void LoadClick();
  void PrintClick();
  void SetupClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refresh();

  TReportDocument document_;
  int page_ = 0;
  TZoom zoom_ = TZoom::kFit;
  double scale_ = 1;
  QScrollArea* scroll_ = nullptr;
  QLabel* view_ = nullptr;
  QLabel* page_label_ = nullptr;
  QPrinter printer_;
};

}  // namespace tarn
