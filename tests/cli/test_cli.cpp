// arrester-cli run as a real program against meter-sim on a pseudo-terminal.
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "protocol/reading_text.h"
#include "support/cli_run.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::CliRun;
using testsupport::FinishCli;
using testsupport::StartCli;

namespace {
constexpr int kCliTimeoutMs = 30000;
}  // namespace

class TestCli : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir archiveDir_;

  CliRun run(const QStringList &args) {
    QProcess p;
    StartCli(p, args, archiveDir_.filePath(QStringLiteral("archive.sqlite")));
    return FinishCli(p, kCliTimeoutMs);
  }

 private slots:
  void initTestCase() {
    QVERIFY(archiveDir_.isValid());
    testsupport::makeTemporaryPortsDir();
  }

  // probe shakes hands, says "ok", and leaves with the closing notice.
  void probeShakesHandsAndSaysGoodbye() {
    testsupport::MeterSim sim;
    QVERIFY(sim.waitReady());
    const CliRun r = run({QStringLiteral("probe"), QStringLiteral("COM1")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("ok\n"));
    QVERIFY(sim.waitForReceived(0, 1, 3000));
    QCOMPARE(sim.receivedBytes(), QByteArray("\x05\x00", 2));
  }

  // live --count N polls exactly N times and prints one timed reading per poll.
  void liveCountPrintsTimedReadings() {
    testsupport::MeterSim sim(
        {QStringLiteral("--code"), QStringLiteral("5"), QStringLiteral("--value"), QStringLiteral("1.5")});
    QVERIFY(sim.waitReady());
    const CliRun r =
        run({QStringLiteral("live"), QStringLiteral("COM1"), QStringLiteral("--count"), QStringLiteral("3"),
             QStringLiteral("--interval"), QStringLiteral("0.05"), QStringLiteral("--no-record")});
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outLines();
    QCOMPARE(lines.size(), 3);
    const QRegularExpression line(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)  1\.5A$)"));
    for (const QString &l : lines) QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
    QVERIFY(sim.waitForReceived(0, 1, 3000));
    QCOMPARE(sim.countReceived(35), 3);
    QCOMPARE(sim.receivedBytes().back(), '\0');
  }

  // Ctrl+C ends an endless live run cleanly: exit 0 and the closing notice sent.
  void liveInterruptSendsClosingNotice() {
    testsupport::MeterSim sim;
    QVERIFY(sim.waitReady());
    QProcess p;
    StartCli(p,
             {QStringLiteral("live"), QStringLiteral("COM1"), QStringLiteral("--interval"),
              QStringLiteral("0.05"), QStringLiteral("--no-record")},
             archiveDir_.filePath(QStringLiteral("archive.sqlite")));
    QVERIFY(sim.waitForReceived(35, 2, 5000));
    ::kill(pid_t(p.processId()), SIGINT);
    const CliRun r = FinishCli(p, kCliTimeoutMs);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.outLines().size() >= 1);
    QVERIFY(sim.waitForReceived(0, 1, 3000));
    QCOMPARE(sim.receivedBytes().back(), '\0');
  }

  // A full store of 255 groups comes through whole and in order, each row
  // worded as the data table words it.
  void downloadReadsFullStore() {
    testsupport::MeterSim sim({QStringLiteral("--groups"), QStringLiteral("255")});
    QVERIFY(sim.waitReady());
    const CliRun r = run({QStringLiteral("download"), QStringLiteral("COM1"), QStringLiteral("--no-record")});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(sim.waitForReceived(0, 1, 3000));
    QCOMPARE(sim.receivedBytes(), QByteArray("\x05\x0f\x19\x00", 4));
    const QByteArray block = sim.sent().last().bytes;
    QCOMPARE(block.size(), 765);
    const QStringList lines = r.outLines();
    QCOMPARE(lines.size(), 255);
    for (int k = 1; k <= 255; ++k)
      QCOMPARE(lines[k - 1], QStringLiteral("%1  %2")
                                 .arg(k, 3, 10, QLatin1Char('0'))
                                 .arg(HistoryReadingText(ReadingGroup::At(block, k - 1))));
    // Fixed anchors: group 1 is code 1 with count 1237, 13 an overload, 14 code 0.
    QCOMPARE(lines[0], QStringLiteral("001  AC 12.37 mA"));
    QCOMPARE(lines[12], QStringLiteral("013  0L"));
    QCOMPARE(lines[13], QStringLiteral("014  ERROR"));
  }

  // A download is recorded by default; list, label and export find it again,
  // and the CSV carries every group with the text the terminal showed.
  void downloadIsRecordedListedLabelledAndExported() {
    testsupport::MeterSim sim({QStringLiteral("--groups"), QStringLiteral("40")});
    QVERIFY(sim.waitReady());
    const CliRun got = run({QStringLiteral("download"), QStringLiteral("COM1")});
    QCOMPARE(got.exitCode, 0);
    const CliRun listed = run({QStringLiteral("list")});
    QCOMPARE(listed.exitCode, 0);
    const QStringList entries = listed.outLines();
    QCOMPARE(entries.size(), 1);
    QVERIFY2(entries[0].contains(QStringLiteral(" download ")), qPrintable(entries[0]));
    const QString id = entries[0].section(QLatin1Char(' '), 0, 0);
    QCOMPARE(run({QStringLiteral("label"), id, QStringLiteral("A 相 3 号")}).exitCode, 0);
    QVERIFY(run({QStringLiteral("list")}).out.contains(QStringLiteral("A 相 3 号")));

    const CliRun csv = run({QStringLiteral("export"), id, QStringLiteral("--csv"), QStringLiteral("-")});
    QCOMPARE(csv.exitCode, 0);
    const QStringList rows = csv.out.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 41);
    const QStringList shown = got.outLines();
    for (int k = 1; k <= 40; ++k) {
      QVERIFY2(
          rows[k].contains(QStringLiteral(",download,")) && rows[k].contains(QStringLiteral(",A 相 3 号,")),
          qPrintable(rows[k]));
      QVERIFY2(rows[k].contains(QLatin1Char(',') + shown[k - 1].mid(5) + QLatin1Char(',')),
               qPrintable(rows[k]));
    }
    QCOMPARE(run({QStringLiteral("export"), QStringLiteral("nosuchid"), QStringLiteral("--csv"),
                  QStringLiteral("-")})
                 .exitCode,
             2);
  }

  void exitCodes_data() {
    QTest::addColumn<QStringList>("simArgs");  // empty: no simulator at all
    QTest::addColumn<QStringList>("cliArgs");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("rows");
    const QStringList probe{QStringLiteral("probe"), QStringLiteral("COM1")};
    const QStringList download{QStringLiteral("download"), QStringLiteral("COM1"),
                               QStringLiteral("--no-record")};
    QTest::newRow("missing port") << QStringList() << probe << 3 << 0;
    QTest::newRow("silent meter") << QStringList{QStringLiteral("--silent")} << probe << 4 << 0;
    QTest::newRow("wrong handshake") << QStringList{QStringLiteral("--bad-handshake")} << probe << 4 << 0;
    QTest::newRow("short history block")
        << QStringList{QStringLiteral("--groups"), QStringLiteral("255"), QStringLiteral("--short-history")}
        << download << 5 << 127;
    QTest::newRow("bad port name") << QStringList()
                                   << QStringList{QStringLiteral("probe"), QStringLiteral("COM17")} << 2 << 0;
    QTest::newRow("count and duration")
        << QStringList()
        << QStringList{QStringLiteral("live"), QStringLiteral("COM1"),       QStringLiteral("--count"),
                       QStringLiteral("1"),    QStringLiteral("--duration"), QStringLiteral("1m")}
        << 2 << 0;
  }

  // Each failure has its own exit code and says what went wrong on stderr.
  void exitCodes() {
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, cliArgs);
    QFETCH(int, exitCode);
    QFETCH(int, rows);
    std::unique_ptr<testsupport::MeterSim> sim;
    // Without a simulator COM1 is a link to nothing, so no device of this
    // machine (a real /dev/ttyS0, say) can stand in for it.
    const QString link = qEnvironmentVariable("ARRESTER_PORTS_DIR") + QStringLiteral("/COM1");
    if (simArgs.isEmpty()) QVERIFY(QFile::link(QStringLiteral("/nonexistent/meter"), link));
    const auto unlink = qScopeGuard([&] {
      if (simArgs.isEmpty()) QFile::remove(link);
    });
    if (!simArgs.isEmpty()) {
      sim = std::make_unique<testsupport::MeterSim>(simArgs);
      QVERIFY(sim->waitReady());
    }
    const CliRun r = run(cliArgs);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY(!r.err.isEmpty());
    QCOMPARE(int(r.outLines().size()), rows);
    if (exitCode == 5) QVERIFY2(r.err.contains(QStringLiteral("incomplete")), qPrintable(r.err));
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
