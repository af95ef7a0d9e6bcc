#include "charts/chart_drawing.h"

#include <QPainter>
#include <QPen>
#include <cmath>

#include "numbers/number_text.h"

namespace charts {

QTransform ScaleTransform(const QSize &pixels, const UserScale &s) {
  const double sx = pixels.width() / s.width;
  const double sy = pixels.height() / s.height;
  return QTransform(sx, 0, 0, sy, -s.left * sx, -s.top * sy);
}

QPoint ToPixel(const QTransform &userToPixel, double x, double y) {
  const QPointF p = userToPixel.map(QPointF(x, y));
  return QPoint(int(std::floor(p.x())), int(std::floor(p.y())));
}

namespace {

bool InChart(float v) { return v >= 0 && v <= 1000; }

// One painter for a whole redraw: aliased, one-pixel cosmetic pens, and all
// coordinates mapped to whole pixels here so that every line lands on a
// predictable pixel row or column.
class PixelPainter {
 public:
  PixelPainter(QImage &image, const QTransform &userToPixel) : p_(&image), map_(userToPixel) {
    p_.setRenderHint(QPainter::Antialiasing, false);
    p_.setRenderHint(QPainter::TextAntialiasing, false);
  }

  void setColor(const QColor &c) {
    QPen pen(c, 1);
    pen.setCosmetic(true);
    p_.setPen(pen);
  }

  QPoint pixel(double x, double y) const { return ToPixel(map_, x, y); }

  // Solid lines, given in user units, drawn in one batch.
  void solidLines(const QLineF *lines, size_t count) {
    batch_.clear();
    batch_.reserve(count);
    for (size_t i = 0; i < count; ++i)
      batch_.emplace_back(pixel(lines[i].x1(), lines[i].y1()), pixel(lines[i].x2(), lines[i].y2()));
    p_.drawLines(batch_.data(), int(batch_.size()));
  }

  // A dotted horizontal or vertical line: every other pixel, starting at its first end.
  void dottedLine(double x1, double y1, double x2, double y2) {
    const QPoint a = pixel(x1, y1), b = pixel(x2, y2);
    const int dx = (b.x() > a.x()) - (b.x() < a.x());
    const int dy = (b.y() > a.y()) - (b.y() < a.y());
    const int steps = std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
    dots_.clear();
    for (int k = 0; k <= steps; k += 2) dots_.emplace_back(a.x() + dx * k, a.y() + dy * k);
    p_.drawPoints(dots_.data(), int(dots_.size()));
  }

  // Text with its top-left corner at the user point (x, y), unscaled.
  void text(double x, double y, const QString &s, const QFont &font, const QColor &color) {
    p_.setFont(font);
    p_.setPen(color);
    const QPoint at = pixel(x, y);
    p_.drawText(QRect(at, QSize(1000, 1000)), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, s);
  }

 private:
  QPainter p_;
  QTransform map_;
  std::vector<QLine> batch_;
  std::vector<QPoint> dots_;
};

// Frame, then per edge its minor ticks followed by its major ticks.
std::vector<QLineF> FrameAndTicks() {
  std::vector<QLineF> l;
  l.reserve(4 + 4 * (99 + 9));
  l.emplace_back(0, 0, 1000, 0);
  l.emplace_back(0, 1000, 1000, 1000);
  l.emplace_back(0, 0, 0, 1000);
  l.emplace_back(1000, 0, 1000, 1000);
  struct Edge {
    bool horizontal;
    double base, minorEnd, majorEnd;
  };
  const Edge edges[] = {
      {true, 0, 12, 20}, {true, 1000, 988, 980}, {false, 0, 8, 15}, {false, 1000, 992, 985}};
  for (const Edge &e : edges) {
    auto tick = [&](double at, double end) {
      if (e.horizontal)
        l.emplace_back(at, e.base, at, end);
      else
        l.emplace_back(e.base, at, end, at);
    };
    for (int v = 10; v <= 990; v += 10) tick(v, e.minorEnd);
    for (int v = 100; v <= 900; v += 100) tick(v, e.majorEnd);
  }
  return l;
}

const std::vector<QLineF> &CachedFrameAndTicks() {
  static const std::vector<QLineF> lines = FrameAndTicks();
  return lines;
}

}  // namespace

std::vector<QLineF> TraceSegments(float z, const TraceView &trace) {
  std::vector<QLineF> segments;
  int n = trace.pointsPerWindow;
  if (!trace.points || n <= 0 || trace.size < 2) return segments;
  if (n > trace.size - 1) n = trace.size - 1;
  segments.reserve(size_t(n));
  for (int i = 1; i <= n; ++i) {
    float p = z + trace.points[i - 1];
    float q = z + trace.points[i];
    if (std::isnan(p) || std::isnan(q)) continue;
    if (p < 0 || q < 0) {
      p = q = 0;
    } else if (p > 1000 || q > 1000) {
      p = q = 1000;
    }
    const float xa = float(1000.0 / n * (i - 1));
    const float xb = float(1000.0 / n * i);
    segments.emplace_back(xa, p, xb, q);
  }
  return segments;
}

void DrawMainChart(QImage &image, const QTransform &userToPixel, const QColor &back, float x1, float x2,
                   float y, float z, const TraceView &trace) {
  image.fill(back);
  PixelPainter p(image, userToPixel);
  p.setColor(kChartLineColor);
  const std::vector<QLineF> &frame = CachedFrameAndTicks();
  p.solidLines(frame.data(), frame.size());
  if (InChart(y)) p.dottedLine(0, y, 1000, y);
  if (InChart(z)) p.dottedLine(0, z, 1000, z);
  if (InChart(x1)) p.dottedLine(x1, 0, x1, 1000);
  if (InChart(x2)) p.dottedLine(x2, 0, x2, 1000);
  if (!trace.active) return;
  const std::vector<QLineF> segments = TraceSegments(z, trace);
  p.setColor(kTraceColor);
  p.solidLines(segments.data(), segments.size());
}

QString RulerLabel(const QString &name, float position) {
  return name + QString::number(RoundHalfEven(double(position)));
}

namespace {

// One ruler marker: a triangle outline with its apex at the cursor's position
// on the edge next to the chart, and its label beside it.
struct RulerMarker {
  float at;
  QString name;
};
using TriangleAt = void (*)(double v, QLineF (&lines)[3]);
using LabelCornerAt = QPointF (*)(double v);

// Clears the strip and draws both markers; leaves the strip untouched (and
// returns false) when either position is outside the chart.
bool DrawRuler(QImage &image, const QTransform &userToPixel, const QColor &back, const QFont &font,
               const RulerMarker (&markers)[2], TriangleAt triangleAt, LabelCornerAt labelAt) {
  if (!InChart(markers[0].at) || !InChart(markers[1].at)) return false;
  image.fill(back);
  PixelPainter p(image, userToPixel);
  for (const RulerMarker &m : markers) {
    QLineF triangle[3];
    triangleAt(m.at, triangle);
    p.setColor(kChartLineColor);
    p.solidLines(triangle, 3);
    const QPointF corner = labelAt(m.at);
    p.text(corner.x(), corner.y(), RulerLabel(m.name, m.at), font, kRulerTextColor);
  }
  return true;
}

}  // namespace

bool DrawTimeRuler(QImage &image, const QTransform &userToPixel, const QColor &back, const QFont &font,
                   float a, float b) {
  // Apex on the top edge, pointing up at the chart; 40 wide, 20 tall.
  return DrawRuler(
      image, userToPixel, back, font, {{a, QStringLiteral("x1:")}, {b, QStringLiteral("x2:")}},
      [](double v, QLineF(&t)[3]) {
        t[0] = {v, 0, v + 20, 20};
        t[1] = {v, 0, v - 20, 20};
        t[2] = {v + 20, 20, v - 20, 20};
      },
      [](double v) { return QPointF(v - 25, 21); });
}

bool DrawLevelRuler(QImage &image, const QTransform &userToPixel, const QColor &back, const QFont &font,
                    float a, float b) {
  // Apex on the left edge, pointing at the chart; 20 wide, 40 tall.
  return DrawRuler(
      image, userToPixel, back, font, {{a, QStringLiteral("y:")}, {b, QStringLiteral("Z:")}},
      [](double v, QLineF(&t)[3]) {
        t[0] = {0, v, 20, v + 20};
        t[1] = {0, v, 20, v - 20};
        t[2] = {20, v + 20, 20, v - 20};
      },
      [](double v) { return QPointF(21, v + 10); });
}

short TimeRulerGrab(double x1, double x2, float X) {
  const double x = X;
  if (x1 - 10 <= x && x <= x1 + 10) return kDragFirst;
  if (x2 - 10 <= x && x <= x2 + 10) return kDragSecond;
  return kNoDrag;
}

short LevelRulerGrab(double y, short z, float Y) {
  const double v = Y;
  if (y - 10 <= v && v <= y + 10) return kDragFirst;
  const int low = int(z) - 10, high = int(z) + 10;
  if (low <= v && v <= high) return kDragSecond;
  return kNoDrag;
}

float ClampToChart(float v) {
  if (v > 1000) return 1000;
  if (!(v >= 0)) return 0;  // below the chart, or undefined
  return v;
}

short ClampZ(float v) { return short(RoundHalfEven(double(ClampToChart(v)))); }

std::optional<QString> PointerReadout(float X, float Y) {
  if (!(X > 0 && X < 1000 && Y > 0 && Y < 1000)) return std::nullopt;
  return QStringLiteral("X: %1 Y: %2").arg(RoundHalfEven(double(X))).arg(RoundHalfEven(double(Y)));
}

}  // namespace charts
