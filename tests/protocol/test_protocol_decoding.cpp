// The reading code tables, FormatReading, the history table text and the
// reading ring, without a window.
#include <QtTest>
#include <memory>

#include "charts/chart_scale.h"
#include "protocol/history_table.h"
#include "protocol/reading_text.h"
#include "protocol/trace_ring.h"

namespace {

QByteArray Group(int high, int low, int code) {
  QByteArray b;
  b.append(static_cast<char>(high)).append(static_cast<char>(low)).append(static_cast<char>(code));
  return b;
}

ReadingGroup MakeGroup(int high, int low, int code) { return ReadingGroup::At(Group(high, low, code), 0); }

QList<int> CodesFrom(int first, int last) {
  QList<int> codes;
  for (int c = first; c <= last; ++c) codes << c;
  return codes;
}

const QString kCrLf = QStringLiteral("\r\n");
QString Spaces(int n) { return QString(n, QLatin1Char(' ')); }

// Two rings with guard values behind each, to see any write past the end.
struct GuardedRing {
  RingArray readings{};
  float guardAfterReadings = -7;
  RingArray trace{};
  float guardAfterTrace = -7;
  short pos = 0;
  bool guardsIntact() const { return guardAfterReadings == -7 && guardAfterTrace == -7; }
};

}  // namespace

class TestProtocolDecoding : public QObject {
  Q_OBJECT
 private slots:
  void readingCodes_data();
  void readingCodes();
  void formatReading_data();
  void formatReading();
  void historyHeading();
  void historyTableWithoutGroups();
  void historyRowNumbers();
  void historyShortBlockEndsWithNote_data();
  void historyShortBlockEndsWithNote();
  void historyShortBlockInExactHeapBuffer();
  void ringSmallestWindowWraps();
  void ringSmallerWindowResetsPosition();
  void ringLargestWindowStaysInside();
  void ringOddPositionsStayInside();
  void fullScale_data();
  void fullScale();
};

void TestProtocolDecoding::readingCodes_data() {
  QTest::addColumn<QList<int>>("codes");
  QTest::addColumn<int>("high");
  QTest::addColumn<int>("low");
  QTest::addColumn<QString>("live");
  QTest::addColumn<bool>("valid");
  QTest::addColumn<float>("milliAmps");
  QTest::addColumn<QString>("history");

  auto row = [](const char *name, QList<int> codes, int high, int low, const char *live, bool valid, float mA,
                const char *history) {
    QTest::newRow(name) << codes << high << low << QString::fromUtf8(live) << valid << mA
                        << QString::fromUtf8(history);
  };
  // Value bytes 12, 34 through every row of the code table.
  row("AC mA /100", {1, 2}, 12, 34, "12.34mA", true, 12.34f, "AC 12.34 mA");
  row("AC mA /10", {3, 4}, 12, 34, "123.4mA", true, 123.4f, "AC 123.4 mA");
  row("AC mA /1000", {10}, 12, 34, "1.234mA", true, 1.234f, "AC 1.234mA");
  row("AC A /100", {5, 6}, 12, 34, "12.34A", true, 12340.0f, "AC 12.34 A");
  row("AC A /10", {7, 8}, 12, 34, "123.4A", true, 123400.0f, "AC 123.4 A");
  row("AC A /1000", {11}, 12, 34, "1.234A", true, 1234.0f, "AC 1.234A");
  row("AC A whole", {12}, 12, 34, "1234A", true, 1234000.0f, "AC 1234 A");
  row("DC A /10", {13, 14, 15}, 12, 34, "123.4A", true, 123400.0f, "DC 123.4 A");
  row("DC A whole", {16}, 12, 34, "1234A", true, 1234000.0f, "DC 1234 A");
  row("DC 17 negative", {17}, 12, 34, "-123.4A", true, 123400.0f, "DC -123.4 A");
  row("DC negative /10", {18, 19}, 12, 34, "-123.4A", true, 123400.0f, "DC -123.4 A");
  row("DC negative whole", {20}, 12, 34, "-1234A", true, 1234000.0f, "DC -1234 A");
  row("overload", {9}, 12, 34, "0L", true, 0.0f, "0L");
  row("invalid", QList<int>{0} + CodesFrom(21, 255), 12, 34, "ERROR", false, 0.0f, "ERROR");
  // Particular values.
  row("three decimals 99 99", {10}, 99, 99, "9.999mA", true, 9.999f, "AC 9.999mA");
  row("three decimals 1 5", {10}, 1, 5, "0.105mA", true, 0.105f, "AC 0.105mA");
  row("smallest mA", {10}, 0, 1, "0.001mA", true, 0.001f, "AC 0.001mA");
  row("whole 0 5", {12}, 0, 5, "5A", true, 5000.0f, "AC 5 A");
  row("whole 2 50", {12}, 2, 50, "250A", true, 250000.0f, "AC 250 A");
  row("17 zero has no sign", {17}, 0, 0, "0A", true, 0.0f, "DC 0 A");
  row("17 half", {17}, 0, 5, "-0.5A", true, 500.0f, "DC -0.5 A");
  row("18 zero keeps sign", {18}, 0, 0, "-0A", true, 0.0f, "DC -0 A");
  row("19 tenths", {19}, 0, 7, "-0.7A", true, 700.0f, "DC -0.7 A");
  row("20 zero keeps sign", {20}, 0, 0, "-0A", true, 0.0f, "DC -0 A");
  row("largest A", {12}, 99, 99, "9999A", true, 9999000.0f, "AC 9999 A");
  // Value bytes count modulo 100.
  row("bytes 112 134", {1}, 112, 134, "12.34mA", true, 12.34f, "AC 12.34 mA");
  row("bytes 100 200", {1}, 100, 200, "0mA", true, 0.0f, "AC 0 mA");
  row("bytes 255 255", {1}, 255, 255, "55.55mA", true, 55.55f, "AC 55.55 mA");
  row("bytes 199 99", {7}, 199, 99, "999.9A", true, 999900.0f, "AC 999.9 A");
}

void TestProtocolDecoding::readingCodes() {
  QFETCH(QList<int>, codes);
  QFETCH(int, high);
  QFETCH(int, low);
  QFETCH(QString, live);
  QFETCH(bool, valid);
  QFETCH(float, milliAmps);
  QFETCH(QString, history);
  for (int code : codes) {
    const ReadingGroup g = MakeGroup(high, low, code);
    const LiveReading r = DecodeLiveReading(g);
    QCOMPARE(r.caption, live);
    QCOMPARE(r.valid, valid);
    if (valid) QCOMPARE(r.milliAmps, milliAmps);
    QCOMPARE(HistoryReadingText(g), history);
  }
}

void TestProtocolDecoding::formatReading_data() {
  QTest::addColumn<float>("value");
  QTest::addColumn<QString>("text");
  auto row = [](const char *text, float v) { QTest::newRow(text) << v << QString::fromLatin1(text); };
  // The worked examples.
  row("12.34", 12.34f);
  row("0.5", 0.5f);
  row("9.999", 9.999f);
  row("120", 120.0f);
  row("0", 0.0f);
  QTest::newRow("1234567.5") << 1234567.5f << QStringLiteral("1234568");
  // Three decimals, judged on the float's exact value (0.9995f is just below 0.9995).
  QTest::newRow("0.9995f") << 0.9995f << QStringLiteral("0.999");
  QTest::newRow("0.0005f") << 0.0005f << QStringLiteral("0.001");
  QTest::newRow("0.0004") << 0.0004f << QStringLiteral("0");
  QTest::newRow("exact half away from zero") << 0.0625f << QStringLiteral("0.063");
  QTest::newRow("0.1f") << 0.1f << QStringLiteral("0.1");
  QTest::newRow("0.3f") << 0.3f << QStringLiteral("0.3");
  row("0.105", 0.105f);
  row("1234.568", 1234.5678f);
  // Seven significant digits at most, never an exponent.
  QTest::newRow("12345.678") << 12345.678f << QStringLiteral("12345.68");
  row("123456.7", 123456.7f);
  row("99999.99", 99999.99f);
  QTest::newRow("99999.999 is float 100000") << 99999.999f << QStringLiteral("100000");
  QTest::newRow("999999.9375") << 999999.9375f << QStringLiteral("999999.9");
  QTest::newRow("999999.96875 carries") << 999999.96875f << QStringLiteral("1000000");
  QTest::newRow("1000000.125") << 1000000.125f << QStringLiteral("1000000");
  row("9999999", 9999999.0f);
  row("9999000", 9999000.0f);
  QTest::newRow("8388607.5") << 8388607.5f << QStringLiteral("8388608");
  QTest::newRow("16777216") << 16777216.0f << QStringLiteral("16777220");
  QTest::newRow("1e20") << 1e20f << QStringLiteral("100000000000000000000");
  QTest::newRow("largest float") << 3.4028235e38f
                                 << QStringLiteral("340282300000000000000000000000000000000");
  // Signs.
  row("-12.34", -12.34f);
  QTest::newRow("-0.5") << -0.5f << QStringLiteral("-0.5");
  QTest::newRow("negative zero") << -0.0f << QStringLiteral("0");
  QTest::newRow("rounds to zero") << -0.0004f << QStringLiteral("0");
  QTest::newRow("tiny") << 1e-30f << QStringLiteral("0");
}

void TestProtocolDecoding::formatReading() {
  QFETCH(float, value);
  QFETCH(QString, text);
  QCOMPARE(FormatReading(value), text);
}

void TestProtocolDecoding::historyHeading() {
  const QStringList lines = HistoryTableHeading().split(kCrLf);
  QCOMPARE(lines.size(), 3);
  QCOMPARE(lines[0], Spaces(30) + QStringLiteral("氧化锌避雷器带电测试仪测试数据"));
  QVERIFY(lines[1].isEmpty());
  QCOMPARE(lines[2], Spaces(29) + QStringLiteral("组 数") + Spaces(21) + QStringLiteral("数 值"));
  QCOMPARE(lines[2].size(), 56);
}

void TestProtocolDecoding::historyTableWithoutGroups() {
  QCOMPARE(HistoryTableText(Group(1, 2, 3), 0), HistoryTableHeading());
  QCOMPARE(HistoryTableText(QByteArray(), 0), HistoryTableHeading());
}

void TestProtocolDecoding::historyRowNumbers() {
  QByteArray block;
  for (int k = 1; k <= 255; ++k) block += Group(k % 100, 0, k == 7 ? 9 : 1);
  block += Group(1, 1, 1);  // extra bytes past the announced groups are ignored
  const QString text = HistoryTableText(block, 255);
  QVERIFY(!text.endsWith(kCrLf));
  const QStringList lines = text.split(kCrLf);
  QCOMPARE(lines.size(), 3 + 255);
  const QString gap = Spaces(22);
  QCOMPARE(lines[3], Spaces(30) + QStringLiteral("001") + gap + QStringLiteral("AC 1 mA"));
  QCOMPARE(lines[3 + 6], Spaces(30) + QStringLiteral("007") + gap + QStringLiteral("0L"));
  QCOMPARE(lines[3 + 99], Spaces(30) + QStringLiteral("100") + gap + QStringLiteral("AC 0 mA"));
  QCOMPARE(lines[3 + 254], Spaces(30) + QStringLiteral("255") + gap + QStringLiteral("AC 55 mA"));
}

void TestProtocolDecoding::historyShortBlockEndsWithNote_data() {
  QTest::addColumn<int>("bytes");
  QTest::addColumn<int>("announced");
  QTest::addColumn<int>("rows");
  QTest::newRow("empty") << 0 << 4 << 0;
  QTest::newRow("part of one group") << 2 << 1 << 0;
  QTest::newRow("two groups and a byte") << 7 << 5 << 2;
  QTest::newRow("one short of 255") << 762 << 255 << 254;
}

void TestProtocolDecoding::historyShortBlockEndsWithNote() {
  QFETCH(int, bytes);
  QFETCH(int, announced);
  QFETCH(int, rows);
  const QByteArray block(bytes, '\x01');
  const QStringList lines = HistoryTableText(block, announced).split(kCrLf);
  QCOMPARE(lines.size(), 3 + rows + 1);
  QCOMPARE(lines.last(), HistoryMissingGroupsRow(announced, rows));
  QVERIFY(lines.last().startsWith(Spaces(30)));
  QVERIFY(lines.last().contains(QStringLiteral("缺少%1组").arg(announced - rows)));
}

// The block lives in a heap buffer of exactly its size (no terminator behind
// it), so AddressSanitizer reports any read past it.
void TestProtocolDecoding::historyShortBlockInExactHeapBuffer() {
  for (int size = 0; size <= 10; ++size) {
    std::unique_ptr<char[]> raw(new char[size > 0 ? size : 1]);
    for (int i = 0; i < size; ++i) raw[i] = static_cast<char>(i + 1);
    const QByteArray block = QByteArray::fromRawData(raw.get(), size);
    const QStringList lines = HistoryTableText(block, 4).split(kCrLf);
    QCOMPARE(lines.size(), 3 + std::min(size / 3, 4) + (size / 3 < 4 ? 1 : 0));
  }
}

void TestProtocolDecoding::ringSmallestWindowWraps() {
  GuardedRing ring;
  for (int i = 0; i < 17; ++i)
    StoreRingReading(ring.readings, ring.trace, ring.pos, 16, 100.0f + i, 10.0f + i);
  QCOMPARE(ring.pos, short(17));
  for (int i = 0; i < 17; ++i) {
    QCOMPARE(ring.readings[i], 100.0f + i);
    QCOMPARE(ring.trace[i + 1], 10.0f + i);
  }
  // The 18th reading resets the position and is not stored as a reading.
  StoreRingReading(ring.readings, ring.trace, ring.pos, 16, 999.0f, 99.0f);
  QCOMPARE(ring.pos, short(0));
  QCOMPARE(ring.trace[0], 99.0f);
  QCOMPARE(ring.readings[0], 100.0f);
  QVERIFY(std::find(ring.readings.begin(), ring.readings.end(), 999.0f) == ring.readings.end());
  // The 19th starts the next sweep.
  StoreRingReading(ring.readings, ring.trace, ring.pos, 16, 555.0f, 55.0f);
  QCOMPARE(ring.readings[0], 555.0f);
  QCOMPARE(ring.trace[1], 55.0f);
  QCOMPARE(ring.pos, short(1));
  QVERIFY(ring.guardsIntact());
}

void TestProtocolDecoding::ringSmallerWindowResetsPosition() {
  GuardedRing ring;
  ring.pos = 100;
  StoreRingReading(ring.readings, ring.trace, ring.pos, 16, 5.0f, 6.0f);
  QCOMPARE(ring.pos, short(0));
  QCOMPARE(ring.trace[0], 6.0f);
  QCOMPARE(ring.readings[100], 0.0f);
  // Position 16 is still inside a 16-point window (N + 1 = 17 positions).
  ring.pos = 16;
  StoreRingReading(ring.readings, ring.trace, ring.pos, 16, 7.0f, 8.0f);
  QCOMPARE(ring.readings[16], 7.0f);
  QCOMPARE(ring.trace[17], 8.0f);
}

void TestProtocolDecoding::ringLargestWindowStaysInside() {
  GuardedRing ring;
  for (int i = 0; i < 500; ++i) StoreRingReading(ring.readings, ring.trace, ring.pos, 500, 1.0f, 2.0f);
  QCOMPARE(ring.pos, short(500));
  // The 501st reading fills the last reading slot; its trace point would be
  // at 501, so it goes to 0 and the position starts over.
  StoreRingReading(ring.readings, ring.trace, ring.pos, 500, 3.0f, 4.0f);
  QCOMPARE(ring.readings[500], 3.0f);
  QCOMPARE(ring.trace[0], 4.0f);
  QCOMPARE(ring.pos, short(0));
  QVERIFY(ring.guardsIntact());
  StoreRingReading(ring.readings, ring.trace, ring.pos, 500, 5.0f, 6.0f);
  QCOMPARE(ring.readings[0], 5.0f);
  QCOMPARE(ring.trace[1], 6.0f);
  // Many more sweeps never leave the arrays.
  for (int i = 0; i < 2000; ++i) {
    StoreRingReading(ring.readings, ring.trace, ring.pos, 500, 1.0f, 2.0f);
    QVERIFY(ring.pos >= 0 && ring.pos <= 500);
  }
  QVERIFY(ring.guardsIntact());
}

void TestProtocolDecoding::ringOddPositionsStayInside() {
  for (short start : {short(-1), short(-32768), short(501), short(32767)}) {
    for (int window : {16, 500, 1000, 0, -5}) {
      GuardedRing ring;
      ring.pos = start;
      for (int i = 0; i < 3; ++i) StoreRingReading(ring.readings, ring.trace, ring.pos, window, 1.0f, 2.0f);
      QVERIFY(ring.guardsIntact());
      QVERIFY(ring.pos >= 0 && ring.pos <= 500);
    }
  }
}

void TestProtocolDecoding::fullScale_data() {
  QTest::addColumn<int>("position");
  QTest::addColumn<float>("chartUnits");
  QTest::addColumn<QString>("caption");
  // A reading of 100 mA at each position of the full-scale slider.
  QTest::newRow("0") << 0 << 0.1f << "100A";
  QTest::newRow("1") << 1 << 1.0f << "10A";
  QTest::newRow("2") << 2 << 10.0f << "1A";
  QTest::newRow("3") << 3 << 20.0f << "500mA";
  QTest::newRow("4") << 4 << 100.0f << "100mA";
  QTest::newRow("5") << 5 << 1000.0f << "10mA";
  QTest::newRow("6") << 6 << 10000.0f << "1mA";
  QTest::newRow("7 is x500") << 7 << 50000.0f << "0.5mA";
  QTest::newRow("8") << 8 << 100000.0f << "0.1mA";
  QTest::newRow("9 is x5000") << 9 << 500000.0f << "0.05mA";
}

void TestProtocolDecoding::fullScale() {
  QFETCH(int, position);
  QFETCH(float, chartUnits);
  QFETCH(QString, caption);
  QCOMPARE(ToChartUnits(100.0f, position), chartUnits);
  QCOMPARE(FullScaleCaption(position), caption);
}

QTEST_APPLESS_MAIN(TestProtocolDecoding)
#include "test_protocol_decoding.moc"
