// The arrester register, test rounds and their judgement through the real
// arrester-cli: a register imported from CSV (GBK with Chinese column names,
// UTF-8 with English ones), one round typed by hand, one filled from a
// download of meter-sim's stored groups, the judgement compared figure by
// figure with one computed here, and the whole register synced to the team
// server. And the refusals: data that is not stored, exit 6.
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <unistd.h>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/judgement.h"
#include "documents/text_export.h"
#include "support/cli_run.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::CliRun;

namespace {

constexpr int kCliTimeoutMs = 60000;

CliRun Cli(const QString &archive, const QStringList &args) {
  QProcess p;
  testsupport::StartCli(p, args, archive, {}, {QStringLiteral("PGPASSWORD")});
  return testsupport::FinishCli(p, kCliTimeoutMs);
}

bool WriteFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// RFC 4180 records (CR LF, quoted fields); nothing when the text breaks a rule.
std::optional<QList<QStringList>> ParseCsv(const QString &text) {
  QList<QStringList> records;
  QStringList record;
  QString field;
  bool quoted = false, wasQuoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c != QLatin1Char('"')) {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
        field += text[++i];
      } else {
        quoted = false;
      }
    } else if (c == QLatin1Char('"') && field.isEmpty() && !wasQuoted) {
      quoted = wasQuoted = true;
    } else if (c == QLatin1Char(',')) {
      record << field;
      field.clear();
      wasQuoted = false;
    } else if (c == QLatin1Char('\r') && text.mid(i, 2) == QLatin1String("\r\n")) {
      records << (record << field);
      record.clear();
      field.clear();
      wasQuoted = false;
      ++i;
    } else if (c == QLatin1Char('"') || c == QLatin1Char('\n') || wasQuoted) {
      return std::nullopt;
    } else {
      field += c;
    }
  }
  if (quoted || !field.isEmpty() || !record.isEmpty()) return std::nullopt;
  return records;
}

// One arrester of the test's register, in test order, with what it measures
// in round one (typed, in the way given) and round two (a meter group).
struct Arrester {
  const char *station, *level, *bay, *phase, *serial;
  double initial;  // 0: none
  const char *typed;
  double first;
  const char *group;  // a line of meter-sim's history file
  double second;      // -1: overload
};

// 城东站 in test order: 220 kV before 110 kV, bay 2 before bay 10.
const Arrester kEast[] = {
    {"城东站", "220kV", "1号主变", "A", "S101", 0.80, "0.82", 0.82, "0.850mA", 0.850},
    {"城东站", "220kV", "1号主变", "B", "S102", 0.82, "0.84mA", 0.84, "0.870mA", 0.870},
    {"城东站", "220kV", "1号主变", "C", "S103", 0.81, "0.00083A", 0.83, "1.250mA", 1.250},
    {"城东站", "110kV", "2号进线", "A", "S201", 0.50, "0.40", 0.40, "0.560mA", 0.560},
    {"城东站", "110kV", "2号进线", "B", "S202", 0.52, "0.51", 0.51, "0.540mA", 0.540},
    {"城东站", "110kV", "2号进线", "C", "S203", 0, "0.50 mA", 0.50, "0.530mA", 0.530},
    {"城东站", "110kV", "10号进线", "A", "S301", 0.47, "0.46", 0.46, "OL", -1},
    {"城东站", "110kV", "10号进线", "B", "S302", 0.45, "0.48", 0.48, "0.610mA", 0.610},
    {"城东站", "110kV", "10号进线", "C", "S303", 0.31, "0.32", 0.32, "0.300mA", 0.300},
};

std::optional<double> Median(QList<double> v) {
  if (v.size() < 2) return std::nullopt;
  std::sort(v.begin(), v.end());
  const qsizetype n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// What this test expects of one row of round two's judgement.
struct Expected {
  std::optional<double> initialPct, previousPct, phasePct;
  QString verdict;
};

Expected Expect(int k, const Thresholds &t) {
  const Arrester &a = kEast[k];
  Expected e;
  if (a.second < 0) {
    e.verdict = QStringLiteral("异常");
    return e;
  }
  QList<double> bay;
  for (const Arrester &b : kEast)
    if (QLatin1String(b.bay) == QLatin1String(a.bay) && b.second >= 0) bay << b.second;
  if (a.initial > 0) e.initialPct = (a.second - a.initial) / a.initial * 100;
  e.previousPct = (a.second - a.first) / a.first * 100;
  if (const std::optional<double> m = Median(bay)) e.phasePct = (a.second - *m) / *m * 100;
  int worst = 0;
  if (e.initialPct && *e.initialPct >= t.initialAbnormalPct) worst = 2;
  if (e.initialPct && *e.initialPct >= t.initialAttentionPct) worst = std::max(worst, 1);
  if (*e.previousPct >= t.previousAttentionPct) worst = std::max(worst, 1);
  if (e.phasePct && std::fabs(*e.phasePct) >= t.phaseAttentionPct) worst = std::max(worst, 1);
  e.verdict = QStringList{QStringLiteral("正常"), QStringLiteral("注意"), QStringLiteral("异常")}[worst];
  return e;
}

// The register, rounds and results of an archive as one text, for comparing
// two archives (results in a fixed order).
QString RegisterContents(Archive &archive) {
  AssetStore store(archive);
  QStringList lines;
  const std::optional<QList<ArresterRecord>> arresters = store.arresters();
  const std::optional<QList<RoundRecord>> rounds = store.rounds();
  const std::optional<QList<ResultRecord>> results = store.allResults();
  if (!arresters || !rounds || !results) return QStringLiteral("failed: ") + store.errorText();
  const auto number = [](const std::optional<double> &v) {
    return v ? QString::number(*v, 'g', 17) : QString();
  };
  for (const ArresterRecord &a : *arresters)
    lines << QStringList{a.uuid,
                         a.station,
                         a.voltageLevel,
                         a.bay,
                         a.phase,
                         a.model,
                         a.serialNumber,
                         a.maker,
                         a.commissioned.toString(Qt::ISODate),
                         number(a.initialMilliAmps),
                         a.initialDate.toString(Qt::ISODate),
                         QString::number(a.retired),
                         a.note,
                         QString::number(a.modifiedMs)}
                 .join(QLatin1Char('|'));
  for (const RoundRecord &r : *rounds)
    lines << QStringList{r.uuid,
                         r.station,
                         r.date.toString(Qt::ISODate),
                         r.tester,
                         r.instrument,
                         r.weather,
                         number(r.temperatureC),
                         number(r.humidityPercent),
                         r.note,
                         r.hostName,
                         r.userName,
                         QString::number(r.modifiedMs)}
                 .join(QLatin1Char('|'));
  QStringList resultLines;
  for (const ResultRecord &r : *results)
    resultLines << QStringList{r.roundUuid,
                               r.arresterUuid,
                               ResultReadingName(r.reading),
                               number(r.milliAmps),
                               ResultSourceName(r.source),
                               r.sourceUuid,
                               QString::number(r.sourceGroup),
                               r.sourceStatistic,
                               number(r.operatingKv),
                               r.note,
                               QString::number(r.modifiedMs)}
                       .join(QLatin1Char('|'));
  resultLines.sort();
  return (lines + resultLines).join(QLatin1Char('\n'));
}

// The value of `key` in a key=value connection string.
QString ConnValue(const QString &conn, const QString &key) {
  const QRegularExpression re(QStringLiteral("(?:^|\\s)%1=(\\S+)").arg(key));
  return re.match(conn).captured(1);
}

// Runs one statement on the test server's maintenance database.
bool ServerExec(const QString &sql) {
  const QString base = qEnvironmentVariable("ARRESTER_TEST_PG");
  bool ok = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
    db.setHostName(ConnValue(base, QStringLiteral("host")));
    db.setPort(ConnValue(base, QStringLiteral("port")).toInt());
    db.setUserName(ConnValue(base, QStringLiteral("user")));
    db.setDatabaseName(QStringLiteral("postgres"));
    if (db.open()) {
      QSqlQuery q(db);
      ok = q.exec(sql);
      if (!ok) qWarning() << sql << q.lastError().text();
    } else {
      qWarning() << "test server:" << db.lastError().text();
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("admin"));
  return ok;
}

}  // namespace

class TestAssessmentCli : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  int archives_ = 0;

  QString freshArchive() { return dir_.filePath(QStringLiteral("archive-%1.sqlite").arg(++archives_)); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    testsupport::makeTemporaryPortsDir();
    // The judgement's settings file of the user running the tests stays out.
    qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
  }

  // Register, a round typed by hand, a round from a download, the judgement
  // with the default thresholds and with others, and the sync.
  void registerRoundsJudgementAndSync() {
    const QString archive = freshArchive();
    // 城东站 in GBK with Chinese column names, rows out of test order, one
    // retired arrester that the test order leaves out.
    QString east = QStringLiteral("变电站,电压等级,间隔,相别,型号,出厂编号,初始值(mA),初始值日期,退役\r\n");
    for (int k : {4, 0, 8, 2, 6, 1, 5, 3, 7}) {
      const Arrester &a = kEast[k];
      east += QStringLiteral("%1,%2,%3,%4,YH10W,%5,%6,%7,否\r\n")
                  .arg(QString::fromUtf8(a.station), QString::fromUtf8(a.level), QString::fromUtf8(a.bay),
                       QString::fromUtf8(a.phase), QString::fromUtf8(a.serial),
                       a.initial > 0 ? QString::number(a.initial) : QString(),
                       a.initial > 0 ? QStringLiteral("2019-06-01") : QString());
    }
    east += QStringLiteral("城东站,110kV,2号进线,A,YH5W,S200,0.49,2015-04-01,是\r\n");
    const QString eastCsv = dir_.filePath(QStringLiteral("east.csv"));
    QVERIFY(WriteFile(eastCsv, EncodeGbk(east)));
    const QString westCsv = dir_.filePath(QStringLiteral("west.csv"));
    QVERIFY(WriteFile(westCsv, QByteArray("\xEF\xBB\xBF") +
                                   QStringLiteral("station,voltage_level,bay,phase,serial,initial_ma\n"
                                                  "西郊站,35kV,3号出线,A,W1,0.3mA\n"
                                                  "西郊站,35kV,3号出线,B,W2,0.0003A\n"
                                                  "西郊站,35kV,3号出线,C,W3,0.31\n")
                                       .toUtf8()));
    CliRun r = Cli(archive, {QStringLiteral("assets"), QStringLiteral("import"), eastCsv});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("added 10, updated 0, unchanged 0\n"));
    r = Cli(archive, {QStringLiteral("assets"), QStringLiteral("import"), westCsv});
    QCOMPARE(r.out, QStringLiteral("added 3, updated 0, unchanged 0\n"));
    r = Cli(archive, {QStringLiteral("assets"), QStringLiteral("import"), eastCsv});
    QCOMPARE(r.out, QStringLiteral("added 0, updated 0, unchanged 10\n"));
    // A file without the initial values changes the models and keeps them.
    const QString westModels = dir_.filePath(QStringLiteral("west-models.csv"));
    QVERIFY(
        WriteFile(westModels, QStringLiteral("station,voltage_level,bay,phase,serial,model\n"
                                             "西郊站,35kV,3号出线,A,W1,Y5W\n西郊站,35kV,3号出线,B,W2,Y5W\n"
                                             "西郊站,35kV,3号出线,C,W3,Y5W\n")
                                  .toUtf8()));
    r = Cli(archive, {QStringLiteral("assets"), QStringLiteral("import"), westModels});
    QCOMPARE(r.out, QStringLiteral("added 0, updated 3, unchanged 0\n"));
    r = Cli(archive, {QStringLiteral("assets"), QStringLiteral("list"), QStringLiteral("--station"),
                      QStringLiteral("西郊站"), QStringLiteral("--csv"), QStringLiteral("-")});
    const std::optional<QList<QStringList>> west = ParseCsv(r.out);
    QVERIFY2(west && west->size() == 4, qPrintable(r.out));
    const int model = int(west->first().indexOf(QStringLiteral("型号"))),
              initial = int(west->first().indexOf(QStringLiteral("初始值")));
    for (int k = 1; k <= 3; ++k) {
      QCOMPARE(west->at(k).value(model), QStringLiteral("Y5W"));
      QCOMPARE(west->at(k).value(initial).toDouble(), k == 3 ? 0.31 : 0.3);
    }

    // The test order: each line's number, ID and serial number.
    r = Cli(archive, {QStringLiteral("assets"), QStringLiteral("order"), QStringLiteral("--station"),
                      QStringLiteral("城东站")});
    QCOMPARE(r.exitCode, 0);
    const QStringList order = r.outLines();
    QCOMPARE(order.size(), 9);
    QStringList ids;
    for (int k = 0; k < 9; ++k) {
      const QStringList cells = order[k].split(QLatin1Char(' '), Qt::SkipEmptyParts);
      QCOMPARE(cells.value(0), QString::number(k + 1));
      QCOMPARE(cells.value(6), QString::fromUtf8(kEast[k].serial));
      ids << cells.value(1);
    }

    // Round one, typed: each value in one of the ways a user writes it.
    const auto newRound = [&](const QString &date) {
      const CliRun made =
          Cli(archive, {QStringLiteral("round"), QStringLiteral("new"), QStringLiteral("--station"),
                        QStringLiteral("城东站"), QStringLiteral("--date"), date, QStringLiteral("--tester"),
                        QStringLiteral("张工"), QStringLiteral("--temperature"), QStringLiteral("18.5"),
                        QStringLiteral("--humidity"), QStringLiteral("62")});
      return made.exitCode == 0 ? made.out.trimmed() : QString();
    };
    const QString first = newRound(QStringLiteral("2023-05-10"));
    QCOMPARE(first.size(), 36);
    for (int k = 0; k < 9; ++k)
      QCOMPARE(Cli(archive, {QStringLiteral("round"), QStringLiteral("set"), first.left(6), ids[k],
                             QString::fromUtf8(kEast[k].typed)})
                   .exitCode,
               0);

    // Round two from the meter: ten groups, the fourth measured again as
    // the fifth, so --skip 4 pairs them.
    const QString second = newRound(QStringLiteral("2024-05-12"));
    QCOMPARE(second.size(), 36);
    QStringList groups;
    for (int k = 0; k < 9; ++k) {
      if (k == 3) groups << QStringLiteral("0.120mA");
      groups << QString::fromUtf8(kEast[k].group);
    }
    const QString history = dir_.filePath(QStringLiteral("history.txt"));
    QVERIFY(WriteFile(history, (groups.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()));
    {
      testsupport::MeterSim sim({QStringLiteral("--history-file"), history});
      QVERIFY(sim.waitReady());
      r = Cli(archive, {QStringLiteral("download"), QStringLiteral("COM1")});
      QCOMPARE(r.exitCode, 0);
      QCOMPARE(r.outLines().size(), 10);
    }
    r = Cli(archive, {QStringLiteral("list")});
    QCOMPARE(r.outLines().size(), 1);
    const QString download = r.outLines().first().section(QLatin1Char(' '), 0, 0);
    r = Cli(archive, {QStringLiteral("round"), QStringLiteral("fill"), second, download,
                      QStringLiteral("--skip"), QStringLiteral("4")});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY2(r.out.endsWith(QStringLiteral("stored 9 results in round %1\n").arg(second.left(8))),
             qPrintable(r.out));

    // The judgement, as CSV, with the default thresholds and with others.
    Thresholds other;
    other.initialAttentionPct = 5;
    other.initialAbnormalPct = 40;
    other.previousAttentionPct = 45;
    other.phaseAttentionPct = 40;
    const QStringList otherOptions{QStringLiteral("--initial-attention"),  QStringLiteral("5"),
                                   QStringLiteral("--initial-abnormal"),   QStringLiteral("40"),
                                   QStringLiteral("--previous-attention"), QStringLiteral("45"),
                                   QStringLiteral("--phase-attention"),    QStringLiteral("40")};
    for (const bool defaults : {true, false}) {
      const Thresholds t = defaults ? Thresholds() : other;
      const QString csvPath = dir_.filePath(QStringLiteral("judgement.csv"));
      r = Cli(archive,
              QStringList{QStringLiteral("assess"), second.left(8), QStringLiteral("--csv"), csvPath} +
                  (defaults ? QStringList() : otherOptions));
      QVERIFY2(r.exitCode == 0, qPrintable(r.err));
      const QStringList lines = r.outLines();
      QCOMPARE(lines.value(0), ThresholdsText(t));
      QFile csvFile(csvPath);
      QVERIFY(csvFile.open(QIODevice::ReadOnly));
      QByteArray bytes = csvFile.readAll();
      QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
      const std::optional<QList<QStringList>> csv = ParseCsv(QString::fromUtf8(bytes.mid(3)));
      QVERIFY(csv);
      QCOMPARE(csv->size(), 10);
      const QStringList head = csv->first();
      const auto column = [&head](const char *name) { return int(head.indexOf(QString::fromUtf8(name))); };
      const int id = column("ID"), value = column("测量值(mA)"), initial = column("初始值变化(%)"),
                previous = column("上次变化(%)"), phase = column("相间偏差(%)"), verdict = column("结论"),
                reasons = column("原因");
      QVERIFY(std::min({id, value, initial, previous, phase, verdict, reasons}) >= 0);
      int counts[3] = {0, 0, 0};
      for (int k = 0; k < 9; ++k) {
        const QStringList &row = csv->at(k + 1);
        const Expected e = Expect(k, t);
        const QString where =
            QStringLiteral("%1 %2 %3")
                .arg(QString::fromUtf8(kEast[k].bay), QString::fromUtf8(kEast[k].phase), row.join(','));
        QVERIFY2(row.value(id).startsWith(ids[k]), qPrintable(where));
        const auto near = [](const QString &text, const std::optional<double> &want) {
          return want ? !text.isEmpty() && std::fabs(text.toDouble() - *want) < 0.006 : text.isEmpty();
        };
        QVERIFY2(near(row.value(value), kEast[k].second < 0 ? std::nullopt : std::optional(kEast[k].second)),
                 qPrintable(where));
        QVERIFY2(near(row.value(initial), e.initialPct), qPrintable(where));
        QVERIFY2(near(row.value(previous), e.previousPct), qPrintable(where));
        QVERIFY2(near(row.value(phase), e.phasePct), qPrintable(where));
        QVERIFY2(row.value(verdict) == e.verdict, qPrintable(where));
        if (kEast[k].second < 0)
          QVERIFY2(row.value(reasons).contains(QStringLiteral("读数无效")), qPrintable(where));
        if (kEast[k].initial == 0)
          QVERIFY2(row.value(reasons).contains(QStringLiteral("无初始值")), qPrintable(where));
        ++counts[e.verdict == QStringLiteral("正常") ? 0 : e.verdict == QStringLiteral("注意") ? 1 : 2];
      }
      QCOMPARE(lines.size(), 1 + 1 + 9 + 1);  // thresholds, column names, arresters, counts
      QCOMPARE(lines.last(),
               QStringLiteral("正常 %1, 注意 %2, 异常 %3").arg(counts[0]).arg(counts[1]).arg(counts[2]));
    }

    // The team server gets the register, both rounds and their results.
    if (qEnvironmentVariableIsEmpty("ARRESTER_TEST_PG"))
      QSKIP("ARRESTER_TEST_PG is not set: the sync part needs the test server (scripts/test starts one)");
    const QString database = QStringLiteral("arrester_assess_%1").arg(::getpid());
    QVERIFY(ServerExec(QStringLiteral("CREATE DATABASE ") + database));
    const auto drop = qScopeGuard([&] { ServerExec(QStringLiteral("DROP DATABASE IF EXISTS ") + database); });
    const QString server = qEnvironmentVariable("ARRESTER_TEST_PG") + QStringLiteral(" dbname=") + database;
    r = Cli(archive, {QStringLiteral("sync"), server});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QString local, remote;
    {
      Archive a;
      QVERIFY(a.open(archive));
      local = RegisterContents(a);
    }
    {
      Archive a(MakePostgresDialect());
      QVERIFY2(a.open(server), qPrintable(a.errorText()));
      remote = RegisterContents(a);
    }
    QCOMPARE(local.count(QLatin1Char('\n')), 13 + 2 + 18 - 1);
    QCOMPARE(remote, local);
  }

  void refusals_data() {
    QTest::addColumn<QStringList>("before");  // run first, when not empty
    QTest::addColumn<QStringList>("args");    // {round}, {arrester}, {download}, {file} filled in
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("arresters");  // in the register afterwards
    QTest::addColumn<int>("results");    // in the round afterwards
    const QString round = QStringLiteral("round"), fill = QStringLiteral("fill"), set = QStringLiteral("set");
    const QString roundId = QStringLiteral("{round}"), arrester = QStringLiteral("{arrester}"),
                  download = QStringLiteral("{download}");
    const QStringList none;
    QTest::newRow("import with a faulty row")
        << none << QStringList{QStringLiteral("assets"), QStringLiteral("import"), QStringLiteral("{file}")}
        << 6 << 4 << 0;
    QTest::newRow("typed value unreadable")
        << none << QStringList{round, set, roundId, arrester, QStringLiteral("12.3kV")} << 6 << 4 << 0;
    QTest::newRow("typed value stored")
        << none << QStringList{round, set, roundId, arrester, QStringLiteral("0.5A")} << 0 << 4 << 1;
    QTest::newRow("three groups for four arresters")
        << none << QStringList{round, fill, roundId, download} << 6 << 4 << 0;
    QTest::newRow("three groups, --partial")
        << none << QStringList{round, fill, roundId, download, QStringLiteral("--partial")} << 0 << 4 << 3;
    const QStringList missed{round, fill, roundId, download, QStringLiteral("--missed"), QStringLiteral("2")};
    QTest::newRow("three groups, the second arrester missed") << none << missed << 0 << 4 << 3;
    // The first fill gave the second group to the second arrester; mended,
    // that arrester keeps nothing of it.
    QTest::newRow("a fill mended with --missed")
        << QStringList{round, fill, roundId, download, QStringLiteral("--partial")} << missed << 0 << 4 << 3;
  }

  // Data that cannot be taken is refused with exit 6 and nothing of it is
  // stored; the ways to mend it are taken.
  void refusals() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(int, arresters);
    QFETCH(int, results);
    const QString archive = freshArchive();
    const QString good = dir_.filePath(QStringLiteral("good.csv"));
    QVERIFY(WriteFile(good, QStringLiteral("变电站,电压等级,间隔,相别,初始值\n"
                                           "南山站,110kV,1号进线,A,0.5\n南山站,110kV,1号进线,B,0.5\n"
                                           "南山站,110kV,1号进线,C,0.5\n南山站,35kV,2号出线,A,0.4\n")
                                .toUtf8()));
    QCOMPARE(Cli(archive, {QStringLiteral("assets"), QStringLiteral("import"), good}).exitCode, 0);
    // Two good new rows around a faulty one: none of them may come in.
    const QString faulty = dir_.filePath(QStringLiteral("faulty.csv"));
    QVERIFY(WriteFile(faulty, QStringLiteral("变电站,电压等级,间隔,相别,初始值\n南山站,35kV,2号出线,B,0.4\n"
                                             "南山站,35kV,2号出线,C,abc\n南山站,35kV,3号出线,A,0.4\n")
                                  .toUtf8()));
    const CliRun made = Cli(archive, {QStringLiteral("round"), QStringLiteral("new"),
                                      QStringLiteral("--station"), QStringLiteral("南山站")});
    QCOMPARE(made.exitCode, 0);
    const QString roundId = made.out.trimmed();
    QString arresterId, downloadId;
    {
      Archive a;
      QVERIFY(a.open(archive));
      AssetStore store(a);
      arresterId = store.arresters()->first().uuid;
      // Three groups as the meter stores them: AC mA with three decimals.
      QByteArray block;
      for (int count : {480, 510, 495})
        block.append(char(count / 100)).append(char(count % 100)).append(char(10));
      DownloadInfo info;
      info.utcMs = QDateTime::currentMSecsSinceEpoch();
      info.portName = QStringLiteral("COM1");
      info.groupsAnnounced = 3;
      downloadId = a.addDownload(info, block);
      QVERIFY(!downloadId.isEmpty());
    }
    for (QStringList *command : {&before, &args})
      for (QString &arg : *command)
        arg.replace(QStringLiteral("{round}"), roundId)
            .replace(QStringLiteral("{arrester}"), arresterId.left(8))
            .replace(QStringLiteral("{download}"), downloadId.left(8))
            .replace(QStringLiteral("{file}"), faulty);
    if (!before.isEmpty()) QCOMPARE(Cli(archive, before).exitCode, 0);
    const CliRun r = Cli(archive, args);
    QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
    if (exitCode == 6) QVERIFY(!r.err.isEmpty());
    if (args.contains(faulty)) QVERIFY2(r.err.startsWith(QStringLiteral("line 3: ")), qPrintable(r.err));
    Archive a;
    QVERIFY(a.open(archive));
    AssetStore store(a);
    QCOMPARE(int(store.arresters()->size()), arresters);
    QCOMPARE(int(store.results(roundId)->size()), results);
  }
};

QTEST_GUILESS_MAIN(TestAssessmentCli)
#include "test_assessment_cli.moc"
