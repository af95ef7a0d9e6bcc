// The trend chart drawn on bare images and checked at the pixels where the
// values, the initial line and the bands must land (found through
// LayoutTrend); the bay view's series; and arrester-cli trend writing PNG and
// SVG from an archive made here.
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cmath>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "reports/trend_chart.h"
#include "support/cli_run.h"

namespace {

const QRectF kArea(0, 0, 800, 480);

QPoint Pixel(double x, double y) { return QPoint(int(std::floor(x)), int(std::floor(y))); }

TrendPoint Value(const QDate &date, double mA) { return {date, ResultReading::Value, mA}; }

// A grey as the dashed initial line is drawn (antialiased: any darkness).
bool LineGrey(QRgb c) {
  return qRed(c) < 200 && std::abs(qRed(c) - qGreen(c)) < 12 && std::abs(qGreen(c) - qBlue(c)) < 12;
}

// How many columns of the plot show the line's grey within a pixel of `y`.
int GreyColumns(const QImage &image, const TrendLayout &l, double y) {
  int n = 0;
  for (int x = int(l.plot.left()) + 2; x < int(l.plot.right()) - 2; ++x) {
    bool grey = false;
    for (int dy = -1; dy <= 1; ++dy) grey = grey || LineGrey(image.pixel(x, int(std::floor(y)) + dy));
    n += grey;
  }
  return n;
}

}  // namespace

Q_DECLARE_METATYPE(QList<TrendPoint>)

class TestTrendChart : public QObject {
  Q_OBJECT
 private slots:
  void pointsAtTheirPixels_data();
  void pointsAtTheirPixels();
  void bandsAndInitialLine_data();
  void bandsAndInitialLine();
  void unreadableResultMarkedAtTheTop_data();
  void unreadableResultMarkedAtTheTop();
  void bayViewOneSeriesPerPhase();
  void cliWritesPngAndSvg();
};

void TestTrendChart::pointsAtTheirPixels_data() {
  QTest::addColumn<QList<TrendPoint>>("points");
  QTest::addColumn<int>("minDays");  // the date axis is at least this wide
  QTest::newRow("years") << QList<TrendPoint>{Value({2018, 5, 10}, 0.41), Value({2020, 6, 1}, 0.47),
                                              Value({2022, 4, 20}, 0.62), Value({2025, 11, 3}, 0.93)}
                         << 2700;
  QTest::newRow("one result: about a month") << QList<TrendPoint>{Value({2024, 3, 15}, 0.5)} << 28;
  QTest::newRow("days apart") << QList<TrendPoint>{Value({2024, 3, 1}, 1.8), Value({2024, 3, 9}, 2.4),
                                                   Value({2024, 3, 20}, 0.3)}
                              << 28;
  QTest::newRow("large values") << QList<TrendPoint>{Value({2015, 1, 1}, 120), Value({2016, 1, 1}, 480)}
                                << 365;
}

void TestTrendChart::pointsAtTheirPixels() {
  QFETCH(QList<TrendPoint>, points);
  QFETCH(int, minDays);
  TrendChart chart;
  chart.title = QStringLiteral("城东站  110kV  2号进线  A 相");
  chart.series = {{QStringLiteral("A 相"), points}};
  chart.initialMilliAmps = 0.4;
  const TrendLayout l = LayoutTrend(chart, kArea);
  QVERIFY(l.firstDate.daysTo(l.lastDate) >= minDays);
  QVERIFY(kArea.contains(l.plot));
  QCOMPARE(l.minMilliAmps, 0.0);
  const QImage image = TrendImage(chart, kArea.size().toSize());
  QCOMPARE(image.size(), QSize(800, 480));
  for (const TrendPoint &p : points) {
    const QPointF at(l.x(p.date), l.y(*p.milliAmps));
    // Inside the plot, away from its edges, and in the series' colour.
    QVERIFY(l.plot.adjusted(4, 4, -4, -4).contains(at));
    QCOMPARE(QColor(image.pixel(Pixel(at.x(), at.y()))), TrendSeriesColor(0));
  }
  // Each axis covers its values with a little room above: the highest
  // value is below the top, and the top within a few ticks of it.
  double high = 0;
  for (const TrendPoint &p : points) high = std::max(high, *p.milliAmps);
  high = std::max(high, 0.4 * 1.5);
  QVERIFY(l.maxMilliAmps > high);
  QVERIFY(l.maxMilliAmps <= high + 2 * l.milliAmpsStep);
}

void TestTrendChart::bandsAndInitialLine_data() {
  QTest::addColumn<double>("initial");
  QTest::addColumn<double>("attentionPct");
  QTest::addColumn<double>("abnormalPct");
  QTest::newRow("30 / 50") << 0.5 << 30.0 << 50.0;
  QTest::newRow("20 / 100") << 1.2 << 20.0 << 100.0;
}

void TestTrendChart::bandsAndInitialLine() {
  QFETCH(double, initial);
  QFETCH(double, attentionPct);
  QFETCH(double, abnormalPct);
  TrendChart chart;
  chart.title = QStringLiteral("城东站  110kV  2号进线  B 相");
  // Points at the ends of the date axis only, so the middle is clear.
  chart.series = {
      {QStringLiteral("B 相"), {Value({2019, 1, 1}, initial), Value({2024, 1, 1}, initial * 1.1)}}};
  chart.initialMilliAmps = initial;
  chart.thresholds.initialAttentionPct = attentionPct;
  chart.thresholds.initialAbnormalPct = abnormalPct;
  const TrendLayout l = LayoutTrend(chart, kArea);
  const QImage image = TrendImage(chart, kArea.size().toSize());
  const double attention = initial * (1 + attentionPct / 100), abnormal = initial * (1 + abnormalPct / 100);
  QVERIFY(l.maxMilliAmps > abnormal);
  // Sampled half way across, and a quarter of the way from each end of a band.
  const double x = l.plot.center().x() + 7;
  auto at = [&](double mA) { return QColor(image.pixel(Pixel(x, l.y(mA)))); };
  QCOMPARE(at(attention + (abnormal - attention) / 4), kTrendAttentionBand);
  QCOMPARE(at(abnormal - (abnormal - attention) / 4), kTrendAttentionBand);
  QCOMPARE(at(abnormal + (l.maxMilliAmps - abnormal) / 4), kTrendAbnormalBand);
  QCOMPARE(at((initial + attention) / 2), QColor(Qt::white));
  // The band's edges within a pixel of their levels.
  QCOMPARE(QColor(image.pixel(Pixel(x, l.y(attention) + 1.5))), QColor(Qt::white));
  QCOMPARE(QColor(image.pixel(Pixel(x, l.y(abnormal) + 1.5))), kTrendAttentionBand);
  QCOMPARE(QColor(image.pixel(Pixel(x, l.y(abnormal) - 1.5))), kTrendAbnormalBand);
  // The initial value: a dashed grey line at its height, and none elsewhere.
  const int columns = int(l.plot.width()) - 4;
  const int onLine = GreyColumns(image, l, l.y(initial));
  QVERIFY2(onLine > columns / 3 && onLine < columns * 9 / 10, qPrintable(QString::number(onLine)));
  QCOMPARE(GreyColumns(image, l, l.y((initial + attention) / 2)), 0);
}

void TestTrendChart::unreadableResultMarkedAtTheTop_data() {
  QTest::addColumn<int>("reading");
  QTest::newRow("overload") << int(ResultReading::Overload);
  QTest::newRow("invalid") << int(ResultReading::Invalid);
}

void TestTrendChart::unreadableResultMarkedAtTheTop() {
  QFETCH(int, reading);
  const QDate last(2024, 6, 1);
  TrendChart chart;
  chart.title = QStringLiteral("城东站  110kV  10号进线  A 相");
  chart.series = {
      {QStringLiteral("A 相"),
       {Value({2020, 6, 1}, 0.46), Value({2022, 6, 1}, 0.48), {last, ResultReading(reading), {}}}}};
  chart.initialMilliAmps = 0.47;
  const TrendLayout l = LayoutTrend(chart, kArea);
  QCOMPARE(l.lastDate.daysTo(last) < 0, true);  // on the axis, not beyond it
  const QImage image = TrendImage(chart, kArea.size().toSize());
  const QColor colour = TrendSeriesColor(0);
  // Around its date: the series' colour near the top edge (the mark and its
  // word), nowhere below, so no value and no line lead to it.
  int top = 0, below = 0;
  const int x = int(l.x(last));
  for (int dx = -6; dx <= 6; ++dx)
    for (int y = int(l.plot.top()); y < int(l.plot.bottom()); ++y)
      if (QColor(image.pixel(x + dx, y)) == colour) ++(y < l.plot.top() + 30 ? top : below);
  QVERIFY(top > 5);
  QCOMPARE(below, 0);
  QCOMPARE(QColor(image.pixel(Pixel(l.x({2022, 6, 1}), l.y(0.48)))), colour);
}

// The three phases of one bay, each its own series in its own colour; a
// retired arrester never tested and another bay's arrester are left out.
// Rounds come newest first (as the archive lists them); two of one day are
// ordered by when they were made.
void TestTrendChart::bayViewOneSeriesPerPhase() {
  auto arrester = [](const char *uuid, const char *bay, const char *phase, bool retired = false) {
    ArresterRecord a;
    a.uuid = QString::fromLatin1(uuid);
    a.station = QStringLiteral("城东站");
    a.voltageLevel = QStringLiteral("220kV");
    a.bay = QString::fromUtf8(bay);
    a.phase = QString::fromLatin1(phase);
    a.serialNumber = a.uuid.toUpper();
    a.retired = retired;
    return a;
  };
  const QList<ArresterRecord> arresters{
      arrester("c", "1号主变", "C"), arrester("a", "1号主变", "A"), arrester("b", "1号主变", "B"),
      arrester("old-a", "1号主变", "A", true), arrester("x", "2号主变", "A")};
  auto round = [](const char *uuid, QDate date, qint64 modifiedMs) {
    RoundRecord r;
    r.uuid = QString::fromLatin1(uuid);
    r.station = QStringLiteral("城东站");
    r.date = date;
    r.modifiedMs = modifiedMs;
    return r;
  };
  const QList<RoundRecord> rounds{round("r3-remade", {2023, 5, 8}, 2000), round("r3", {2023, 5, 8}, 1000),
                                  round("r2", {2021, 5, 6}, 5000), round("r1", {2019, 5, 7}, 9000)};
  QList<ResultRecord> results;
  const double values[3][4] = {{0.60, 0.62, 1.10, 1.25}, {0.81, 0.83, 0.84, 0.85}, {0.39, 0.40, 0.42, 0.40}};
  const char *roundIds[4] = {"r1", "r2", "r3", "r3-remade"};
  for (int phase = 0; phase < 3; ++phase)
    for (int k = 0; k < 4; ++k) {
      ResultRecord r;
      r.roundUuid = QString::fromLatin1(roundIds[k]);
      r.arresterUuid = QString(QLatin1Char("abc"[phase]));
      r.milliAmps = values[phase][k];
      results.append(r);
    }
  ResultRecord other;
  other.roundUuid = QStringLiteral("r1");
  other.arresterUuid = QStringLiteral("x");
  other.milliAmps = 3.0;
  results.append(other);

  const TrendChart chart = BayTrend(QStringLiteral("城东站"), QStringLiteral("220kV"),
                                    QStringLiteral("1号主变"), arresters, rounds, results, Thresholds());
  QCOMPARE(chart.series.size(), 3);
  QVERIFY(!chart.initialMilliAmps);
  const TrendLayout l = LayoutTrend(chart, kArea);
  QVERIFY(l.maxMilliAmps < 2);
  const QImage image = TrendImage(chart, kArea.size().toSize());
  for (int phase = 0; phase < 3; ++phase) {
    const TrendSeries &s = chart.series[phase];
    QCOMPARE(s.name, QString(QLatin1Char("ABC"[phase])) + QStringLiteral(" 相"));
    QCOMPARE(s.points.size(), 4);
    for (int k = 0; k < 4; ++k) QCOMPARE(*s.points[k].milliAmps, values[phase][k]);  // oldest first
    // The first two rounds, far apart, show each phase's own marker.
    for (int k = 0; k < 2; ++k)
      QCOMPARE(QColor(image.pixel(Pixel(l.x(s.points[k].date), l.y(values[phase][k])))),
               TrendSeriesColor(phase));
  }
  // The drifting phase A is drawn where it drifted to.
  QCOMPARE(QColor(image.pixel(Pixel(l.x({2023, 5, 8}), l.y(1.25)))), TrendSeriesColor(0));
  // Three colours, three markers: all distinct.
  QVERIFY(TrendSeriesColor(0) != TrendSeriesColor(1) && TrendSeriesColor(1) != TrendSeriesColor(2) &&
          TrendSeriesColor(0) != TrendSeriesColor(2));

  // One arrester's own chart has its label as the title.
  const TrendChart one = ArresterTrend(arresters[1], rounds, results, Thresholds());
  QCOMPARE(one.title, QStringLiteral("城东站  220kV  1号主变  A 相  出厂编号 A"));
  QCOMPARE(one.series.size(), 1);
  QCOMPARE(one.series[0].points.size(), 4);
  QCOMPARE(*one.series[0].points.last().milliAmps, 1.25);
}

// The command on an archive of three arresters and two rounds: the PNG is
// the chart the library draws from the same data at the size asked for, the
// SVG is well-formed XML that names the arrester; then the refusals.
void TestTrendChart::cliWritesPngAndSvg() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("archive.db"));
  ArresterRecord first;
  QList<ArresterRecord> arresters;
  QList<RoundRecord> rounds;
  QList<ResultRecord> results;
  {
    Archive archive;
    QVERIFY2(archive.open(path), qPrintable(archive.errorText()));
    AssetStore store(archive);
    QList<ArresterRecord> rows;
    for (const char *phase : {"A", "B", "C"}) {
      ArresterRecord a;
      a.station = QStringLiteral("城西站");
      a.voltageLevel = QStringLiteral("110kV");
      a.bay = QStringLiteral("3号进线");
      a.phase = QString::fromLatin1(phase);
      a.serialNumber = QStringLiteral("W-") + a.phase;
      a.initialMilliAmps = 0.5;
      rows.append(a);
    }
    QVERIFY2(store.importArresters(rows), qPrintable(store.errorText()));
    arresters = *store.arresters(QStringLiteral("城西站"));
    int n = 0;
    for (const QDate &date : {QDate(2021, 4, 12), QDate(2024, 4, 15)}) {
      RoundRecord r;
      r.station = QStringLiteral("城西站");
      r.date = date;
      QVERIFY2(store.saveRound(r), qPrintable(store.errorText()));
      QList<ResultRecord> values;
      for (const ArresterRecord &a : arresters) {
        ResultRecord v;
        v.roundUuid = r.uuid;
        v.arresterUuid = a.uuid;
        v.milliAmps = 0.5 + 0.1 * ++n;
        values.append(v);
      }
      QVERIFY2(store.saveResults(values), qPrintable(store.errorText()));
    }
    rounds = *store.rounds();
    results = *store.allResults();
    first = arresters.first();
  }
  QCOMPARE(first.phase, QStringLiteral("A"));
  QDir(dir.path()).mkpath(QStringLiteral("config"));
  const QStringList env{QStringLiteral("XDG_CONFIG_HOME=") + dir.filePath(QStringLiteral("config"))};
  auto cli = [&](const QStringList &args) {
    QProcess p;
    testsupport::StartCli(p, args, path, env);
    return testsupport::FinishCli(p, 60000);
  };
  const QString id = first.uuid.left(8);
  const QString png = dir.filePath(QStringLiteral("trend.png")),
                svg = dir.filePath(QStringLiteral("bay.svg"));

  testsupport::CliRun run =
      cli({QStringLiteral("trend"), id, QStringLiteral("--png"), png, QStringLiteral("--width"),
           QStringLiteral("640"), QStringLiteral("--height"), QStringLiteral("400")});
  QVERIFY2(run.exitCode == 0, qPrintable(run.err));
  const QImage image(png);
  QCOMPARE(image.size(), QSize(640, 400));
  const TrendChart chart = ArresterTrend(first, rounds, results, Thresholds());
  QCOMPARE(chart.series[0].points.size(), 2);
  QCOMPARE(image.convertToFormat(QImage::Format_RGB32), TrendImage(chart, QSize(640, 400)));

  run = cli({QStringLiteral("trend"), id, QStringLiteral("--bay"), QStringLiteral("--svg"), svg});
  QVERIFY2(run.exitCode == 0, qPrintable(run.err));
  QFile file(svg);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  QString text;
  // The texts drawn, in order (a line of mixed scripts comes in several runs).
  while (!xml.atEnd())
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
      text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
  QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  QVERIFY2(text.contains(QStringLiteral("城西站")) && text.contains(QStringLiteral("3号进线")),
           qPrintable(text));
  for (const char *phase : {"A 相", "B 相", "C 相"}) QVERIFY(text.contains(QString::fromUtf8(phase)));

  // Refused: no output named, an arrester not known, a size out of range.
  const QString missing = dir.filePath(QStringLiteral("missing.png"));
  for (const QStringList &args :
       {QStringList{QStringLiteral("trend"), id},
        QStringList{QStringLiteral("trend"), QStringLiteral("ffffffff"), QStringLiteral("--png"), missing},
        QStringList{QStringLiteral("trend"), id, QStringLiteral("--png"), missing, QStringLiteral("--width"),
                    QStringLiteral("20")}}) {
    run = cli(args);
    QVERIFY2(run.exitCode == 2, qPrintable(args.join(QLatin1Char(' ')) + QLatin1Char(' ') + run.err));
    QVERIFY(!QFile::exists(missing));
  }
  // A file that cannot be written: exit 1.
  run = cli({QStringLiteral("trend"), id, QStringLiteral("--png"),
             dir.filePath(QStringLiteral("no/such/dir.png"))});
  QCOMPARE(run.exitCode, 1);
}

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  TestTrendChart test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_trend_chart.moc"
