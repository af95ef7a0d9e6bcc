// Typed-number reading, rounding, window statistics and the alarm entry rule.
#include <QtTest>
#include <array>
#include <cfloat>

#include "numbers/number_text.h"
#include "monitor/statistics.h"

class TestMonitorLogic : public QObject {
  Q_OBJECT
 private slots:
  void readsNumbersLeniently_data();
  void readsNumbersLeniently();
  void roundsHalvesToEven_data();
  void roundsHalvesToEven();
  void statisticsMinStartsAtOneMillion();
  void statisticsSumInDoublePrecision();
  void statisticsNeverReadPastTheBuffer();
  void alarmEntry_data();
  void alarmEntry();
};

void TestMonitorLogic::readsNumbersLeniently_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<double>("value");
  QTest::newRow("leading blanks, trailing letters") << "  12.5abc" << 12.5;
  QTest::newRow("blank inside the number") << " 1 2.5" << 12.5;
  QTest::newRow("blank after the sign") << "- 3" << -3.0;
  QTest::newRow("full-width blank") << QStringLiteral("1\u30002") << 12.0;
  QTest::newRow("no number") << "abc" << 0.0;
  QTest::newRow("empty box") << "" << 0.0;
  QTest::newRow("only a sign") << "-" << 0.0;
  QTest::newRow("only a point") << "." << 0.0;
  QTest::newRow("negative fraction") << "-0.4" << -0.4;
  QTest::newRow("bare decimal point") << ".5" << 0.5;
  QTest::newRow("trailing point") << "5." << 5.0;
  QTest::newRow("second point ends it") << "1.2.3" << 1.2;
  QTest::newRow("exponent") << "1.5e3mA" << 1500.0;
  QTest::newRow("exponent without digits") << "7e" << 7.0;
  QTest::newRow("comma is not a decimal point") << "3,5" << 3.0;
  QTest::newRow("Chinese unit after it") << QStringLiteral("20毫安") << 20.0;
  QTest::newRow("overflow stays huge") << "1e999" << DBL_MAX;
  QTest::newRow("negative overflow") << "-1e999" << -DBL_MAX;
}

void TestMonitorLogic::readsNumbersLeniently() {
  QFETCH(QString, text);
  QFETCH(double, value);
  QCOMPARE(ReadNumberLeniently(text), value);
}

void TestMonitorLogic::roundsHalvesToEven_data() {
  QTest::addColumn<double>("value");
  QTest::addColumn<qint64>("rounded");
  QTest::newRow("250.5") << 250.5 << qint64(250);
  QTest::newRow("251.5") << 251.5 << qint64(252);
  QTest::newRow("-0.5") << -0.5 << qint64(0);
  QTest::newRow("-1.5") << -1.5 << qint64(-2);
  QTest::newRow("732.4") << 732.4 << qint64(732);
  QTest::newRow("732.6") << 732.6 << qint64(733);
  QTest::newRow("huge saturates") << 1e300 << std::numeric_limits<qint64>::max();
  QTest::newRow("huge negative saturates") << -1e300 << std::numeric_limits<qint64>::min();
}

void TestMonitorLogic::roundsHalvesToEven() {
  QFETCH(double, value);
  QFETCH(qint64, rounded);
  QCOMPARE(qint64(RoundHalfEven(value)), rounded);
}

void TestMonitorLogic::statisticsMinStartsAtOneMillion() {
  // All readings above 1,000,000 still leave Min at its start value.
  std::array<float, 501> r{};
  r.fill(2000000);
  const WindowStatistics s = ComputeWindowStatistics(r.data(), r.size(), 16, int(r.size()), 1000000);
  QCOMPARE(s.Min, 1000000.0f);
  QCOMPARE(s.Max, 2000000.0f);
  QVERIFY(s.Alarm);
}

void TestMonitorLogic::statisticsSumInDoublePrecision() {
  // One large reading and sixteen tiny ones: a single-precision sum would
  // lose every tiny one (0.01 is below half a float step at 350000).
  std::array<float, 501> r{};
  r[0] = 350000;
  for (int i = 1; i <= 16; ++i) r[i] = 0.01f;
  const WindowStatistics s = ComputeWindowStatistics(r.data(), r.size(), 16, int(r.size()), 1000000);
  QCOMPARE(s.Average, static_cast<float>((350000.0 + 16 * double(0.01f)) / 17));
  QVERIFY(s.Average != 350000.0f / 17);
}

void TestMonitorLogic::statisticsNeverReadPastTheBuffer() {
  std::array<float, 4> r{{4, 4, 4, 4}};
  const WindowStatistics s = ComputeWindowStatistics(r.data(), r.size(), 500, int(r.size()), 1000000);
  QCOMPARE(s.Average, 4.0f);
  const WindowStatistics none = ComputeWindowStatistics(nullptr, 0, 16, 0, 0);
  QVERIFY(!none.Alarm);
}

void TestMonitorLogic::alarmEntry_data() {
  QTest::addColumn<int>("unit");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<float>("milliAmpere");
  const int mA = int(AlarmUnit::MilliAmpere), A = int(AlarmUnit::Ampere), none = int(AlarmUnit::None);
  QTest::newRow("mA upper limit") << mA << "350000" << true << 350000.0f;
  QTest::newRow("mA just above") << mA << "350000.5" << false << 0.0f;
  QTest::newRow("mA negative") << mA << "-1" << false << 0.0f;
  QTest::newRow("mA zero") << mA << "0" << true << 0.0f;
  QTest::newRow("mA text counts as zero") << mA << "abc" << true << 0.0f;
  QTest::newRow("mA with blanks") << mA << " 1 2.5" << true << 12.5f;
  QTest::newRow("mA overflow refused") << mA << "1e999" << false << 0.0f;
  QTest::newRow("A upper limit") << A << "350" << true << 350000.0f;
  QTest::newRow("A just above") << A << "350.5" << false << 0.0f;
  QTest::newRow("A fraction") << A << "0.25" << true << 250.0f;
  QTest::newRow("A negative") << A << "-0.001" << false << 0.0f;
  QTest::newRow("no unit") << none << "5" << false << 0.0f;
}

void TestMonitorLogic::alarmEntry() {
  QFETCH(int, unit);
  QFETCH(QString, text);
  QFETCH(bool, accepted);
  QFETCH(float, milliAmpere);
  const AlarmEntry e = ReadAlarmEntry(text, AlarmUnit(unit));
  QCOMPARE(e.Accepted, accepted);
  if (accepted) QCOMPARE(e.ValueMilliAmpere, milliAmpere);
}

QTEST_GUILESS_MAIN(TestMonitorLogic)
#include "test_monitor_logic.moc"
