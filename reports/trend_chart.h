#pragma once
// The trend of arresters over the years: each result's value at its test
// date, the initial value as a line, and the attention and abnormal levels
// (the initial value raised by the thresholds) as bands. One arrester, or
// the phases of one bay on one chart to see one drift from its sisters.
// Drawn with QPainter only, so the same code draws on an image, a PDF page
// or an SVG file, and is tested without a window.
#include <QColor>
#include <QDate>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QRectF>
#include <QSize>
#include <QString>
#include <optional>

#include "archive/asset_types.h"
#include "assessment/judgement.h"

struct TrendPoint {
  QDate date;
  ResultReading reading = ResultReading::Value;  // overload / invalid: marked, not plotted as a value
  std::optional<double> milliAmps;
};

struct TrendSeries {
  QString name;              // "A 相"
  QList<TrendPoint> points;  // oldest first
};

struct TrendChart {
  QString title;  // station, voltage level, bay, phase, serial number
  QList<TrendSeries> series;
  std::optional<double> initialMilliAmps;  // one arrester: its initial value (line and bands)
  Thresholds thresholds;
};

// One arrester's results, oldest first, from every round known.
TrendChart ArresterTrend(const ArresterRecord &arrester, const QList<RoundRecord> &rounds,
                         const QList<ResultRecord> &results, const Thresholds &thresholds);
// The phases of one bay (the arresters of `station`, `voltageLevel`, `bay`).
TrendChart BayTrend(const QString &station, const QString &voltageLevel, const QString &bay,
                    const QList<ArresterRecord> &arresters, const QList<RoundRecord> &rounds,
                    const QList<ResultRecord> &results, const Thresholds &thresholds);

// Where things go inside `area`: the plot rectangle and the scales, so tests
// can find a point's pixel.
struct TrendLayout {
  QRectF plot;
  QDate firstDate, lastDate;                  // the date axis' ends
  double minMilliAmps = 0, maxMilliAmps = 1;  // the mA axis' ends
  double milliAmpsStep = 0.2;                 // between its ticks
  double x(const QDate &date) const;
  double y(double milliAmps) const;
};
TrendLayout LayoutTrend(const TrendChart &chart, const QRectF &area);

// The colours drawn, for legends and checks elsewhere: each series its own
// colour (and its own marker shape, so a black-and-white print still tells
// them apart), the attention band light amber, the abnormal band light red.
QColor TrendSeriesColor(int series);
inline const QColor kTrendAttentionBand(255, 229, 153);
inline const QColor kTrendAbnormalBand(255, 199, 199);
inline const QColor kTrendInitialLine(90, 90, 90);

// Draws the whole chart (title, axes with dates and mA, bands, initial
// line, series with markers, legend) into `area`.
void DrawTrend(QPainter &painter, const QRectF &area, const TrendChart &chart);

// A null image when `size` is empty or too large to allocate.
QImage TrendImage(const TrendChart &chart, const QSize &size = QSize(800, 480));
// Write the chart to `path` (replaced only when the whole file is written);
// false with `error` set on failure.
bool SaveTrendPng(const TrendChart &chart, const QString &path, const QSize &size = QSize(800, 480),
                  QString *error = nullptr);
bool SaveTrendSvg(const TrendChart &chart, const QString &path, const QSize &size = QSize(800, 480),
                  QString *error = nullptr);
