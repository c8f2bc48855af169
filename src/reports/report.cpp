#include "reports/report.h"

#include <stdexcept>

namespace tarn {

TReportControl& TReportBand::Control(const QString& control_name) {
  for (auto& c : controls)
    if (c.name == control_name) return c;
  throw std::logic_error("No control " + control_name.toStdString() + " on band " +
                         name.toStdString());
}

TReportBand& TReport::Band(const QString& band_name) {
  for (auto& b : bands)
    if (b.name == band_name) return b;
  throw std::logic_error("No band " + band_name.toStdString());
}

}  // namespace tarn
