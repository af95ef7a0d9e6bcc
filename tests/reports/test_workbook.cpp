// arrester-cli assess --xlsx end to end: a station's register and two rounds
// stored, the workbook written by the real program, then opened in
// LibreOffice to see that values and dates arrive as numbers and dates, the
// conclusions coloured, the header frozen and every result on sheet two.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "support/cli_run.h"

using testsupport::CliRun;
using testsupport::FinishCli;
using testsupport::StartCli;

namespace {

// One cell as LibreOffice saved it in a flat OpenDocument spreadsheet.
struct Cell {
  QString type;        // office:value-type: "string", "float", "percentage", "date"...
  QString value;       // office:value of a number, office:date-value of a date
  QString text;        // what the cell shows
  QString background;  // fo:background-color of its style, "#rrggbb", or empty
};
using Sheet = QList<QList<Cell>>;

// Every sheet of a .fods file by name, with the background colours of the
// cells' automatic styles resolved.
QHash<QString, Sheet> ReadFlatSpreadsheet(const QString &path) {
  QFile f(path);
  QHash<QString, Sheet> sheets;
  if (!f.open(QIODevice::ReadOnly)) return sheets;
  QHash<QString, QString> backgroundOf;  // style name -> colour
  QXmlStreamReader xml(&f);
  QString styleName, sheetName;
  Cell cell;
  int repeated = 1;
  bool inCell = false;
  while (!xml.atEnd()) {
    xml.readNext();
    const QStringView name = xml.qualifiedName();
    if (xml.isStartElement()) {
      const QXmlStreamAttributes a = xml.attributes();
      if (name == QLatin1String("style:style")) styleName = a.value(QLatin1String("style:name")).toString();
      if (name == QLatin1String("style:table-cell-properties") &&
          a.hasAttribute(QLatin1String("fo:background-color")))
        backgroundOf.insert(styleName, a.value(QLatin1String("fo:background-color")).toString().toLower());
      if (name == QLatin1String("table:table")) sheetName = a.value(QLatin1String("table:name")).toString();
      if (name == QLatin1String("table:table-row")) sheets[sheetName].append(QList<Cell>());
      if (name == QLatin1String("table:table-cell")) {
        const QString type = a.value(QLatin1String("office:value-type")).toString();
        cell = {type,
                a.value(type == QLatin1String("date") ? QLatin1String("office:date-value")
                                                      : QLatin1String("office:value"))
                    .toString(),
                QString(), backgroundOf.value(a.value(QLatin1String("table:style-name")).toString())};
        repeated = qMax(1, a.value(QLatin1String("table:number-columns-repeated")).toInt());
        inCell = true;
      }
    }
    if (inCell && xml.isCharacters() && !xml.isWhitespace()) cell.text += xml.text();
    if (xml.isEndElement() && name == QLatin1String("table:table-cell")) {
      for (int k = 0; k < qMin(repeated, 32); ++k) sheets[sheetName].last().append(cell);
      inCell = false;
    }
  }
  return sheets;
}

QStringList Texts(const QList<Cell> &row) {
  QStringList texts;
  for (const Cell &c : row) texts << c.text;
  while (!texts.isEmpty() && texts.last().isEmpty()) texts.removeLast();
  return texts;
}

ArresterRecord Arrester(const QString &level, const QString &bay, const QString &phase, const QString &serial,
                        std::optional<double> initial) {
  ArresterRecord a;
  a.station = QStringLiteral("城东站");
  a.voltageLevel = level;
  a.bay = bay;
  a.phase = phase;
  a.model = QStringLiteral("YH10W-100/260");
  a.serialNumber = serial;
  a.initialMilliAmps = initial;
  return a;
}

ResultRecord Result(const RoundRecord &round, const ArresterRecord &a, std::optional<double> milliAmps,
                    ResultSource source = ResultSource::Manual, int group = 0) {
  ResultRecord r;
  r.roundUuid = round.uuid;
  r.arresterUuid = a.uuid;
  r.reading = milliAmps ? ResultReading::Value : ResultReading::Overload;
  r.milliAmps = milliAmps;
  r.source = source;
  r.sourceGroup = group;
  return r;
}

}  // namespace

class TestWorkbook : public QObject {
  Q_OBJECT

 private slots:
  // Round two of 城东站 judges one arrester of each conclusion; the 35kV
  // arrester measured only in round one still appears on sheet two.
  void assessWritesAWorkbookThatASpreadsheetReadsAsNumbersAndDates() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString archivePath = dir.filePath(QStringLiteral("archive.sqlite"));
    QString roundId;
    {
      Archive archive;
      QVERIFY(archive.open(archivePath));
      AssetStore store(archive);
      QVERIFY(store.importArresters({Arrester("110kV", "1号主变", "A", "A-1", 0.4),
                                     Arrester("110kV", "1号主变", "B", "B-1", 0.4),
                                     Arrester("110kV", "1号主变", "C", "C-1", 0.4),
                                     Arrester("35kV", "出线2", "A", "0012", std::nullopt)}));
      const QList<ArresterRecord> registered = store.arresters().value_or(QList<ArresterRecord>());
      QList<ArresterRecord> a;
      for (const char *serial : {"A-1", "B-1", "C-1", "0012"})
        for (const ArresterRecord &stored : registered)
          if (stored.serialNumber == QLatin1String(serial)) a << stored;
      QCOMPARE(a.size(), 4);
      RoundRecord first, second;
      first.station = second.station = QStringLiteral("城东站");
      first.date = QDate(2023, 5, 10);
      first.tester = QStringLiteral("李四");
      second.date = QDate(2024, 5, 12);
      second.tester = QStringLiteral("张三");
      second.temperatureC = 21.5;
      second.humidityPercent = 65;
      QVERIFY(store.saveRound(first));
      QVERIFY(store.saveRound(second));
      QList<ResultRecord> results{Result(first, a[0], 0.41),
                                  Result(first, a[1], 0.40),
                                  Result(first, a[2], 0.405),
                                  Result(first, a[3], 0.3),
                                  Result(second, a[0], 0.42, ResultSource::Download, 1),
                                  Result(second, a[1], 0.54, ResultSource::Download, 2),
                                  Result(second, a[2], std::nullopt, ResultSource::Download, 3)};
      QVERIFY(store.saveResults(results));
      roundId = second.uuid;
    }

    const QString xlsx = dir.filePath(QStringLiteral("判断.xlsx"));
    const QString csv = dir.filePath(QStringLiteral("judgement.csv"));
    const QStringList env{QStringLiteral("XDG_CONFIG_HOME=") + dir.filePath(QStringLiteral("config"))};
    const auto assess = [&](const QStringList &args) {
      QProcess p;
      StartCli(p, QStringList{QStringLiteral("assess"), roundId.left(8)} + args, archivePath, env);
      return FinishCli(p, 30000);
    };
    const CliRun r = assess({QStringLiteral("--xlsx"), xlsx, QStringLiteral("--csv"), csv});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY(QFileInfo(xlsx).size() > 0);
    // Refused before anything is judged, and a folder that does not exist
    // fails without leaving anything behind.
    QCOMPARE(assess({QStringLiteral("--xlsx"), QStringLiteral("-")}).exitCode, 2);
    const CliRun nowhere = assess({QStringLiteral("--xlsx"), dir.filePath(QStringLiteral("no/such.xlsx"))});
    QCOMPARE(nowhere.exitCode, 1);
    QVERIFY2(nowhere.err.contains(QStringLiteral("such.xlsx")), qPrintable(nowhere.err));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("archive.sqlite"), QStringLiteral("judgement.csv"),
                          QStringLiteral("判断.xlsx")}));

    // The judgement as the program's own CSV gives it: the workbook must agree.
    QFile csvFile(csv);
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    QList<QStringList> judged;
    for (const QString &line : QString::fromUtf8(csvFile.readAll()).split(QStringLiteral("\r\n")))
      if (!line.isEmpty()) judged << line.split(QLatin1Char(','));
    QCOMPARE(judged.size(), 4);
    const int kCsvPhase = 4, kCsvValue = 7, kCsvInitialPct = 9, kCsvPrevious = 10, kCsvPreviousPct = 12,
              kCsvPhasePct = 13, kCsvVerdict = 14;

    // The frozen header row and the filter, as written in the sheet's XML.
    if (const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip")); !unzip.isEmpty()) {
      QProcess p;
      p.start(unzip, {QStringLiteral("-p"), xlsx, QStringLiteral("xl/worksheets/sheet1.xml")});
      QVERIFY(p.waitForFinished(30000));
      const QByteArray sheetXml = p.readAllStandardOutput();
      QVERIFY2(sheetXml.contains("ySplit=\"1\"") && sheetXml.contains("state=\"frozen\""),
               sheetXml.constData());
      QVERIFY(sheetXml.contains("<autoFilter ref=\"A1:P4\""));
      QVERIFY(sheetXml.contains("<col "));
    }

    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
      QSKIP(
          "soffice is not installed (Debian: libreoffice-calc-nogui, which scripts/deps test installs): "
          "the workbook was written, not opened in a spreadsheet");
    QProcess lo;
    lo.setProcessChannelMode(QProcess::MergedChannels);
    lo.start(soffice,
             {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
              QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("fods"),
              QStringLiteral("--outdir"), dir.path(), xlsx});
    QVERIFY(lo.waitForFinished(240000));
    const QHash<QString, Sheet> book = ReadFlatSpreadsheet(dir.filePath(QStringLiteral("判断.fods")));
    QVERIFY2(book.contains(QStringLiteral("判断")) && book.contains(QStringLiteral("全部结果")),
             lo.readAll().constData());

    const Sheet &judgement = book[QStringLiteral("判断")];
    QVERIFY(judgement.size() >= 4);
    QCOMPARE(Texts(judgement[0]),
             (QStringList{"变电站", "电压等级", "间隔", "相别", "型号", "出厂编号", "测试日期", "测量值(mA)",
                          "初始值(mA)", "较初始值(%)", "上次值(mA)", "上次日期", "较上次(%)", "相间偏差(%)",
                          "结论", "原因"}));
    const QHash<QString, QString> colourOf{{QStringLiteral("正常"), QStringLiteral("#c8f0c8")},
                                           {QStringLiteral("注意"), QStringLiteral("#ffd060")},
                                           {QStringLiteral("异常"), QStringLiteral("#ff7070")}};
    QStringList verdicts;
    for (int i = 1; i <= 3; ++i) {
      const QList<Cell> &row = judgement[i];
      const QStringList &expected = judged[i];
      QCOMPARE(row[3].text, expected[kCsvPhase]);
      QCOMPARE(row[6].type, QStringLiteral("date"));
      QVERIFY2(row[6].value.startsWith(QLatin1String("2024-05-12")), qPrintable(row[6].value));
      if (expected[kCsvValue].isEmpty()) {
        QCOMPARE(row[7].type, QStringLiteral("string"));
        QCOMPARE(row[7].text, QStringLiteral("OL"));
      } else {
        QCOMPARE(row[7].type, QStringLiteral("float"));
        QCOMPARE(row[7].value.toDouble(), expected[kCsvValue].toDouble());
      }
      QCOMPARE(row[8].type, QStringLiteral("float"));
      QCOMPARE(row[8].value.toDouble(), 0.4);
      QCOMPARE(row[10].type, QStringLiteral("float"));
      QCOMPARE(row[10].value.toDouble(), expected[kCsvPrevious].toDouble());
      QCOMPARE(row[11].type, QStringLiteral("date"));
      QVERIFY2(row[11].value.startsWith(QLatin1String("2023-05-10")), qPrintable(row[11].value));
      // Changes are fractions shown as percentages: the same figures as the CSV's.
      for (const auto &[column, csvColumn] :
           {std::pair{9, kCsvInitialPct}, {12, kCsvPreviousPct}, {13, kCsvPhasePct}}) {
        if (expected[csvColumn].isEmpty()) {
          QCOMPARE(row[column].type, QString());
          continue;
        }
        QCOMPARE(row[column].type, QStringLiteral("percentage"));
        QVERIFY2(qAbs(row[column].value.toDouble() * 100 - expected[csvColumn].toDouble()) < 0.006,
                 qPrintable(row[column].value + QLatin1String(" vs ") + expected[csvColumn]));
        QVERIFY2(row[column].text.endsWith(QLatin1Char('%')), qPrintable(row[column].text));
      }
      QCOMPARE(row[14].text, expected[kCsvVerdict]);
      QCOMPARE(row[14].background, colourOf.value(row[14].text));
      verdicts << row[14].text;
    }
    QCOMPARE(verdicts, (QStringList{"正常", "注意", "异常"}));
    // Below the table: the round, the thresholds in force and the counts.
    QStringList below;
    for (int i = 4; i < judgement.size(); ++i) below << Texts(judgement[i]).join(QLatin1Char('|'));
    below.removeAll(QString());
    QCOMPARE(below.size(), 6);
    QVERIFY2(
        below[0].contains(QStringLiteral("城东站 2024-05-12")) && below[0].contains(QStringLiteral("张三")),
        qPrintable(below[0]));
    QVERIFY2(below[1].startsWith(QStringLiteral("判断依据")), qPrintable(below[1]));
    QCOMPARE(below.mid(2), (QStringList{"正常|1", "注意|1", "异常|1", "合计|3"}));

    // Sheet two: all seven results, in register order (35kV before 110kV)
    // and then by date.
    const Sheet &all = book[QStringLiteral("全部结果")];
    QCOMPARE(Texts(all[0]), (QStringList{"变电站", "电压等级", "间隔", "相别", "出厂编号", "测试日期",
                                         "测量值(mA)", "来源", "试验人员", "温度(℃)", "湿度(%)"}));
    QStringList rows;
    for (int i = 1; i < all.size(); ++i) {
      const QList<Cell> &row = all[i];
      if (Texts(row).isEmpty()) continue;
      QCOMPARE(row[5].type, QStringLiteral("date"));
      QVERIFY(row[6].type == QLatin1String("float") || row[6].text == QLatin1String("OL"));
      if (row[8].text == QLatin1String("张三")) {
        QCOMPARE(row[9].type, QStringLiteral("float"));
        QCOMPARE(row[9].value.toDouble(), 21.5);
        QCOMPARE(row[10].type, QStringLiteral("percentage"));
        QCOMPARE(row[10].value.toDouble(), 0.65);
      }
      rows << QStringList{row[1].text,
                          row[2].text,
                          row[3].text,
                          row[4].text,
                          row[5].value.left(10),
                          row[6].type == QLatin1String("float") ? row[6].value : row[6].text,
                          row[7].text}
                  .join(QLatin1Char(' '));
    }
    QCOMPARE(
        rows,
        (QStringList{
            "35kV 出线2 A 0012 2023-05-10 0.3 手工输入", "110kV 1号主变 A A-1 2023-05-10 0.41 手工输入",
            "110kV 1号主变 A A-1 2024-05-12 0.42 下载第1组", "110kV 1号主变 B B-1 2023-05-10 0.4 手工输入",
            "110kV 1号主变 B B-1 2024-05-12 0.54 下载第2组", "110kV 1号主变 C C-1 2023-05-10 0.405 手工输入",
            "110kV 1号主变 C C-1 2024-05-12 OL 下载第3组"}));
  }
};

QTEST_GUILESS_MAIN(TestWorkbook)
#include "test_workbook.moc"
