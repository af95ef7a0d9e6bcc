// The trend chart and the ruler strips drawn on bare images, checked pixel by
// pixel at the places where each line must land.
#include <QtTest>
#include <array>
#include <cmath>

#include "charts/chart_drawing.h"

namespace {

// The chart as shown on screen: 533 x 400 pixels for 1020 x 1020 user units.
constexpr int kW = 533, kH = 400;
int Col(double x) { return int(std::floor((x + 10) * kW / 1020.0)); }
int Row(double y) { return int(std::floor((1010 - y) * kH / 1020.0)); }

const QRgb kGrey = qRgb(150, 150, 150);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kWhite = qRgb(255, 255, 255);

struct Chart {
  QImage image{kW, kH, QImage::Format_RGB32};
  std::array<float, 501> buffer{};
  charts::TraceView trace;

  Chart() {
    trace.points = buffer.data();
    trace.size = int(buffer.size());
    trace.pointsPerWindow = 16;
  }
  void draw(float x1, float x2, float y, float z) {
    charts::DrawMainChart(image, charts::ScaleTransform(image.size(), charts::kMainChartScale),
                          charts::kChartBackColor, x1, x2, y, z, trace);
  }
  QRgb at(double x, double y) const { return image.pixel(Col(x), Row(y)); }
  int greenInColumn(double x) const {
    int n = 0;
    for (int r = 0; r < kH; ++r) n += image.pixel(Col(x), r) == kGreen;
    return n;
  }
};

}  // namespace

class TestChartDrawing : public QObject {
  Q_OBJECT
 private slots:
  void frameAndTicks_data();
  void frameAndTicks();
  void dottedCursor_data();
  void dottedCursor();
  void cursorOutsideChartNotDrawn();
  void traceFlattening_data();
  void traceFlattening();
  void segmentWidthsFollowN_data();
  void segmentWidthsFollowN();
  void traceNeverReadsPastBuffer();
  void flatSegmentsDrawnOnEdges();
  void noTraceWhileInactive();
  void zeroBufferDrawsFlatTraceAtZ();
  void rulerMarkers();
  void rulerRefusesOutOfRangeAndKeepsStrip_data();
  void rulerRefusesOutOfRangeAndKeepsStrip();
  void rulerLabels_data();
  void rulerLabels();
};

// Cursors are out of the way (not drawn) so only frame and ticks show.
void TestChartDrawing::frameAndTicks_data() {
  QTest::addColumn<double>("x");
  QTest::addColumn<double>("y");
  QTest::addColumn<bool>("blue");
  QTest::newRow("frame bottom") << 500.0 << 0.0 << true;
  QTest::newRow("frame top") << 500.0 << 1000.0 << true;
  QTest::newRow("frame left") << 0.0 << 500.0 << true;
  QTest::newRow("frame right") << 1000.0 << 500.0 << true;
  QTest::newRow("inside") << 505.0 << 505.0 << false;
  QTest::newRow("margin") << 500.0 << -8.0 << false;
  QTest::newRow("bottom major") << 100.0 << 17.0 << true;
  QTest::newRow("bottom minor, short of 17") << 110.0 << 17.0 << false;
  QTest::newRow("bottom minor") << 110.0 << 6.0 << true;
  QTest::newRow("between bottom ticks") << 105.0 << 6.0 << false;
  QTest::newRow("top major") << 900.0 << 983.0 << true;
  QTest::newRow("top minor, short of 983") << 910.0 << 983.0 << false;
  QTest::newRow("left major") << 12.0 << 300.0 << true;
  QTest::newRow("left minor, short of 12") << 12.0 << 310.0 << false;
  QTest::newRow("left minor") << 4.0 << 310.0 << true;
  QTest::newRow("right major") << 988.0 << 700.0 << true;
  QTest::newRow("right minor, short of 988") << 988.0 << 710.0 << false;
  QTest::newRow("no tick at 1000 on the bottom") << 995.0 << 15.0 << false;
}

void TestChartDrawing::frameAndTicks() {
  QFETCH(double, x);
  QFETCH(double, y);
  QFETCH(bool, blue);
  Chart c;
  c.draw(-1, -1, -1, -1);
  QCOMPARE(c.at(x, y), blue ? kBlue : kGrey);
}

void TestChartDrawing::dottedCursor_data() {
  QTest::addColumn<int>("which");  // 0 x1, 1 x2, 2 y, 3 z
  QTest::addColumn<double>("at");
  QTest::newRow("x1") << 0 << 250.0;
  QTest::newRow("x2") << 1 << 640.0;
  QTest::newRow("y") << 2 << 333.0;
  QTest::newRow("z") << 3 << 720.0;
}

void TestChartDrawing::dottedCursor() {
  QFETCH(int, which);
  QFETCH(double, at);
  float v[4] = {-1, -1, -1, -1};
  v[which] = float(at);
  Chart c;
  c.draw(v[0], v[1], v[2], v[3]);
  const bool vertical = which < 2;
  // Along the line, away from the ticks, every other pixel is blue.
  int blue = 0, grey = 0;
  for (double u = 50; u <= 950; u += 1) {
    const QRgb a = vertical ? c.at(at, u) : c.at(u, at);
    const QPoint p = vertical ? QPoint(Col(at), Row(u)) : QPoint(Col(u), Row(at));
    const QPoint next = vertical ? p + QPoint(0, 1) : p + QPoint(1, 0);
    QVERIFY2(a != c.image.pixel(next), qPrintable(QStringLiteral("no alternation at %1").arg(u)));
    (a == kBlue ? blue : grey)++;
  }
  QVERIFY(blue > 100);
  QVERIFY(grey > 100);
  // A pixel beside the line stays grey.
  QCOMPARE(vertical ? c.at(at + 4, 500) : c.at(500, at + 4), kGrey);
}

void TestChartDrawing::cursorOutsideChartNotDrawn() {
  Chart c;
  c.draw(1000.5f, -0.5f, 1000.5f, -1);
  Chart bare;
  bare.draw(-1, -1, -1, -1);
  QCOMPARE(c.image, bare.image);
}

void TestChartDrawing::traceFlattening_data() {
  QTest::addColumn<float>("p");
  QTest::addColumn<float>("q");
  QTest::addColumn<float>("z");
  QTest::addColumn<double>("y1");
  QTest::addColumn<double>("y2");
  QTest::newRow("inside") << 10.f << 20.f << 0.f << 10.0 << 20.0;
  QTest::newRow("raised by z") << 10.f << 20.f << 300.f << 310.0 << 320.0;
  QTest::newRow("990 to 1010 flat at 1000") << 990.f << 1010.f << 0.f << 1000.0 << 1000.0;
  QTest::newRow("-5 to 500 flat at 0") << -5.f << 500.f << 0.f << 0.0 << 0.0;
  QTest::newRow("500 to -5 flat at 0") << 500.f << -5.f << 0.f << 0.0 << 0.0;
  QTest::newRow("negative end wins: -5 to 1010") << -5.f << 1010.f << 0.f << 0.0 << 0.0;
  QTest::newRow("negative end wins: 1010 to -5") << 1010.f << -5.f << 0.f << 0.0 << 0.0;
  QTest::newRow("z 1000, zeros on the top edge") << 0.f << 0.f << 1000.f << 1000.0 << 1000.0;
  QTest::newRow("z 1000, positive end flattened") << 0.f << 3.f << 1000.f << 1000.0 << 1000.0;
  QTest::newRow("z 1000, negative value") << -5.f << 0.f << 1000.f << 995.0 << 1000.0;
  QTest::newRow("exactly 0 and 1000 kept") << 0.f << 1000.f << 0.f << 0.0 << 1000.0;
}

void TestChartDrawing::traceFlattening() {
  QFETCH(float, p);
  QFETCH(float, q);
  QFETCH(float, z);
  QFETCH(double, y1);
  QFETCH(double, y2);
  const float points[] = {p, q};
  charts::TraceView t{true, points, 2, 1};
  const std::vector<QLineF> s = charts::TraceSegments(z, t);
  QCOMPARE(s.size(), size_t(1));
  QCOMPARE(s[0], QLineF(0, y1, 1000, y2));
}

void TestChartDrawing::segmentWidthsFollowN_data() {
  QTest::addColumn<int>("n");
  QTest::addColumn<double>("width");
  QTest::newRow("1s") << 16 << 62.5;
  QTest::newRow("5s") << 83 << 1000.0 / 83;
  QTest::newRow("30s") << 500 << 2.0;
}

void TestChartDrawing::segmentWidthsFollowN() {
  QFETCH(int, n);
  QFETCH(double, width);
  Chart c;
  c.trace.active = true;
  c.trace.pointsPerWindow = n;
  c.buffer[1] = 800;                                                // a peak at the second point
  if (n + 1 < int(c.buffer.size())) c.buffer[size_t(n + 1)] = 900;  // beyond the window
  const std::vector<QLineF> s = charts::TraceSegments(0, c.trace);
  QCOMPARE(int(s.size()), n);
  for (int i = 0; i < n; ++i) {
    QCOMPARE(s[size_t(i)].x1(), double(float(width * i)));
    QCOMPARE(s[size_t(i)].x2(), double(float(1000.0 / n * (i + 1))));
  }
  QCOMPARE(s.back().x2(), 1000.0);
  for (const QLineF &l : s) QVERIFY(l.y1() <= 800 && l.y2() <= 800);

  // On the image the peak shows in the column of x = width.
  c.draw(-1, -1, -1, 0);  // z is the trace offset
  QCOMPARE(c.at(width, 800), kGreen);
  for (int r = 0; r < Row(800); ++r)
    for (int x = 0; x < kW; ++x) QVERIFY(c.image.pixel(x, r) != kGreen);
}

void TestChartDrawing::traceNeverReadsPastBuffer() {
  const float points[17] = {};
  charts::TraceView t{true, points, 17, 500};
  QCOMPARE(charts::TraceSegments(0, t).size(), size_t(16));
  charts::TraceView empty{true, nullptr, 0, 500};
  QVERIFY(charts::TraceSegments(0, empty).empty());
  charts::TraceView noWindow{true, points, 17, 0};
  QVERIFY(charts::TraceSegments(0, noWindow).empty());
}

void TestChartDrawing::flatSegmentsDrawnOnEdges() {
  Chart c;
  c.trace.active = true;
  c.trace.pointsPerWindow = 2;
  c.buffer[0] = 990;
  c.buffer[1] = 1010;  // segment 1: flat on top
  c.buffer[2] = -5;    // segment 2: flat on the bottom
  c.draw(-1, -1, -1, 0);
  QCOMPARE(c.at(250, 1000), kGreen);
  QCOMPARE(c.at(750, 0), kGreen);
  QCOMPARE(c.greenInColumn(250), 1);  // not clipped: one pixel, on the edge
  QCOMPARE(c.greenInColumn(750), 1);
}

void TestChartDrawing::noTraceWhileInactive() {
  Chart c;
  c.buffer.fill(400);
  c.trace.active = false;
  c.draw(0, 500, 500, 0);
  for (double x : {100.0, 300.0, 700.0}) QCOMPARE(c.greenInColumn(x), 0);
}

// The state after Pause before any Start: the trace is on and holds zeros.
void TestChartDrawing::zeroBufferDrawsFlatTraceAtZ() {
  Chart c;
  c.trace.active = true;
  c.trace.pointsPerWindow = 166;
  c.draw(0, 500, 500, 300);
  for (double x : {100.0, 300.0, 700.0}) {
    QCOMPARE(c.at(x, 300), kGreen);
    QCOMPARE(c.greenInColumn(x), 1);
  }
}

void TestChartDrawing::rulerMarkers() {
  // Time ruler, 533 x 53 pixels.
  QImage time(533, 53, QImage::Format_RGB32);
  const QTransform tt = charts::ScaleTransform(time.size(), charts::kTimeRulerScale);
  QVERIFY(charts::DrawTimeRuler(time, tt, charts::kRulerBackColor, QFont(), 250, 750));
  for (double a : {250.0, 750.0}) {
    QCOMPARE(time.pixel(charts::ToPixel(tt, a, 0)), kBlue);         // apex
    QCOMPARE(time.pixel(charts::ToPixel(tt, a, 10)), kWhite);       // hollow
    QCOMPARE(time.pixel(charts::ToPixel(tt, a + 10, 20)), kBlue);   // base
    QCOMPARE(time.pixel(charts::ToPixel(tt, a + 30, 10)), kWhite);  // beside
  }
  // Level ruler, 53 x 400 pixels.
  QImage level(53, 400, QImage::Format_RGB32);
  const QTransform lt = charts::ScaleTransform(level.size(), charts::kLevelRulerScale);
  QVERIFY(charts::DrawLevelRuler(level, lt, charts::kRulerBackColor, QFont(), 500, 0));
  for (double v : {500.0, 0.0}) {
    QCOMPARE(level.pixel(charts::ToPixel(lt, 0, v)), kBlue);        // apex on the left edge
    QCOMPARE(level.pixel(charts::ToPixel(lt, 20, v + 10)), kBlue);  // upright side
    QCOMPARE(level.pixel(charts::ToPixel(lt, 10, v)), kWhite);
  }
  QCOMPARE(level.pixel(charts::ToPixel(lt, 10, 250)), kWhite);
}

void TestChartDrawing::rulerRefusesOutOfRangeAndKeepsStrip_data() {
  QTest::addColumn<float>("a");
  QTest::addColumn<float>("b");
  QTest::addColumn<bool>("drawn");
  QTest::newRow("both ends of the chart") << 0.f << 1000.f << true;
  QTest::newRow("first above") << 1000.5f << 500.f << false;
  QTest::newRow("second below") << 500.f << -0.01f << false;
  QTest::newRow("undefined") << std::nanf("") << 500.f << false;
}

void TestChartDrawing::rulerRefusesOutOfRangeAndKeepsStrip() {
  QFETCH(float, a);
  QFETCH(float, b);
  QFETCH(bool, drawn);
  QImage time(533, 53, QImage::Format_RGB32), level(53, 400, QImage::Format_RGB32);
  time.fill(Qt::red);
  level.fill(Qt::red);
  const QImage before = time;
  QCOMPARE(charts::DrawTimeRuler(time, charts::ScaleTransform(time.size(), charts::kTimeRulerScale),
                                 charts::kRulerBackColor, QFont(), a, b),
           drawn);
  QCOMPARE(charts::DrawLevelRuler(level, charts::ScaleTransform(level.size(), charts::kLevelRulerScale),
                                  charts::kRulerBackColor, QFont(), a, b),
           drawn);
  QCOMPARE(time == before, !drawn);
  QCOMPARE(level.pixel(26, 200) == qRgb(255, 0, 0), !drawn);
}

void TestChartDrawing::rulerLabels_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<float>("at");
  QTest::addColumn<QString>("label");
  QTest::newRow("plain") << "x1:" << 250.f << "x1:250";
  QTest::newRow("half down to even") << "x1:" << 250.5f << "x1:250";
  QTest::newRow("half up to even") << "x1:" << 251.5f << "x1:252";
  QTest::newRow("top") << "y:" << 1000.f << "y:1000";
  QTest::newRow("zero") << "Z:" << 0.f << "Z:0";
  QTest::newRow("nearest") << "x2:" << 499.7f << "x2:500";
}

void TestChartDrawing::rulerLabels() {
  QFETCH(QString, name);
  QFETCH(float, at);
  QFETCH(QString, label);
  QCOMPARE(charts::RulerLabel(name, at), label);
}

QTEST_MAIN(TestChartDrawing)
#include "test_chart_drawing.moc"
