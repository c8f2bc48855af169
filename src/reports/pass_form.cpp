#include "reports/pass_form.h"

#include "app/colour_text.h"
#include "app/date_formats.h"
#include "app/exception_log.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include <QWidget>
#include "reports/report_layout.h"
#include "reports/report_output.h"

namespace tarn {
namespace {

TReportControl Text(const QString& name, TControlKind kind, double left, double top, double width,
                    double height, TAlign align, bool bold = false) {
  TReportControl c;
  c.name = name;
  c.kind = kind;
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
  c.align = align;
  c.font.points = 8;
  c.font.bold = bold;
  c.word_wrap = true;
  return c;
}

}  // namespace

TPassForm::TPassForm(TReportDataset* dataset) {
  report_.title = QStringLiteral("Passwords");
  report_.landscape = true;
  report_.margin_top = 10;
  report_.margin_bottom = 10;
  report_.margin_left = 10;
  report_.margin_right = 5;
  report_.dataset = dataset;

  struct TColumn {
    const char* caption;
    const char* field;
    double left, width;
    TAlign align;
  };
  static constexpr TColumn kColumns[] = {
      {"Item", "Item", 0, 52.92, TAlign::kLeft},
      {"Data", "Date", 55.03, 21.17, TAlign::kRight},
      {"User", "User", 77.79, 43.39, TAlign::kLeft},
      {"Password", "PW", 122.77, 114.83, TAlign::kLeft},
      {"Web", "Web", 238.13, 43.39, TAlign::kLeft},
  };

  TReportBand header;
  header.name = QStringLiteral("ColumnHeaderBand1");
  header.kind = TBandKind::kColumnHeader;
  header.height = 6.88;
  TReportBand detail;
  detail.name = QStringLiteral("DetailBand1");
  detail.kind = TBandKind::kDetail;
  detail.height = 10.85;
  detail.rule_top = true;
  for (const TColumn& col : kColumns) {
    TReportControl label = Text(QStringLiteral("Label") + col.caption, TControlKind::kLabel,
                                col.left, 1.06, col.width, 4.50, col.align, /*bold=*/true);
    label.caption = QString::fromLatin1(col.caption);
    header.controls.push_back(label);
    TReportControl field = Text(QString::fromLatin1(col.field), TControlKind::kDataText, col.left,
                                1.06, col.width, 3.97, col.align);
    field.field = QString::fromLatin1(col.field);
    field.background = Qt::white;
    detail.controls.push_back(field);
  }
  TReportControl notes =
      Text(QStringLiteral("Details"), TControlKind::kDataText, 0, 5.82, 280.72, 3.97, TAlign::kLeft);
  notes.field = QStringLiteral("Details");
  notes.grows = true;
  notes.color = QColor(0x80, 0x80, 0x80);
  notes.background = Qt::white;
  detail.controls.push_back(notes);
  detail.before_print = [](TReportBand& band) {
    band.background = ColorTextToQColor(Globals().Grad3Str);
  };

  TReportBand footer;
  footer.name = QStringLiteral("SummaryBand1");
  footer.kind = TBandKind::kPageFooter;
  footer.height = 7.41;
  footer.rule_top = true;
  footer.rule_bottom = true;
  const double width = report_.BandWidth();
  auto field = [&](const char* name, TSystemField system, const char* prefix, double left,
                   double w, TAlign align) {
    TReportControl c = Text(QString::fromLatin1(name), TControlKind::kSystemField, left, 1.32, w,
                            4.76, align);
    c.font.points = 10;
    c.word_wrap = false;
    c.system = system;
    c.caption = QString::fromLatin1(prefix);
    return c;
  };
  footer.controls.push_back(
      field("SysTitle", TSystemField::kReportTitle, "", 0, width / 3, TAlign::kLeft));
  footer.controls.push_back(
      field("SysPage", TSystemField::kPageNumber, "Page ", width / 3, width / 3, TAlign::kCenter));
  footer.controls.push_back(field("SysPrinted", TSystemField::kDateTime, "Printed ",
                                  2 * width / 3, width / 3, TAlign::kRight));

  report_.bands = {header, detail, footer};
}

TReportDocument TPassForm::Prepare() { return LayOut(report_, Now()); }

void PWbtnClick(QWidget* owner, const TPassReportCaller& caller) {
  if (AskConfirmation(owner, QString::fromLatin1(kPassReportQuestion),
                      TMsgButtons::kYesNoCancel) != TMsgResult::kYes)
    return;
  auto focus_grid = [&] {
    if (caller.focus_grid) caller.focus_grid();
  };
  try {
    if (caller.editing_existing && caller.editing_existing() && caller.post) caller.post();
    TPassForm form(caller.dataset);
    const TReportDocument document = form.Prepare();
    ReportOutput().Preview(owner, document);
  } catch (...) {
    focus_grid();
    LogCurrentException(owner);
    return;
  }
  focus_grid();
}

}  // namespace tarn
