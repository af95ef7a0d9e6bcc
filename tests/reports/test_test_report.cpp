// The test report of a round, written by the real arrester-cli and read
// back with poppler's tools: every arrester's row once with its value, change
// and conclusion, bays kept whole on a page, a bay longer than a page broken
// between rows, the table header and "第 x 页 共 y 页" on every page, the
// summary's counts, the Song face embedded, nothing drawn in the margins.
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/judgement.h"
#include "support/cli_run.h"

using testsupport::CliRun;

namespace {

// The register of 城西站: 220kV bays 1-6 and 110kV bays 1-14 of three phases,
// and a 110kV bay of 55 spare arresters, longer than a page.
constexpr int kBays220 = 6, kBays110 = 14, kSpares = 55;

struct Planned {
  ArresterRecord arrester;
  double previous = 0, current = 0;
  QString verdict;
};

// A poppler tool's output; empty (and `ok` false) when it fails.
QString Run(const QString &tool, const QStringList &args, bool *ok) {
  QProcess p;
  p.start(QStandardPaths::findExecutable(tool), args);
  *ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString Collapsed(QString s) { return s.remove(QRegularExpression(QStringLiteral("\\s+"))); }

}  // namespace

class TestTestReport : public QObject {
  Q_OBJECT

 private slots:
  void reportOfALongRoundReadsBackPageByPage() {
    for (const char *tool : {"pdftotext", "pdfinfo", "pdffonts", "pdftoppm"})
      if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
        QSKIP("poppler-utils is not installed (scripts/deps test installs it)");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    const QString archivePath = dir.filePath(QStringLiteral("archive.sqlite"));

    // One abnormal and two attention arresters among the rest, which rise
    // by a few percent a year.
    QList<Planned> plan;
    auto add = [&plan](const char *level, const QString &bay, const QString &phase) {
      Planned p;
      const int k = int(plan.size());
      p.arrester.station = QStringLiteral("城西站");
      p.arrester.voltageLevel = QString::fromLatin1(level);
      p.arrester.bay = bay;
      p.arrester.phase = phase;
      p.arrester.model = QStringLiteral("Y10W-100/260");
      p.arrester.serialNumber = QStringLiteral("XS-%1").arg(k + 1, 3, 10, QLatin1Char('0'));
      p.arrester.initialMilliAmps = 0.4 + 0.002 * (k % 50);
      p.arrester.initialDate = QDate(2020, 4, 1);
      p.previous = *p.arrester.initialMilliAmps + 0.008;
      p.current = *p.arrester.initialMilliAmps + 0.02;
      p.verdict = QStringLiteral("正常");
      plan << p;
    };
    const QStringList abc{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    for (int b = 1; b <= kBays220; ++b)
      for (const QString &ph : abc) add("220kV", QStringLiteral("%1号出线").arg(b), ph);
    for (int b = 1; b <= kBays110; ++b)
      for (const QString &ph : abc) add("110kV", QStringLiteral("%1号出线").arg(b), ph);
    for (int s = 0; s < kSpares; ++s) add("110kV", QStringLiteral("备用"), abc[s % 3]);
    auto change = [&plan](int k, double factor, const char *verdict) {
      plan[k].current = *plan[k].arrester.initialMilliAmps * factor;
      plan[k].verdict = QString::fromUtf8(verdict);
    };
    change(4, 1.6, "异常");    // 220kV 2号出线 B
    change(20, 1.35, "注意");  // 110kV 1号出线 C
    change(40, 1.36, "注意");  // 110kV 8号出线 B

    QString roundId;
    {
      Archive archive;
      QVERIFY(archive.open(archivePath));
      AssetStore store(archive);
      QList<ArresterRecord> rows;
      for (const Planned &p : plan) rows << p.arrester;
      QVERIFY2(store.importArresters(rows), qPrintable(store.errorText()));
      const QList<ArresterRecord> stored = store.arresters().value();
      QCOMPARE(stored.size(), plan.size());
      for (Planned &p : plan)
        for (const ArresterRecord &a : stored)
          if (a.serialNumber == p.arrester.serialNumber) p.arrester.uuid = a.uuid;
      RoundRecord older, previous, current;
      older.station = previous.station = current.station = QStringLiteral("城西站");
      older.date = QDate(2024, 5, 8);
      previous.date = QDate(2025, 5, 9);
      current.date = QDate(2026, 5, 12);
      current.tester = QStringLiteral("王五");
      current.instrument = QStringLiteral("钳形漏电流表");
      current.weather = QStringLiteral("晴");
      current.temperatureC = 23.5;
      current.humidityPercent = 58;
      QVERIFY(store.saveRound(older) && store.saveRound(previous) && store.saveRound(current));
      QList<ResultRecord> results;
      for (const Planned &p : plan) {
        const double values[] = {*p.arrester.initialMilliAmps + 0.004, p.previous, p.current};
        const RoundRecord *rounds[] = {&older, &previous, &current};
        for (int i = 0; i < 3; ++i) {
          ResultRecord r;
          r.roundUuid = rounds[i]->uuid;
          r.arresterUuid = p.arrester.uuid;
          r.milliAmps = values[i];
          results << r;
        }
      }
      QVERIFY2(store.saveResults(results), qPrintable(store.errorText()));
      roundId = current.uuid;
    }

    const QString pdf = dir.filePath(QStringLiteral("报告.pdf"));
    const QStringList env{QStringLiteral("XDG_CONFIG_HOME=") + dir.filePath(QStringLiteral("config"))};
    auto report = [&](const QStringList &args) {
      QProcess p;
      testsupport::StartCli(p, QStringList{QStringLiteral("report"), roundId.left(8)} + args, archivePath,
                            env);
      return testsupport::FinishCli(p, 60000);
    };
    const CliRun run = report({QStringLiteral("--pdf"), pdf});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    // A folder that does not exist: a failure, and nothing left behind.
    QCOMPARE(report({QStringLiteral("--pdf"), dir.filePath(QStringLiteral("no/such.pdf"))}).exitCode, 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("archive.sqlite"), QStringLiteral("报告.pdf")}));

    bool ok = false;
    const QString info = Run(QStringLiteral("pdfinfo"), {pdf}, &ok);
    QVERIFY2(ok, qPrintable(info));
    const QRegularExpressionMatch pagesMatch =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    QVERIFY(pagesMatch.hasMatch());
    const int pageCount = pagesMatch.captured(1).toInt();
    QVERIFY2(pageCount >= 4, qPrintable(info));  // the table alone takes more than two
    QVERIFY(info.contains(QStringLiteral("金属氧化物避雷器带电测试报告")));
    QVERIFY(info.contains(
        QRegularExpression(QStringLiteral("Page size:\\s+595(\\.\\d+)? x 84[12](\\.\\d+)? pts"))));

    QStringList pages;
    for (int p = 1; p <= pageCount; ++p) {
      pages << Run(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(p), QStringLiteral("-l"),
                    QString::number(p), pdf, QStringLiteral("-")},
                   &ok);
      QVERIFY(ok);
      QVERIFY2(pages.last().contains(QRegularExpression(
                   QStringLiteral("第\\s*%1\\s*页\\s*共\\s*%2\\s*页").arg(p).arg(pageCount))),
               qPrintable(pages.last()));
      QCOMPARE(Collapsed(pages.last()).contains(QStringLiteral("批准:")), p == pageCount);
    }
    const QString first = Collapsed(pages.first());
    for (const char *field : {"报告编号:城西站-20260512-01", "电压等级:220kV、110kV", "试验人员:王五",
                              "环境温度:23.5°C", "相对湿度:58%", "初始值+30%注意,+50%异常"})
      QVERIFY2(first.contains(QString::fromUtf8(field)), field);

    // Each row once, whole, on one line: serial, value, change against the
    // initial value, conclusion; the pages with rows carry the header.
    QHash<QString, int> pageOfBay;
    QSet<int> sparePages;
    for (const Planned &p : plan) {
      const QString serial = p.arrester.serialNumber;
      const QString value = QString::number(p.current, 'g', 6);
      const QString pct =
          ChangeText((p.current - *p.arrester.initialMilliAmps) / *p.arrester.initialMilliAmps * 100);
      int found = 0, page = -1;
      for (int i = 0; i < pages.size(); ++i)
        for (const QString &line : pages[i].split(QLatin1Char('\n'))) {
          if (!line.contains(serial) || !line.contains(QStringLiteral(" ") + value + QStringLiteral(" ")))
            continue;
          ++found;
          page = i;
          QVERIFY2(line.contains(pct) && line.contains(p.verdict), qPrintable(line));
          QVERIFY(pages[i].contains(QStringLiteral("出厂编号")) &&
                  pages[i].contains(QStringLiteral("相间偏差")));
        }
      QVERIFY2(found == 1, qPrintable(serial));
      if (p.arrester.bay == QStringLiteral("备用")) {
        sparePages.insert(page);
      } else {
        const QString bay = p.arrester.voltageLevel + p.arrester.bay;
        QVERIFY2(pageOfBay.value(bay, page) == page, qPrintable(bay + QStringLiteral(" split across pages")));
        pageOfBay.insert(bay, page);
      }
    }
    QCOMPARE(sparePages.size(), 2);
    QVERIFY(pages.join(QString()).contains(QStringLiteral("备用 (续)")));

    const QString all = Collapsed(pages.join(QString()));
    QVERIFY2(
        all.contains(
            QStringLiteral("测试避雷器%1支:正常%2支,注意2支,异常1支.").arg(plan.size()).arg(plan.size() - 3)),
        qPrintable(all));

    // Every font embedded, the Song/Ming face among them.
    const QString fonts = Run(QStringLiteral("pdffonts"), {pdf}, &ok);
    QVERIFY(ok);
    bool song = false;
    const QStringList fontLines = fonts.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    QVERIFY(!fontLines.isEmpty());
    for (const QString &line : fontLines) {
      const QStringList cols = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
      QVERIFY2(cols.size() >= 6 && cols[cols.size() - 5] == QStringLiteral("yes"), qPrintable(fonts));
      song = song || line.contains(QRegularExpression(QStringLiteral("Ming|Song|CJK|Hei"),
                                                      QRegularExpression::CaseInsensitiveOption));
    }
    QVERIFY2(song, qPrintable(fonts));

    // Rendered coarsely: ink on every page, none in the 20 mm margins.
    const QString prefix = dir.filePath(QStringLiteral("page"));
    Run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-r"), QStringLiteral("50"), QStringLiteral("-png"), pdf, prefix}, &ok);
    QVERIFY(ok);
    const QStringList images =
        QDir(dir.path()).entryList({QStringLiteral("page*.png")}, QDir::Files, QDir::Name);
    QCOMPARE(images.size(), pageCount);
    const int margin = int(19 / 25.4 * 50);  // 20 mm less a pixel for smoothing
    for (const QString &name : images) {
      const QImage image = QImage(dir.filePath(name)).convertToFormat(QImage::Format_Grayscale8);
      QVERIFY(!image.isNull());
      int ink = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
          if (image.constScanLine(y)[x] > 200) continue;
          ++ink;
          const bool inside =
              x >= margin && x < image.width() - margin && y >= margin && y < image.height() - margin;
          QVERIFY2(inside, qPrintable(QStringLiteral("%1: ink at %2,%3").arg(name).arg(x).arg(y)));
        }
      QVERIFY2(ink > 500, qPrintable(name));
    }
  }
};

QTEST_MAIN(TestTestReport)
#include "test_test_report.moc"
