#pragma once
// Drawing of the trend chart and its two ruler strips on a bare QImage, plus
// the pure rules of the cursor drags and the pointer read-out. Depends on
// QtGui only (no widgets), so everything here can be tested and timed alone.
//
// Positions are chart units: 0..1000 on both axes. Each drawing routine takes
// the user-to-pixel mapping of its surface as a QTransform.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QLineF>
#include <QPoint>
#include <QString>
#include <QTransform>
#include <optional>
#include <vector>

namespace charts {

// User scales (left, top, width, height; a negative height makes y grow upwards).
struct UserScale {
  double left, top, width, height;
};
inline constexpr UserScale kMainChartScale{-10, 1010, 1020, -1020};
inline constexpr UserScale kTimeRulerScale{-10, 0, 1020, 136};
inline constexpr UserScale kLevelRulerScale{0, 1010, 136, -1020};

// Maps a user scale onto an image of the given pixel size.
QTransform ScaleTransform(const QSize &pixels, const UserScale &scale);

// The pixel that shows the user point (x, y): the one whose square contains it.
QPoint ToPixel(const QTransform &userToPixel, double x, double y);

inline const QColor kChartBackColor(150, 150, 150);
inline const QColor kRulerBackColor(255, 255, 255);
inline const QColor kChartLineColor(0, 0, 255);  // frame, ticks, cursors, markers
inline const QColor kTraceColor(0, 255, 0);
inline const QColor kRulerTextColor(0, 0, 0);

// What the chart needs of the trace.
struct TraceView {
  bool active = false;            // drawn only while true
  const float *points = nullptr;  // trace points in chart units
  int size = 0;                   // entries available in points
  int pointsPerWindow = 0;        // N: segments across the chart
};

// The trace segments in chart units for zero offset z: segment i joins point
// i-1 and point i, raised by z. A segment with a negative end lies flat at 0,
// otherwise one with an end above 1000 lies flat at 1000. Never reads past
// the buffer; a segment with an undefined (NaN) end is left out.
std::vector<QLineF> TraceSegments(float z, const TraceView &trace);

// Redraws the whole chart: clear, frame, ticks, dotted cursors (only those
// within 0..1000) and, while the trace is active, the trace.
void DrawMainChart(QImage &image, const QTransform &userToPixel, const QColor &back, float x1, float x2,
                   float y, float z, const TraceView &trace);

// Redraws the time ruler with markers x1 at a and x2 at b. Leaves the strip
// as it was and returns false when a or b lies outside 0..1000.
bool DrawTimeRuler(QImage &image, const QTransform &userToPixel, const QColor &back, const QFont &font,
                   float a, float b);

// Redraws the level ruler with markers y at a and Z at b; same refusal rule.
bool DrawLevelRuler(QImage &image, const QTransform &userToPixel, const QColor &back, const QFont &font,
                    float a, float b);

// A marker's label: the name followed by the position rounded halves to even ("x1:250").
QString RulerLabel(const QString &name, float position);

// Drag states of the rulers.
enum : short { kNoDrag = 0, kDragFirst = 1, kDragSecond = 2 };

// Which time marker a left press at X grabs: 1 for x1, 2 for x2, 0 for none.
// The reach is 10 units either side; x1 wins when both are in reach.
short TimeRulerGrab(double x1, double x2, float X);

// Which level marker a left press at Y grabs: 1 for y, 2 for Z, 0 for none.
// Z's reach is computed from whole numbers; y wins when both are in reach.
short LevelRulerGrab(double y, short z, float Y);

// A dragged position limited to the chart, 0..1000.
float ClampToChart(float v);

// A dragged Z: limited to 0..1000 and rounded halves to even.
short ClampZ(float v);

// Whether a typed cursor value is accepted (0..1000 inclusive).
inline bool IsValidCursorEntry(double v) { return v >= 0 && v <= 1000; }

// The pointer read-out ("X: 250 Y: 732"), or nothing when the pointer is not
// strictly inside the frame.
std::optional<QString> PointerReadout(float X, float Y);

}  // namespace charts
