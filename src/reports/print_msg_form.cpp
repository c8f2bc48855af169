#include "reports/print_msg_form.h"

#include "app/date_formats.h"
#include "app/process_values.h"
#include "generator/publisher.h"
#include "reports/report_layout.h"
#include "reports/report_output.h"

namespace tarn {

TPrintMsgForm::TPrintMsgForm() {
  report_.title = QString::fromLatin1(kHelpPrintoutTitle);
  report_.landscape = false;
  report_.base_font.points = 10;
  const double width = report_.BandWidth();

  TReportBand header;
  header.name = QStringLiteral("PageHeaderBand1");
  header.kind = TBandKind::kPageHeader;
  header.height = 15.61;
  TReportControl heading;
  heading.name = QStringLiteral("Heading");
  heading.kind = TControlKind::kLabel;
  heading.top = 8.47;
  heading.height = 5.82;
  heading.font.points = 14;
  heading.font.bold = true;
  heading.color = QColor(0, 0, 255);
  heading.centre_in_band = true;
  heading.auto_size = true;
  heading.word_wrap = true;
  header.controls.push_back(heading);
  header.before_print = [](TReportBand& band) {
    band.Control(QStringLiteral("Heading")).caption =
        QString::fromLatin1(kPublisherName) + QStringLiteral("  -  ") +
        QString::fromLatin1(kPublisherSite);
  };

  TReportBand title;
  title.name = QStringLiteral("TitleBand1");
  title.kind = TBandKind::kTitle;
  title.height = 260.35;
  title.rule_top = true;
  TReportControl text;
  text.name = QStringLiteral("Hmsg");
  text.kind = TControlKind::kRichText;
  text.left = 10.58;
  text.top = 1.06;
  text.width = 177.27;
  text.height = 243.68;
  text.word_wrap = true;
  title.controls.push_back(text);

  TReportBand footer;
  footer.name = QStringLiteral("PageFooterBand1");
  footer.kind = TBandKind::kPageFooter;
  footer.height = 15.88;
  footer.rule_top = true;
  auto field = [&](const char* name, TSystemField system, const char* prefix, double left,
                   TAlign align) {
    TReportControl c;
    c.name = QString::fromLatin1(name);
    c.kind = TControlKind::kSystemField;
    c.left = left;
    c.top = 2.12;
    c.width = width / 3;
    c.height = 4.76;
    c.system = system;
    c.caption = QString::fromLatin1(prefix);
    c.align = align;
    return c;
  };
  footer.controls.push_back(field("SysTitle", TSystemField::kReportTitle, "", 0, TAlign::kLeft));
  footer.controls.push_back(
      field("SysPage", TSystemField::kPageNumber, "Page ", width / 3, TAlign::kCenter));
  footer.controls.push_back(
      field("SysPrinted", TSystemField::kDateTime, "Printed ", 2 * width / 3, TAlign::kRight));

  report_.bands = {header, title, footer};
  report_.before_report = [](TReport& report) {
    TReportControl& hmsg = report.Band(QStringLiteral("TitleBand1")).Control(QStringLiteral("Hmsg"));
    hmsg.caption.clear();
    hmsg.caption.append(Globals().HelpText);
  };
}

TReportDocument TPrintMsgForm::Prepare() { return LayOut(report_, Now()); }

void PrintHelpText(QWidget* owner) {
  TPrintMsgForm form;
  ReportOutput().PrintToDefault(owner, form.Prepare());
}

}  // namespace tarn
