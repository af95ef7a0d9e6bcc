// The register window end to end over a temporary archive: its pages are
// driven through their buttons, dialogs and models as a user would, and what
// they stored is read back from the archive through a second connection.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPrinter>
#include <QPrintDialog>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "app/form2.h"
#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/window/asset_window.h"
#include "assessment/window/fill_dialog.h"
#include "assessment/window/history_dialog.h"
#include "assessment/window/import_preview_dialog.h"
#include "assessment/window/import_preview_model.h"
#include "assessment/window/judgement_model.h"
#include "assessment/window/judgement_page.h"
#include "assessment/window/register_model.h"
#include "assessment/window/register_page.h"
#include "assessment/window/report_dialog.h"
#include "assessment/window/rounds_model.h"
#include "assessment/window/rounds_page.h"
#include "assessment/window/trend_panel.h"
#include "assessment/window/trend_view.h"
#include "support/event_wait.h"
#include "support/modal_answer.h"

using testsupport::answerModal;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), bytes.size());
}

QStringList Column(const QAbstractItemModel *model, int column, int role = Qt::DisplayRole) {
  QStringList cells;
  for (int row = 0; row < model->rowCount(); ++row) cells << model->index(row, column).data(role).toString();
  return cells;
}

// Three phases of one 110 kV bay of 城东站, each with an initial value.
QList<ArresterRecord> Bay(double initial) {
  QList<ArresterRecord> bay;
  for (const char *phase : {"C", "A", "B"}) {  // stored out of order on purpose
    ArresterRecord a;
    a.station = QStringLiteral("城东站");
    a.voltageLevel = QStringLiteral("110kV");
    a.bay = QStringLiteral("1号主变");
    a.phase = QString::fromLatin1(phase);
    a.serialNumber = QStringLiteral("S-%1").arg(QLatin1String(phase));
    if (initial > 0) a.initialMilliAmps = initial;
    bay << a;
  }
  return bay;
}

// The bay of Bay(0.5) measured in two rounds of 城东站: last year's, then
// this year's with A +10 %, B +40 %, C +60 % on the initial value.
void StoreTwoRounds(const QString &path) {
  Archive a;
  QVERIFY(a.open(path));
  AssetStore store(a);
  QVERIFY(store.importArresters(Bay(0.5)));
  QHash<QString, QString> uuidOf;
  const QList<ArresterRecord> arresters = store.arresters().value_or(QList<ArresterRecord>());
  for (const ArresterRecord &r : arresters) uuidOf.insert(r.phase, r.uuid);
  const QList<std::pair<QDate, QList<double>>> rounds = {{QDate(2023, 5, 1), {0.50, 0.52, 0.55}},
                                                         {QDate(2024, 5, 1), {0.55, 0.70, 0.80}}};
  for (const auto &[date, values] : rounds) {
    RoundRecord round;
    round.station = QStringLiteral("城东站");
    round.date = date;
    QVERIFY(store.saveRound(round));
    QList<ResultRecord> results;
    for (int i = 0; i < 3; ++i) {
      ResultRecord r;
      r.roundUuid = round.uuid;
      r.arresterUuid = uuidOf.value(QString(QChar(u'A' + i)));
      r.milliAmps = values[i];
      results << r;
    }
    QVERIFY(store.saveResults(results));
  }
}

// Answers a save dialog with `path` typed in its name box.
std::function<void(QFileDialog *)> SaveAs(const QString &path) {
  return [path](QFileDialog *d) {
    d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
    static_cast<QDialog *>(d)->accept();
  };
}

QByteArray Head(const QString &path, int bytes) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
}

}  // namespace

class TestAssessmentWindow : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString path_;
  int archives_ = 0;

  // A new, empty archive for each case.
  QString NewArchive() { return dir_.filePath(QStringLiteral("archive%1.sqlite").arg(++archives_)); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    // The judgement's thresholds file is looked for here: none, so defaults.
    qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("HOME", dir_.path().toLocal8Bit());
    testsupport::makeTemporaryPortsDir();
  }

  // A faulty row blocks the whole import and is shown with its line; once
  // mended the file adds every row, and a second import updates in place.
  void importPreviewBlocksFaultyRowsThenImports() {
    const QString path = NewArchive();
    AssetWindow w(path);
    w.show();
    RegisterPage *page = w.Register;
    const QString csv = dir_.filePath(QStringLiteral("register.csv"));
    const QByteArray header = "变电站,电压等级,间隔,相别,出厂编号,初始值\r\n";
    WriteFile(csv, header +
                       "城东站,110kV,1号主变,A,S-A,0.50\r\n"
                       "城东站,110kV,,B,S-B,0.52\r\n"  // line 3: no bay
                       "城东站,110kV,1号主变,C,S-C,0.55mA\r\n");

    QString summary;
    bool confirmEnabled = true;
    QStringList lines, actions;
    auto answered = answerModal<ImportPreviewDialog>([&](ImportPreviewDialog *d) {
      summary = d->Summary->text();
      confirmEnabled = d->ConfirmButton->isEnabled();
      lines = Column(d->Model, ImportPreviewModel::LineColumn);
      actions = Column(d->Model, ImportPreviewModel::ActionColumn);
      d->ConfirmButton->click();  // disabled: does nothing
      d->reject();
    });
    QVERIFY(!page->ImportFile(csv));
    QVERIFY(*answered);
    QVERIFY(!confirmEnabled);
    QVERIFY2(summary.contains(QLatin1String("3")), qPrintable(summary));
    QCOMPARE(actions.at(lines.indexOf(QStringLiteral("3"))), QStringLiteral("错误"));
    QCOMPARE(page->Model->rowCount(), 0);

    WriteFile(csv, header +
                       "城东站,110kV,1号主变,A,S-A,0.50\r\n"
                       "城东站,110kV,1号主变,B,S-B,0.52\r\n"
                       "城东站,110kV,1号主变,C,S-C,0.55mA\r\n");
    answered = answerModal<ImportPreviewDialog>([&](ImportPreviewDialog *d) {
      confirmEnabled = d->ConfirmButton->isEnabled();
      actions = Column(d->Model, ImportPreviewModel::ActionColumn);
      d->ConfirmButton->click();
    });
    QVERIFY(page->ImportFile(csv));
    QVERIFY(*answered && confirmEnabled);
    QCOMPARE(actions, QStringList(3, QStringLiteral("新增")));
    QCOMPARE(page->Model->rowCount(), 3);

    // The same file with one initial value changed: an update, no duplicate.
    WriteFile(csv, header +
                       "城东站,110kV,1号主变,A,S-A,0.50\r\n"
                       "城东站,110kV,1号主变,B,S-B,0.60\r\n"
                       "城东站,110kV,1号主变,C,S-C,0.55mA\r\n");
    QStringList details;
    answered = answerModal<ImportPreviewDialog>([&](ImportPreviewDialog *d) {
      actions = Column(d->Model, ImportPreviewModel::ActionColumn);
      details = Column(d->Model, ImportPreviewModel::DetailColumn);
      d->ConfirmButton->click();
    });
    QVERIFY(page->ImportFile(csv));
    QVERIFY(*answered);
    QCOMPARE(actions, (QStringList{QStringLiteral("不变"), QStringLiteral("更新"), QStringLiteral("不变")}));
    QVERIFY2(details.at(1).contains(QStringLiteral("初始值")), qPrintable(details.at(1)));
    QCOMPARE(page->Model->rowCount(), 3);
  }

  // Four groups for three arresters: the second group was measured again,
  // so it is skipped and the later groups move up to B and C.
  void fillFromDownloadWithASkippedGroup() {
    const QString path = NewArchive();
    RoundRecord round;
    QString download;
    {
      Archive a;
      QVERIFY(a.open(path));
      AssetStore store(a);
      QVERIFY(store.importArresters(Bay(0.5)));
      round.station = QStringLiteral("城东站");
      round.date = QDate(2024, 5, 1);
      QVERIFY(store.saveRound(round));
      QByteArray block;
      for (int hundredths : {50, 99, 51, 52}) block.append(char(0)).append(char(hundredths)).append(char(2));
      DownloadInfo info;
      info.utcMs = 1714531200000;
      info.portName = QStringLiteral("COM1");
      info.groupsAnnounced = 4;
      download = a.addDownload(info, block);
      QVERIFY(!download.isEmpty());
    }

    AssetWindow w(path);
    w.show();
    RoundsPage *page = w.Rounds;
    QCOMPARE(page->Rounds->rowCount(), 1);
    page->RoundsTable->selectRow(0);
    bool exactBefore = true, exactAfter = false, confirmBefore = true, confirmAfter = false;
    QString summaryBefore;
    auto answered = answerModal<FillDialog>([&](FillDialog *d) {
      exactBefore = d->Plan().exact();
      confirmBefore = d->ConfirmButton->isEnabled();
      summaryBefore = d->Summary->text();
      d->FillTable->selectRow(1);  // phase B with the first try, group 2
      d->SkipGroupButton->click();
      exactAfter = d->Plan().exact();
      confirmAfter = d->ConfirmButton->isEnabled();
      d->ConfirmButton->click();
    });
    page->FillButton->click();
    QVERIFY(*answered);
    QVERIFY(!exactBefore && !confirmBefore);
    QVERIFY2(summaryBefore.contains(QStringLiteral("1 组多余")), qPrintable(summaryBefore));
    QVERIFY(exactAfter && confirmAfter);

    Archive a;
    QVERIFY(a.open(path));
    AssetStore store(a);
    QHash<QString, QString> phaseOf;
    const QList<ArresterRecord> arresters = store.arresters().value_or(QList<ArresterRecord>());
    for (const ArresterRecord &r : arresters) phaseOf.insert(r.uuid, r.phase);
    QStringList stored;
    const QList<ResultRecord> results = store.results(round.uuid).value_or(QList<ResultRecord>());
    for (const ResultRecord &r : results) {
      QCOMPARE(r.source, ResultSource::Download);
      QCOMPARE(r.sourceUuid, download);
      stored << QStringLiteral("%1 group %2 %3")
                    .arg(phaseOf.value(r.arresterUuid))
                    .arg(r.sourceGroup)
                    .arg(r.milliAmps.value_or(-1), 0, 'f', 3);
    }
    stored.sort();
    QCOMPARE(stored, (QStringList{QStringLiteral("A group 1 0.500"), QStringLiteral("B group 3 0.510"),
                                  QStringLiteral("C group 4 0.520")}));
  }

  // One normal, one attention, one abnormal result: each conclusion has its
  // own colour, the filter keeps the two flagged ones, and the history of an
  // arrester lists both rounds oldest first.
  void judgementColoursFilterAndHistory() {
    const QString path = NewArchive();
    StoreTwoRounds(path);
    if (QTest::currentTestFailed()) return;

    AssetWindow w(path);
    w.show();
    JudgementPage *page = w.Judgement;
    QCOMPARE(page->RoundChoice->count(), 2);
    QVERIFY(page->RoundChoice->currentText().startsWith(QStringLiteral("2024-05-01")));  // newest first
    QVERIFY(page->ThresholdsLine->text().contains(QStringLiteral("30")));
    const QAbstractItemModel *table = page->JudgementTable->model();
    QCOMPARE(Column(table, JudgementModel::PhaseColumn), (QStringList{"A", "B", "C"}));
    QCOMPARE(Column(table, JudgementModel::VerdictColumn),
             (QStringList{QStringLiteral("正常"), QStringLiteral("注意"), QStringLiteral("异常")}));
    QCOMPARE(Column(table, JudgementModel::InitialChangeColumn), (QStringList{"+10.0", "+40.0", "+60.0"}));
    QCOMPARE(Column(table, JudgementModel::PreviousColumn), (QStringList{"0.500", "0.520", "0.550"}));
    QCOMPARE(Column(table, JudgementModel::PhaseDeviationColumn), (QStringList{"-21.4", "+0.0", "+14.3"}));
    QList<QColor> colours;
    for (int row = 0; row < 3; ++row)
      colours << table->index(row, JudgementModel::VerdictColumn).data(Qt::BackgroundRole).value<QColor>();
    QVERIFY(colours[0].green() > colours[0].red());                                          // green-ish
    QVERIFY(colours[1].red() > 200 && colours[1].green() > 120 && colours[1].blue() < 150);  // amber
    QVERIFY(colours[2].red() > 200 && colours[2].green() < 150);                             // red
    QVERIFY(colours[1] != colours[2]);
    for (int column = 0; column < JudgementModel::ColumnCount; ++column)
      if (column != JudgementModel::VerdictColumn)
        QVERIFY(!table->index(0, column).data(Qt::BackgroundRole).isValid());

    page->OnlyFlagged->setChecked(true);
    QCOMPARE(Column(table, JudgementModel::PhaseColumn), (QStringList{"B", "C"}));
    QVERIFY(page->CountsLine->text().contains(QStringLiteral("正常 1,注意 1,异常 1")));

    page->JudgementTable->selectRow(0);  // B, through the filter
    QStringList dates, values;
    auto answered = answerModal<HistoryDialog>([&](HistoryDialog *d) {
      dates = Column(d->HistoryTable->model(), 0);
      values = Column(d->HistoryTable->model(), 1);
      d->reject();
    });
    page->HistoryButton->click();
    QVERIFY(*answered);
    QCOMPARE(dates, (QStringList{"2023-05-01", "2024-05-01"}));
    QCOMPARE(values, (QStringList{"0.520", "0.700"}));
  }

  // 生成报告 asks for the number and basis, then the file: the PDF holds
  // every arrester of the round under the number given; 导出 Excel writes
  // the workbook; 打印 sends the same report through the print dialog.
  void reportAndWorkbookOfTheRound() {
    const QString path = NewArchive();
    StoreTwoRounds(path);
    if (QTest::currentTestFailed()) return;
    AssetWindow w(path);
    w.show();
    JudgementPage *page = w.Judgement;
    QVERIFY(page->ReportButton->isEnabled());

    const QString pdf = dir_.filePath(QStringLiteral("报告.pdf"));
    QString offered;
    auto asked = answerModal<ReportDialog>([&](ReportDialog *d) {
      offered = d->NumberEdit->text();
      d->NumberEdit->setText(QStringLiteral("城东站-20240501-07"));
      d->OkButton->click();
    });
    auto named = answerModal<QFileDialog>(SaveAs(pdf));
    page->ReportButton->click();
    QVERIFY(*asked && *named);
    QCOMPARE(offered, QStringLiteral("城东站-20240501-01"));
    QCOMPARE(Head(pdf, 4), QByteArray("%PDF"));

    const QString xlsx = dir_.filePath(QStringLiteral("判断.xlsx"));
    named = answerModal<QFileDialog>(SaveAs(xlsx));
    page->WorkbookButton->click();
    QVERIFY(*named);
    QCOMPARE(Head(xlsx, 2), QByteArray("PK"));

    // 打印 draws the same pages on the printer, under the number given last time.
    const QString printed = dir_.filePath(QStringLiteral("printed.pdf"));
    page->Printer().setOutputFormat(QPrinter::PdfFormat);
    page->Printer().setOutputFileName(printed);
    asked = answerModal<ReportDialog>([&](ReportDialog *d) {
      offered = d->NumberEdit->text();
      d->OkButton->click();
    });
    auto printing = answerModal<QPrintDialog>([](QPrintDialog *d) { d->accept(); });
    page->PrintButton->click();
    QVERIFY(*asked && *printing);
    QCOMPARE(offered, QStringLiteral("城东站-20240501-07"));

    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
      QSKIP("pdftotext is not installed");
    for (const QString &file : {pdf, printed}) {
      QProcess text;
      text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
      QVERIFY(text.waitForFinished(30000));
      const QString report = QString::fromUtf8(text.readAllStandardOutput());
      for (const QString &expected :
           {QStringLiteral("金属氧化物避雷器带电测试报告"), QStringLiteral("城东站-20240501-07"),
            QStringLiteral("S-A"), QStringLiteral("S-B"), QStringLiteral("S-C")})
        QVERIFY2(report.contains(expected), qPrintable(file + QLatin1Char(' ') + expected));
    }
  }

  // The trend below the table follows the selection, shows the bay's three
  // phases on request, and is saved as SVG; the history's own trend as PNG.
  void trendOfTheSelectedArrester() {
    const QString path = NewArchive();
    StoreTwoRounds(path);
    if (QTest::currentTestFailed()) return;
    AssetWindow w(path);
    w.show();
    JudgementPage *page = w.Judgement;
    w.Pages->setCurrentWidget(page);
    TrendPanel *trend = page->Trend;
    QVERIFY(!trend->View->HasChart() && !trend->SaveButton->isEnabled());

    page->JudgementTable->selectRow(1);  // B
    QVERIFY(trend->View->HasChart());
    TrendChart chart = trend->View->Chart();
    QVERIFY2(chart.title.contains(QStringLiteral("S-B")), qPrintable(chart.title));
    QCOMPARE(chart.series.size(), 1);
    QStringList values;
    for (const TrendPoint &p : chart.series[0].points)
      values << QStringLiteral("%1 %2").arg(p.date.toString(Qt::ISODate)).arg(p.milliAmps.value_or(-1));
    QCOMPARE(values, (QStringList{"2023-05-01 0.52", "2024-05-01 0.7"}));
    QCOMPARE(chart.initialMilliAmps, std::optional<double>(0.5));
    // The view paints it: each result's marker where the chart's layout puts it.
    const QImage shown = trend->View->grab().toImage();
    const TrendLayout at = LayoutTrend(chart, QRectF(trend->View->rect()));
    for (const TrendPoint &p : chart.series[0].points)
      QCOMPARE(shown.pixelColor(qRound(at.x(p.date)), qRound(at.y(*p.milliAmps))).rgb(),
               TrendSeriesColor(0).rgb());

    trend->BayToggle->setChecked(true);
    QCOMPARE(trend->View->Chart().series.size(), 3);
    const QString svg = dir_.filePath(QStringLiteral("bay.svg"));
    auto named = answerModal<QFileDialog>(SaveAs(svg));
    trend->SaveButton->click();
    QVERIFY(*named);
    QVERIFY(Head(svg, 4096).contains("<svg"));

    const QString png = dir_.filePath(QStringLiteral("history.png"));
    int historySeries = 0;
    auto shownHistory = answerModal<HistoryDialog>([&](HistoryDialog *d) {
      historySeries = int(d->Trend->View->Chart().series.size());
      auto saved = answerModal<QFileDialog>(SaveAs(png));
      d->Trend->SaveButton->click();
      d->reject();
    });
    page->HistoryButton->click();
    QVERIFY(*shownHistory);
    QCOMPARE(historySeries, 1);
    QCOMPARE(Head(png, 4), QByteArray("\x89PNG"));

    // Another round: nothing selected, no trend left from the last one.
    page->RoundChoice->setCurrentIndex(1);
    QVERIFY(!trend->View->HasChart() && !trend->SaveButton->isEnabled());
  }

  // The file menu's item opens the window on the program's archive, without
  // blocking the main window, and a second use brings the same one back.
  void menuItemOpensTheWindowNonModally() {
    const QString path = NewArchive();
    Form2 form;
    form.AttachArchive(path, nullptr);
    auto *item = form.findChild<QAction *>(QStringLiteral("mnuassets"));
    QVERIFY(item);
    item->trigger();
    auto *window = form.findChild<AssetWindow *>(QStringLiteral("AssetWindow"));
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("避雷器台账"));
    QCOMPARE(window->windowModality(), Qt::NonModal);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(window->ArchivePath(), path);
    QVERIFY(QFile::exists(path));
    item->trigger();
    QCOMPARE(form.findChildren<AssetWindow *>().size(), 1);
  }
};

QTEST_MAIN(TestAssessmentWindow)
#include "test_assessment_window.moc"
