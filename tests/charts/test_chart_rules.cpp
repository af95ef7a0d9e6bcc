// The pure rules behind the ruler drags and the pointer read-out.
#include <QtTest>
#include <cmath>

#include "charts/chart_drawing.h"

class TestChartRules : public QObject {
  Q_OBJECT
 private slots:
  void timeRulerGrab_data();
  void timeRulerGrab();
  void levelRulerGrab_data();
  void levelRulerGrab();
  void dragClamps_data();
  void dragClamps();
  void pointerReadout_data();
  void pointerReadout();
};

void TestChartRules::timeRulerGrab_data() {
  QTest::addColumn<double>("x1");
  QTest::addColumn<double>("x2");
  QTest::addColumn<float>("X");
  QTest::addColumn<int>("state");
  QTest::newRow("x1 at the reach") << 0.0 << 500.0 << 10.f << 1;
  QTest::newRow("just beyond x1") << 0.0 << 500.0 << 11.f << 0;
  QTest::newRow("left of x1 in the margin") << 0.0 << 500.0 << -10.f << 1;
  QTest::newRow("both in reach: x1 wins") << 495.0 << 500.0 << 498.f << 1;
  QTest::newRow("only x2 in reach") << 495.0 << 500.0 << 508.f << 2;
  QTest::newRow("x2 lower reach") << 0.0 << 500.0 << 490.f << 2;
  QTest::newRow("x2 upper reach") << 0.0 << 500.0 << 510.f << 2;
  QTest::newRow("x2 beyond") << 0.0 << 500.0 << 510.01f << 0;
  QTest::newRow("typed fraction kept") << 250.25 << 500.0 << 260.25f << 1;
}

void TestChartRules::timeRulerGrab() {
  QFETCH(double, x1);
  QFETCH(double, x2);
  QFETCH(float, X);
  QFETCH(int, state);
  QCOMPARE(int(charts::TimeRulerGrab(x1, x2, X)), state);
}

void TestChartRules::levelRulerGrab_data() {
  QTest::addColumn<double>("y");
  QTest::addColumn<int>("z");
  QTest::addColumn<float>("Y");
  QTest::addColumn<int>("state");
  QTest::newRow("Z at its reach") << 500.0 << 0 << 10.f << 2;
  QTest::newRow("y at its reach") << 500.0 << 0 << 490.f << 1;
  QTest::newRow("beyond Z") << 500.0 << 0 << 11.f << 0;
  QTest::newRow("beyond y") << 500.0 << 0 << 489.f << 0;
  QTest::newRow("both in reach: y wins") << 5.0 << 0 << 3.f << 1;
  QTest::newRow("Z below the chart") << 500.0 << 0 << -10.f << 2;
  QTest::newRow("Z just past its reach") << 500.0 << 0 << 10.5f << 0;
  QTest::newRow("Z at the top") << 500.0 << 1000 << 1010.f << 2;
}

void TestChartRules::levelRulerGrab() {
  QFETCH(double, y);
  QFETCH(int, z);
  QFETCH(float, Y);
  QFETCH(int, state);
  QCOMPARE(int(charts::LevelRulerGrab(y, short(z), Y)), state);
}

void TestChartRules::dragClamps_data() {
  QTest::addColumn<float>("pointer");
  QTest::addColumn<float>("cursor");
  QTest::addColumn<int>("z");
  QTest::newRow("inside") << 250.5f << 250.5f << 250;
  QTest::newRow("half up to even") << 251.5f << 251.5f << 252;
  QTest::newRow("past the top") << 1013.f << 1000.f << 1000;
  QTest::newRow("past the bottom") << -4.f << 0.f << 0;
  QTest::newRow("just below zero") << -0.4f << 0.f << 0;
  QTest::newRow("rounds up to the top") << 999.6f << 999.6f << 1000;
  QTest::newRow("undefined") << std::nanf("") << 0.f << 0;
}

void TestChartRules::dragClamps() {
  QFETCH(float, pointer);
  QFETCH(float, cursor);
  QFETCH(int, z);
  QCOMPARE(charts::ClampToChart(pointer), cursor);
  QCOMPARE(int(charts::ClampZ(pointer)), z);
}

void TestChartRules::pointerReadout_data() {
  QTest::addColumn<float>("X");
  QTest::addColumn<float>("Y");
  QTest::addColumn<QString>("text");  // empty: nothing shown
  QTest::newRow("example") << 250.4f << 731.5f << "X: 250 Y: 732";
  QTest::newRow("halves to even") << 250.5f << 251.5f << "X: 250 Y: 252";
  QTest::newRow("just inside the left") << 0.4f << 500.f << "X: 0 Y: 500";
  QTest::newRow("rounds to the refused 1000") << 999.6f << 500.f << "X: 1000 Y: 500";
  QTest::newRow("left frame line") << 0.f << 500.f << "";
  QTest::newRow("right frame line") << 1000.f << 500.f << "";
  QTest::newRow("bottom frame line") << 500.f << 0.f << "";
  QTest::newRow("top frame line") << 500.f << 1000.f << "";
  QTest::newRow("left margin") << -5.f << 500.f << "";
  QTest::newRow("top margin") << 500.f << 1005.f << "";
  QTest::newRow("undefined") << std::nanf("") << 500.f << "";
}

void TestChartRules::pointerReadout() {
  QFETCH(float, X);
  QFETCH(float, Y);
  QFETCH(QString, text);
  const std::optional<QString> shown = charts::PointerReadout(X, Y);
  QCOMPARE(shown.value_or(QString()), text);
}

QTEST_APPLESS_MAIN(TestChartRules)
#include "test_chart_rules.moc"
