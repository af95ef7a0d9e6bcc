#include "reports/trend_chart.h"

#include "reports/save_whole.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QHash>
#include <QPainterPath>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

// Sizes are those of an 800 x 480 chart, scaled with the area, so a chart on
// a PDF page (thousands of device units) looks like one on the screen.
constexpr double kDesignWidth = 800, kDesignHeight = 480;
constexpr double kTitleRow = 32, kLegendRow = 22, kUnitRow = 20;
constexpr double kLeftMargin = 64, kRightMargin = 52, kBottomMargin = 40;
constexpr double kTitleFont = 16, kLabelFont = 12;
constexpr double kMarkerRadius = 4.5;

double Unit(const QRectF &area) {
  return std::max(1e-6, std::min(area.width() / kDesignWidth, area.height() / kDesignHeight));
}

// A point plotted as a value; any other is marked at the top edge.
bool HasValue(const TrendPoint &p) {
  return p.reading == ResultReading::Value && p.milliAmps && std::isfinite(*p.milliAmps);
}

bool HasLegend(const TrendChart &chart) { return chart.series.size() > 1; }

// "A" -> "A 相"; a phase written with 相 already, or empty, stays as it is.
QString PhaseLabel(const QString &phase) {
  const QString p = phase.trimmed();
  if (p.isEmpty() || p.endsWith(QStringLiteral("相"))) return p;
  return p + QStringLiteral(" 相");
}

QString JoinedLabel(const QStringList &parts) {
  QStringList kept;
  for (const QString &p : parts)
    if (!p.trimmed().isEmpty()) kept << p.trimmed();
  return kept.join(QStringLiteral("  "));
}

QString SerialLabel(const QString &serial) {
  return serial.trimmed().isEmpty() ? QString() : QStringLiteral("出厂编号 ") + serial.trimmed();
}

// The arrester's results placed by their round: oldest first, two rounds of
// one day in the order they were made. Results of rounds not given, or
// without a date, cannot be placed and are left out.
QList<TrendPoint> PointsOf(const QString &arresterUuid, const QHash<QString, const RoundRecord *> &roundsById,
                           const QList<ResultRecord> &results) {
  struct Placed {
    QDate date;
    qint64 modifiedMs;
    TrendPoint point;
  };
  QList<Placed> placed;
  for (const ResultRecord &r : results) {
    if (r.arresterUuid != arresterUuid) continue;
    const RoundRecord *round = roundsById.value(r.roundUuid);
    if (!round || !round->date.isValid()) continue;
    TrendPoint p;
    p.date = round->date;
    p.reading = r.reading;
    if (r.reading == ResultReading::Value) {
      // A value that is missing or no number cannot be plotted: shown as invalid.
      if (r.milliAmps && std::isfinite(*r.milliAmps))
        p.milliAmps = r.milliAmps;
      else
        p.reading = ResultReading::Invalid;
    }
    placed.append({round->date, round->modifiedMs, p});
  }
  std::stable_sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &b) {
    return a.date < b.date || (a.date == b.date && a.modifiedMs < b.modifiedMs);
  });
  QList<TrendPoint> points;
  points.reserve(placed.size());
  for (const Placed &p : placed) points.append(p.point);
  return points;
}

QHash<QString, const RoundRecord *> RoundsById(const QList<RoundRecord> &rounds) {
  QHash<QString, const RoundRecord *> byId;
  for (const RoundRecord &r : rounds) byId.insert(r.uuid, &r);
  return byId;
}

// The smallest of 1, 2, 2.5, 5 times a power of ten that is at least `raw`.
double NiceStep(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 2.5, 5.0})
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  return 10 * power;
}

// Decimals that show every multiple of `step` exactly.
int StepDecimals(double step) {
  for (int d = 0; d < 6; ++d) {
    const double scaled = step * std::pow(10.0, d);
    if (std::abs(scaled - std::round(scaled)) < 1e-6 * scaled) return d;
  }
  return 6;
}

double AttentionLevel(double initial, const Thresholds &t) {
  return initial * (1 + t.initialAttentionPct / 100);
}
double AbnormalLevel(double initial, const Thresholds &t) {
  return initial * (1 + t.initialAbnormalPct / 100);
}

bool HasBands(const TrendChart &chart) {
  return chart.initialMilliAmps && std::isfinite(*chart.initialMilliAmps) && *chart.initialMilliAmps > 0;
}

// The program's Song face: asked for as 宋体 and SimSun (the names the window
// uses), then the Song/Ming faces found on Linux, so no substitution table is
// needed. `height` is in the painter's units, whatever the device's dots per inch.
QFont ChartFont(const QPainter &painter, double height) {
  QFont f;
  f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                 QStringLiteral("AR PL UMing TW"), QStringLiteral("Noto Serif CJK SC"),
                 QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
  const int dpi = painter.device() ? painter.device()->logicalDpiY() : 96;
  f.setPointSizeF(std::max(0.1, height * 72.0 / std::max(1, dpi)));
  f.setHintingPreference(QFont::PreferNoHinting);  // the same widths at every size
  return f;
}

enum class Marker { Circle, Square, Triangle, Diamond, TriangleDown, Cross };

void DrawMarker(QPainter &p, const QPointF &c, int series, double r) {
  const QColor colour = TrendSeriesColor(series);
  p.setPen(QPen(colour, r * 0.3));
  p.setBrush(colour);
  switch (Marker(series % 6)) {
    case Marker::Circle: p.drawEllipse(c, r, r); break;
    case Marker::Square: p.drawRect(QRectF(c.x() - r * 0.9, c.y() - r * 0.9, r * 1.8, r * 1.8)); break;
    case Marker::Triangle:
      p.drawPolygon(QPolygonF{
          {c.x(), c.y() - r * 1.2}, {c.x() + r * 1.1, c.y() + r * 0.8}, {c.x() - r * 1.1, c.y() + r * 0.8}});
      break;
    case Marker::Diamond:
      p.drawPolygon(QPolygonF{{c.x(), c.y() - r * 1.25},
                              {c.x() + r * 1.25, c.y()},
                              {c.x(), c.y() + r * 1.25},
                              {c.x() - r * 1.25, c.y()}});
      break;
    case Marker::TriangleDown:
      p.drawPolygon(QPolygonF{
          {c.x(), c.y() + r * 1.2}, {c.x() + r * 1.1, c.y() - r * 0.8}, {c.x() - r * 1.1, c.y() - r * 0.8}});
      break;
    case Marker::Cross:
      p.setPen(QPen(colour, r * 0.6));
      p.drawLine(QPointF(c.x() - r, c.y() - r), QPointF(c.x() + r, c.y() + r));
      p.drawLine(QPointF(c.x() - r, c.y() + r), QPointF(c.x() + r, c.y() - r));
      break;
  }
}

struct DateTick {
  QDate date;
  QString label;
};

// Ticks on whole days (yyyy-MM-dd) for up to three months, else on the first
// of months (yyyy-MM); as many as fit the plot's width.
QList<DateTick> DateTicks(const TrendLayout &l, double u) {
  QList<DateTick> ticks;
  const qint64 span = l.firstDate.daysTo(l.lastDate);
  if (span <= 0) return ticks;
  if (span <= 92) {
    const qint64 fit = std::max<qint64>(2, qint64(l.plot.width() / (100 * u)));
    qint64 step = 31;
    for (const qint64 s : {1, 2, 3, 5, 7, 10, 14, 15, 20, 31})
      if (span / s <= fit) {
        step = s;
        break;
      }
    for (qint64 jd = l.firstDate.toJulianDay(); jd <= l.lastDate.toJulianDay(); ++jd) {
      const QDate d = QDate::fromJulianDay(jd);
      if (step == 31                   ? d.day() == 1
          : (step == 14 || step == 15) ? (d.day() == 1 || d.day() == 15)
                                       : jd % step == 0)
        ticks.append({d, d.toString(QStringLiteral("yyyy-MM-dd"))});
    }
    return ticks;
  }
  const qint64 months =
      (l.lastDate.year() - l.firstDate.year()) * 12 + l.lastDate.month() - l.firstDate.month();
  const qint64 fit = std::max<qint64>(2, qint64(l.plot.width() / (75 * u)));
  qint64 step = 1;
  for (const qint64 s : {1, 2, 3, 4, 6, 12, 24, 36, 60, 120, 240, 600})
    if (months / s <= fit || s == 600) {
      step = s;
      break;
    }
  for (QDate d(l.firstDate.year(), l.firstDate.month(), 1); d <= l.lastDate; d = d.addMonths(1)) {
    const qint64 index = qint64(d.year()) * 12 + d.month() - 1;
    if (d >= l.firstDate && index % step == 0) ticks.append({d, d.toString(QStringLiteral("yyyy-MM"))});
  }
  return ticks;
}

void DrawText(QPainter &p, const QRectF &box, int flags, const QString &text, const QColor &colour) {
  p.setPen(colour);
  p.drawText(box, flags, text);
}

}  // namespace

QColor TrendSeriesColor(int series) {
  static const QColor kColours[] = {QColor(31, 87, 180),  QColor(0, 140, 60),  QColor(200, 30, 30),
                                    QColor(130, 70, 180), QColor(150, 90, 20), QColor(20, 20, 20)};
  return kColours[std::abs(series) % 6];
}

TrendChart ArresterTrend(const ArresterRecord &arrester, const QList<RoundRecord> &rounds,
                         const QList<ResultRecord> &results, const Thresholds &thresholds) {
  TrendChart chart;
  chart.title = JoinedLabel({arrester.station, arrester.voltageLevel, arrester.bay,
                             PhaseLabel(arrester.phase), SerialLabel(arrester.serialNumber),
                             arrester.retired ? QStringLiteral("(已退役)") : QString()});
  TrendSeries series;
  series.name = PhaseLabel(arrester.phase);
  series.points = PointsOf(arrester.uuid, RoundsById(rounds), results);
  chart.series.append(series);
  chart.initialMilliAmps = arrester.initialMilliAmps;
  chart.thresholds = thresholds;
  return chart;
}

TrendChart BayTrend(const QString &station, const QString &voltageLevel, const QString &bay,
                    const QList<ArresterRecord> &arresters, const QList<RoundRecord> &rounds,
                    const QList<ResultRecord> &results, const Thresholds &thresholds) {
  TrendChart chart;
  chart.title = JoinedLabel({station, voltageLevel, bay, QStringLiteral("各相")});
  chart.thresholds = thresholds;  // no single initial value: no line, no bands
  QList<const ArresterRecord *> members;
  for (const ArresterRecord &a : arresters)
    if (a.station == station && a.voltageLevel == voltageLevel && a.bay == bay) members.append(&a);
  // A, B, C first, other phases after them; an arrester in service before
  // the retired one it replaced.
  auto phaseRank = [](const QString &phase) {
    const QString p = phase.trimmed().toUpper();
    const int i = QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}.indexOf(p);
    return i < 0 ? 3 : i;
  };
  std::stable_sort(members.begin(), members.end(), [&](const ArresterRecord *a, const ArresterRecord *b) {
    const int ra = phaseRank(a->phase), rb = phaseRank(b->phase);
    if (ra != rb) return ra < rb;
    if (a->phase != b->phase) return a->phase < b->phase;
    return !a->retired && b->retired;
  });
  // Each arrester is its own line: the one that replaced a retired one
  // starts afresh rather than continuing its predecessor's values. A retired
  // arrester never tested has nothing to show.
  const QHash<QString, const RoundRecord *> roundsById = RoundsById(rounds);
  QList<std::pair<const ArresterRecord *, QList<TrendPoint>>> shown;
  QHash<QString, int> perPhase;
  for (const ArresterRecord *a : members) {
    QList<TrendPoint> points = PointsOf(a->uuid, roundsById, results);
    if (a->retired && points.isEmpty()) continue;
    ++perPhase[a->phase];
    shown.append({a, std::move(points)});
  }
  for (auto &[a, points] : shown) {
    TrendSeries series;
    series.name = PhaseLabel(a->phase);
    // Two arresters of one phase: told apart by serial number.
    if (perPhase.value(a->phase) > 1)
      series.name =
          JoinedLabel({series.name, a->serialNumber, a->retired ? QStringLiteral("(已退役)") : QString()});
    series.points = std::move(points);
    chart.series.append(series);
  }
  return chart;
}

double TrendLayout::x(const QDate &date) const {
  const qint64 span = std::max<qint64>(1, firstDate.daysTo(lastDate));
  return plot.left() + double(firstDate.daysTo(date)) / double(span) * plot.width();
}

double TrendLayout::y(double milliAmps) const {
  const double span = maxMilliAmps > minMilliAmps ? maxMilliAmps - minMilliAmps : 1;
  return plot.bottom() - (milliAmps - minMilliAmps) / span * plot.height();
}

TrendLayout LayoutTrend(const TrendChart &chart, const QRectF &area) {
  const double u = Unit(area);
  TrendLayout l;
  const double top = (kTitleRow + (HasLegend(chart) ? kLegendRow : 0) + kUnitRow) * u;
  l.plot = QRectF(area.left() + kLeftMargin * u, area.top() + top,
                  std::max(1.0, area.width() - (kLeftMargin + kRightMargin) * u),
                  std::max(1.0, area.height() - top - kBottomMargin * u));

  // Dates: from the first to the last with a small margin; at least about a month.
  QDate first, last;
  double high = 0, low = 0;
  for (const TrendSeries &s : chart.series)
    for (const TrendPoint &p : s.points) {
      if (p.date.isValid()) {
        if (!first.isValid() || p.date < first) first = p.date;
        if (!last.isValid() || p.date > last) last = p.date;
      }
      if (HasValue(p)) {
        high = std::max(high, *p.milliAmps);
        low = std::min(low, *p.milliAmps);
      }
    }
  if (!first.isValid()) first = last = QDate::currentDate();
  const qint64 span = first.daysTo(last);
  const qint64 pad =
      span < 30 ? (31 - span) / 2 : std::max<qint64>(3, qint64(std::lround(double(span) * 0.04)));
  l.firstDate = first.addDays(-pad);
  l.lastDate = last.addDays(pad);

  // mA: from 0 to a round figure above the values, the initial value and
  // the abnormal level, with a little room above.
  if (HasBands(chart)) {
    const double abnormal = AbnormalLevel(*chart.initialMilliAmps, chart.thresholds);
    high = std::max({high, *chart.initialMilliAmps, std::isfinite(abnormal) ? abnormal : 0.0});
  }
  if (!std::isfinite((high - low) * 1.1)) {  // beyond any scale: a plain axis
    high = 1;
    low = 0;
  }
  if (!(high > 0)) high = 1;
  l.milliAmpsStep = NiceStep((high - low) * 1.08 / 6);
  l.maxMilliAmps = std::ceil(high * 1.08 / l.milliAmpsStep - 1e-9) * l.milliAmpsStep;
  l.minMilliAmps = low < 0 ? std::floor(low / l.milliAmpsStep) * l.milliAmpsStep : 0;
  return l;
}

void DrawTrend(QPainter &painter, const QRectF &area, const TrendChart &chart) {
  const TrendLayout l = LayoutTrend(chart, area);
  const double u = Unit(area);
  const QRectF &plot = l.plot;
  const QColor black(0, 0, 0), axisGrey(110, 110, 110), gridGrey(228, 228, 228);

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.fillRect(area, Qt::white);

  // Bands first, so everything else is drawn over them.
  if (HasBands(chart)) {
    const double initial = *chart.initialMilliAmps;
    const double yAttention =
        std::clamp(l.y(AttentionLevel(initial, chart.thresholds)), plot.top(), plot.bottom());
    const double yAbnormal =
        std::clamp(l.y(AbnormalLevel(initial, chart.thresholds)), plot.top(), plot.bottom());
    painter.fillRect(QRectF(plot.left(), yAbnormal, plot.width(), std::max(0.0, yAttention - yAbnormal)),
                     kTrendAttentionBand);
    painter.fillRect(QRectF(plot.left(), plot.top(), plot.width(), yAbnormal - plot.top()),
                     kTrendAbnormalBand);
  }

  // Grid and tick labels.
  const QFont labelFont = ChartFont(painter, kLabelFont * u);
  painter.setFont(labelFont);
  const int decimals = StepDecimals(l.milliAmpsStep);
  const int steps = int(std::lround((l.maxMilliAmps - l.minMilliAmps) / l.milliAmpsStep));
  for (int i = 0; i <= steps; ++i) {
    const double v = l.minMilliAmps + i * l.milliAmpsStep;
    const double y = l.y(v);
    if (i > 0 && i < steps) {
      painter.setPen(QPen(gridGrey, u));
      painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    DrawText(painter, QRectF(area.left(), y - 10 * u, plot.left() - area.left() - 6 * u, 20 * u),
             Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'f', decimals), black);
  }
  DrawText(
      painter,
      QRectF(area.left(), plot.top() - kUnitRow * u, plot.left() - area.left() - 6 * u, (kUnitRow - 9) * u),
      Qt::AlignRight | Qt::AlignBottom, QStringLiteral("mA"), black);
  for (const DateTick &t : DateTicks(l, u)) {
    const double x = l.x(t.date);
    painter.setPen(QPen(gridGrey, u));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    painter.setPen(QPen(axisGrey, u));
    painter.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4 * u));
    // A label near the ends is moved inwards rather than cut by the area's edge.
    const double half = 50 * u;
    const double cx = std::clamp(x, area.left() + half, area.right() - half);
    DrawText(painter, QRectF(cx - half, plot.bottom() + 6 * u, 2 * half, 18 * u),
             Qt::AlignHCenter | Qt::AlignTop, t.label, black);
  }
  painter.setPen(QPen(axisGrey, u));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(plot);

  // The initial value: a dashed line. Its name and those of the bands stand
  // in the right margin, clear of the values; one that would overlap the
  // one before it is left out.
  if (HasBands(chart)) {
    const double initial = *chart.initialMilliAmps;
    const double y = l.y(initial);
    painter.setPen(QPen(kTrendInitialLine, 1.5 * u, Qt::DashLine));
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    const double attention = AttentionLevel(initial, chart.thresholds);
    const double abnormal = AbnormalLevel(initial, chart.thresholds);
    const struct {
      double at;
      const char *name;
      QColor colour;
    } names[] = {{y, "初始值", kTrendInitialLine},
                 {(l.y(attention) + l.y(abnormal)) / 2, "注意", QColor(150, 100, 0)},
                 {(l.y(abnormal) + plot.top()) / 2, "异常", QColor(170, 20, 20)}};
    double lastTop = area.bottom();
    for (const auto &n : names) {
      const QRectF box(plot.right() + 4 * u, n.at - 8 * u, area.right() - plot.right() - 4 * u, 16 * u);
      if (box.bottom() > lastTop || box.top() < plot.top() - 8 * u) continue;
      DrawText(painter, box, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(n.name), n.colour);
      lastTop = box.top();
    }
  }

  // The series: lines through the values, a marker on each; an overload or
  // invalid reading has no value, so it is marked at the top edge instead.
  const double r = kMarkerRadius * u;
  for (int i = 0; i < chart.series.size(); ++i) {
    const TrendSeries &s = chart.series[i];
    const QColor colour = TrendSeriesColor(i);
    QPolygonF line;
    for (const TrendPoint &p : s.points)
      if (HasValue(p) && p.date.isValid()) line << QPointF(l.x(p.date), l.y(*p.milliAmps));
    painter.setPen(QPen(colour, 1.8 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
    for (const QPointF &c : line) DrawMarker(painter, c, i, r);
    for (const TrendPoint &p : s.points) {
      if (HasValue(p) || !p.date.isValid()) continue;
      const double x = l.x(p.date);
      painter.setPen(QPen(colour, 1.5 * u));
      painter.setBrush(Qt::NoBrush);
      painter.drawPolygon(QPolygonF{
          {x, plot.top() + 1 * u}, {x + 5 * u, plot.top() + 9 * u}, {x - 5 * u, plot.top() + 9 * u}});
      DrawText(painter, QRectF(x - 30 * u, plot.top() + 10 * u, 60 * u, 16 * u),
               Qt::AlignHCenter | Qt::AlignTop,
               p.reading == ResultReading::Overload ? QStringLiteral("OL") : QStringLiteral("无效"), colour);
    }
  }

  // Title, shrunk (and at last cut short) to fit the width.
  QFont titleFont = ChartFont(painter, kTitleFont * u);
  const double titleWidth = area.width() - 16 * u;
  {
    const double w = QFontMetricsF(titleFont, painter.device()).horizontalAdvance(chart.title);
    if (w > titleWidth && w > 0)
      titleFont.setPointSizeF(titleFont.pointSizeF() * std::max(0.75, titleWidth / w * 0.98));
  }
  painter.setFont(titleFont);
  const QString title =
      QFontMetricsF(titleFont, painter.device()).elidedText(chart.title, Qt::ElideRight, titleWidth);
  DrawText(painter, QRectF(area.left() + 8 * u, area.top(), titleWidth, kTitleRow * u), Qt::AlignCenter,
           title, black);

  // The legend of a chart with several series: marker, line and name.
  if (HasLegend(chart)) {
    painter.setFont(labelFont);
    const QFontMetricsF fm(labelFont, painter.device());
    const double sample = 26 * u, gap = 18 * u;
    double total = 0;
    for (const TrendSeries &s : chart.series) total += sample + 6 * u + fm.horizontalAdvance(s.name) + gap;
    total -= gap;
    double x = area.left() + std::max(8 * u, (area.width() - total) / 2);
    const double y = area.top() + (kTitleRow + kLegendRow / 2) * u;
    for (int i = 0; i < chart.series.size(); ++i) {
      painter.setPen(QPen(TrendSeriesColor(i), 1.8 * u));
      painter.drawLine(QPointF(x, y), QPointF(x + sample, y));
      DrawMarker(painter, QPointF(x + sample / 2, y), i, r);
      x += sample + 6 * u;
      const double w = fm.horizontalAdvance(chart.series[i].name);
      DrawText(painter, QRectF(x, y - kLegendRow / 2 * u, w + 2 * u, kLegendRow * u),
               Qt::AlignLeft | Qt::AlignVCenter, chart.series[i].name, black);
      x += w + gap;
    }
  }
  painter.restore();
}

QImage TrendImage(const TrendChart &chart, const QSize &size) {
  if (size.isEmpty()) return QImage();
  QImage image(size, QImage::Format_RGB32);
  if (image.isNull()) return image;  // too large to allocate
  QPainter painter(&image);
  DrawTrend(painter, QRectF(QPointF(0, 0), size), chart);
  painter.end();
  return image;
}

namespace {

bool Fail(QString *error, const QString &why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool SaveWhole(const QString &path, const QByteArray &bytes, QString *error) {
  QSaveFile file(path);  // a failed write leaves any earlier file as it was
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
    return Fail(error, file.errorString());
  return true;
}

bool SaveTrendPng(const TrendChart &chart, const QString &path, const QSize &size, QString *error) {
  const QImage image = TrendImage(chart, size);
  if (image.isNull())
    return Fail(error,
                QStringLiteral("no image of %1 x %2 can be made").arg(size.width()).arg(size.height()));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Fail(error, QStringLiteral("the PNG could not be encoded"));
  return SaveWhole(path, bytes, error);
}
