// The trend chart as SVG, through Qt Svg. Builds without Qt Svg use
// trend_svg_none.cpp instead.
#include "reports/trend_chart.h"
#include "reports/save_whole.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

namespace {

bool Fail(QString *error, const QString &why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool SaveTrendSvg(const TrendChart &chart, const QString &path, const QSize &size, QString *error) {
  if (size.isEmpty()) return Fail(error, QStringLiteral("empty size"));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&buffer);
  svg.setSize(size);
  svg.setViewBox(QRect(QPoint(0, 0), size));
  svg.setTitle(chart.title);
  svg.setDescription(QStringLiteral("趋势图"));
  QPainter painter;
  if (!painter.begin(&svg)) return Fail(error, QStringLiteral("the SVG could not be started"));
  DrawTrend(painter, QRectF(QPointF(0, 0), size), chart);
  if (!painter.end()) return Fail(error, QStringLiteral("the SVG could not be finished"));
  return SaveWhole(path, bytes, error);
}
