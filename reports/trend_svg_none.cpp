// The trend chart as SVG in builds without Qt Svg (the Windows build): it
// says so, and PNG is the way to save the chart.
#include "reports/trend_chart.h"

bool SaveTrendSvg(const TrendChart &, const QString &, const QSize &, QString *error) {
  if (error) *error = QStringLiteral("SVG is not in this build; save the trend as PNG");
  return false;
}
