#include "assessment/window/judgement_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include "archive/archive.h"
#include "assessment/window/asset_format.h"
#include "assessment/window/history_dialog.h"
#include "assessment/window/judgement_model.h"
#include "assessment/window/report_dialog.h"
#include "assessment/window/trend_panel.h"
#include "documents/common_dialog.h"
#include "reports/test_report.h"
#include "reports/trend_chart.h"
#include "reports/workbook.h"

JudgementPage::JudgementPage(Archive &archive, QWidget *parent)
    : QWidget(parent), archive_(archive), store_(archive) {
  setObjectName(QStringLiteral("JudgementPage"));
  RoundChoice = new QComboBox(this);
  RoundChoice->setObjectName(QStringLiteral("JudgedRound"));
  RoundChoice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  OnlyFlagged = new QCheckBox(QStringLiteral("只显示注意/异常(&F)"), this);
  OnlyFlagged->setObjectName(QStringLiteral("OnlyFlagged"));
  ThresholdsLine = new QLabel(this);
  ThresholdsLine->setObjectName(QStringLiteral("ThresholdsLine"));
  ThresholdsLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  CountsLine = new QLabel(this);
  CountsLine->setObjectName(QStringLiteral("JudgementCounts"));

  Model = new JudgementModel(this);
  Filter = new QSortFilterProxyModel(this);
  Filter->setObjectName(QStringLiteral("JudgementFilter"));
  Filter->setSourceModel(Model);
  Filter->setFilterRole(JudgementModel::VerdictRole);
  Filter->setFilterKeyColumn(JudgementModel::VerdictColumn);
  JudgementTable = new QTableView(this);
  JudgementTable->setObjectName(QStringLiteral("JudgementTable"));
  JudgementTable->setModel(Filter);
  JudgementTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  JudgementTable->setSelectionMode(QAbstractItemView::SingleSelection);
  JudgementTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  JudgementTable->verticalHeader()->hide();
  JudgementTable->horizontalHeader()->setStretchLastSection(true);

  HistoryButton = new QPushButton(QStringLiteral("历次测试(&H)..."), this);
  HistoryButton->setObjectName(QStringLiteral("HistoryButton"));
  HistoryButton->setAutoDefault(false);
  SetInitialButton = new QPushButton(QStringLiteral("设为初始值(&I)"), this);
  SetInitialButton->setObjectName(QStringLiteral("SetInitialButton"));
  SetInitialButton->setAutoDefault(false);
  SetInitialButton->setToolTip(QStringLiteral("该避雷器没有初始值: 把本次测量值记为它的初始值"));
  ReportButton = new QPushButton(QStringLiteral("生成报告(&G)..."), this);
  ReportButton->setObjectName(QStringLiteral("ReportButton"));
  ReportButton->setAutoDefault(false);
  ReportButton->setToolTip(QStringLiteral("把本次测试的试验报告保存为 PDF 文件"));
  PrintButton = new QPushButton(QStringLiteral("打印(&P)..."), this);
  PrintButton->setObjectName(QStringLiteral("PrintReportButton"));
  PrintButton->setAutoDefault(false);
  PrintButton->setToolTip(QStringLiteral("打印本次测试的试验报告"));
  WorkbookButton = new QPushButton(QStringLiteral("导出 Excel(&E)..."), this);
  WorkbookButton->setObjectName(QStringLiteral("WorkbookButton"));
  WorkbookButton->setAutoDefault(false);
  WorkbookButton->setToolTip(QStringLiteral("把判断结果和本站历次测量结果保存为 .xlsx 工作簿"));
  Files = new CommonDialog(this);
  Files->setObjectName(QStringLiteral("ReportFiles"));
  Files->Flags = CommonDialog::SaveOverwritePrompt;
  Files->InitDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  Trend = new TrendPanel(true, this);

  auto *top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("测试(&R):"), this));
  top->addWidget(RoundChoice);
  top->addWidget(OnlyFlagged);
  top->addStretch(1);
  top->addWidget(ReportButton);
  top->addWidget(PrintButton);
  top->addWidget(WorkbookButton);
  auto *bottom = new QHBoxLayout;
  bottom->addWidget(CountsLine, 1);
  bottom->addWidget(HistoryButton);
  bottom->addWidget(SetInitialButton);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ThresholdsLine);
  auto *split = new QSplitter(Qt::Vertical, this);
  split->setObjectName(QStringLiteral("JudgementSplit"));
  split->setChildrenCollapsible(false);
  split->addWidget(JudgementTable);
  split->addWidget(Trend);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);
  layout->addLayout(bottom);

  connect(RoundChoice, &QComboBox::currentIndexChanged, this, &JudgementPage::Judge);
  connect(OnlyFlagged, &QCheckBox::toggled, this, [this](bool only) {
    // Verdict values 1 and 2: 注意 and 异常.
    Filter->setFilterRegularExpression(only ? QRegularExpression(QStringLiteral("^[12]$"))
                                            : QRegularExpression());
  });
  connect(JudgementTable, &QTableView::doubleClicked, this, &JudgementPage::ShowHistory);
  connect(HistoryButton, &QPushButton::clicked, this, &JudgementPage::ShowHistory);
  connect(SetInitialButton, &QPushButton::clicked, this, &JudgementPage::SetInitial);
  connect(ReportButton, &QPushButton::clicked, this, &JudgementPage::WriteReport);
  connect(PrintButton, &QPushButton::clicked, this, &JudgementPage::PrintReport);
  connect(WorkbookButton, &QPushButton::clicked, this, &JudgementPage::ExportWorkbook);
  connect(Trend->BayToggle, &QCheckBox::toggled, this, &JudgementPage::UpdateTrend);
  connect(Trend, &TrendPanel::status, this, &JudgementPage::status);
  connect(JudgementTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &JudgementPage::UpdateButtons);
  connect(Filter, &QAbstractItemModel::modelReset, this, &JudgementPage::UpdateButtons);
  connect(Filter, &QAbstractItemModel::layoutChanged, this, &JudgementPage::UpdateButtons);
  UpdateButtons();
}

JudgementPage::~JudgementPage() = default;

void JudgementPage::Reload() {
  const QString current = RoundChoice->currentData().toString();
  rounds_.clear();
  if (archive_.isOpen()) {
    const std::optional<QList<RoundRecord>> rounds = store_.rounds();
    if (!rounds) emit status(QStringLiteral("读取测试记录失败,%1.").arg(store_.errorText()));
    rounds_ = rounds.value_or(QList<RoundRecord>());
  }
  {
    const QSignalBlocker quiet(RoundChoice);
    RoundChoice->clear();
    for (const RoundRecord &r : rounds_) {
      QString text = QStringLiteral("%1  %2").arg(DateText(r.date), CellText(r.station));
      if (!r.tester.isEmpty()) text += QStringLiteral("  ") + CellText(r.tester);
      RoundChoice->addItem(text, r.uuid);
    }
    RoundChoice->setCurrentIndex(std::max(0, RoundChoice->findData(current)));
  }
  Judge();
}

void JudgementPage::SelectRound(const QString &uuid) {
  const int i = RoundChoice->findData(uuid);
  if (i >= 0) RoundChoice->setCurrentIndex(i);
}

void JudgementPage::Judge() {
  // Read afresh each time: the user may have changed the file meanwhile.
  thresholds_ = LoadThresholds();
  ThresholdsLine->setText(ThresholdsText(thresholds_));
  const int i = RoundChoice->currentIndex();
  QList<JudgedResult> rows;
  arresters_.clear();
  results_.clear();
  if (i >= 0 && i < rounds_.size()) {
    const RoundRecord &round = rounds_.at(i);
    const std::optional<QList<ArresterRecord>> arresters = store_.arresters(round.station);
    const std::optional<QList<ResultRecord>> results =
        arresters ? store_.allResults(round.station) : std::nullopt;
    if (!arresters || !results) {
      emit status(QStringLiteral("读取测量结果失败,%1.").arg(store_.errorText()));
    } else {
      arresters_ = *arresters;
      results_ = *results;
      rows = JudgeRound(round, arresters_, rounds_, results_, thresholds_);
    }
  }
  Model->SetRows(rows);
  JudgementTable->resizeColumnsToContents();
  const VerdictCounts n = CountVerdicts(rows);
  CountsLine->setText(rows.isEmpty() ? QStringLiteral("本次测试没有测量结果")
                                     : QStringLiteral("共 %1 支: 正常 %2,注意 %3,异常 %4")
                                           .arg(rows.size())
                                           .arg(n.normal)
                                           .arg(n.attention)
                                           .arg(n.abnormal));
  UpdateButtons();
}

QModelIndex JudgementPage::SelectedIndex() const {
  const QModelIndexList rows = JudgementTable->selectionModel()->selectedRows();
  return rows.isEmpty() ? QModelIndex() : rows.constFirst();
}

const JudgedResult &JudgementPage::RowAt(const QModelIndex &viewIndex) const {
  return Model->Row(Filter->mapToSource(viewIndex).row());
}

void JudgementPage::UpdateButtons() {
  const QModelIndex index = SelectedIndex();
  HistoryButton->setEnabled(index.isValid());
  const bool judged = Model->rowCount() > 0;
  ReportButton->setEnabled(judged);
  PrintButton->setEnabled(judged);
  WorkbookButton->setEnabled(judged);
  bool offer = false;
  if (index.isValid()) {
    const JudgedResult &j = RowAt(index);
    offer = j.outcome.noInitial && j.result.reading == ResultReading::Value && j.result.milliAmps &&
            *j.result.milliAmps > 0;
  }
  SetInitialButton->setEnabled(offer);
  UpdateTrend();
}

void JudgementPage::ShowHistory() {
  const QModelIndex index = SelectedIndex();
  if (!index.isValid()) return;
  const ArresterRecord arrester = RowAt(index).arrester;
  HistoryDialog dialog(arrester, ArresterHistory(arrester, arresters_, rounds_, results_, thresholds_),
                       ArresterTrend(arrester, rounds_, results_, thresholds_), this);
  connect(dialog.Trend, &TrendPanel::status, this, &JudgementPage::status);
  dialog.exec();
}

void JudgementPage::SetInitial() {
  const QModelIndex index = SelectedIndex();
  if (!index.isValid()) return;
  const JudgedResult j = RowAt(index);
  if (!j.outcome.noInitial || !j.result.milliAmps) return;
  ArresterRecord a = j.arrester;
  a.initialMilliAmps = j.result.milliAmps;
  const int i = RoundChoice->currentIndex();
  if (i >= 0 && i < rounds_.size()) a.initialDate = rounds_.at(i).date;
  a.modifiedMs = 0;
  if (!store_.saveArrester(a)) {
    emit status(QStringLiteral("保存初始值失败,%1.").arg(store_.errorText()));
    return;
  }
  emit status(QStringLiteral("已将 %1 mA 设为 %2 %3 %4相的初始值")
                  .arg(MilliAmpsText(a.initialMilliAmps), CellText(a.voltageLevel), CellText(a.bay),
                       CellText(a.phase)));
  Judge();
  emit edited();
}

void JudgementPage::UpdateTrend() {
  const QModelIndex index = SelectedIndex();
  if (!index.isValid()) {
    Trend->ClearChart();
    return;
  }
  const ArresterRecord &a = RowAt(index).arrester;
  Trend->SetChart(Trend->BayToggle->isChecked()
                      ? BayTrend(a.station, a.voltageLevel, a.bay, arresters_, rounds_, results_, thresholds_)
                      : ArresterTrend(a, rounds_, results_, thresholds_));
}

std::optional<RoundRecord> JudgementPage::CurrentRound() const {
  const int i = RoundChoice->currentIndex();
  if (i < 0 || i >= rounds_.size()) return std::nullopt;
  return rounds_.at(i);
}

QList<RoundRecord> JudgementPage::StationRounds(const QString &station) const {
  QList<RoundRecord> kept;
  for (const RoundRecord &r : rounds_)
    if (r.station == station) kept << r;
  return kept;
}

void JudgementPage::ShowFailure(const QString &title, const QString &text) {
  emit status(text);
  QMessageBox::warning(this, title, text);
}

std::optional<TestReport> JudgementPage::AskReport() {
  // Copies: the page may be read afresh while the dialog is open.
  const std::optional<RoundRecord> round = CurrentRound();
  if (!round) return std::nullopt;
  TestReport report =
      MakeTestReport(*round, arresters_, StationRounds(round->station), results_, thresholds_);
  // A report of nothing would be filed as if the round had been made.
  if (report.rows.isEmpty()) return std::nullopt;
  report.number = reportNumbers_.value(round->uuid, report.number);
  if (!reportBasis_.isEmpty()) report.basis = reportBasis_;
  ReportDialog dialog(report.number, report.basis, this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  report.number = dialog.Number();
  report.basis = dialog.Basis();
  reportNumbers_.insert(round->uuid, report.number);
  reportBasis_ = report.basis;
  return report;
}

bool JudgementPage::WriteReport() {
  const std::optional<TestReport> report = AskReport();
  if (!report) return false;
  Files->Filter = QStringLiteral("PDF 文件 (*.pdf)|*.pdf");
  Files->FilterIndex = 1;
  Files->DefaultExt = QStringLiteral(".pdf");
  Files->FileName = FileNameText(report->number, QStringLiteral("试验报告")) + QStringLiteral(".pdf");
  if (Files->ShowSave() != CommonDialog::Accepted) return false;
  const QString path = QDir::fromNativeSeparators(Files->FileName);
  Files->InitDir = QFileInfo(path).absolutePath();
  QString error;
  if (!WriteTestReportPdf(*report, path, &error)) {
    ShowFailure(QStringLiteral("生成报告"),
                QStringLiteral("无法生成报告 %1,%2.").arg(QDir::toNativeSeparators(path), error));
    return false;
  }
  emit status(QStringLiteral("报告 %1 已保存到 %2").arg(report->number, QDir::toNativeSeparators(path)));
  return true;
}

QPrinter &JudgementPage::Printer() {
  if (!printer_) {
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setPageSize(QPageSize(QPageSize::A4));
    printer_->setPageOrientation(QPageLayout::Portrait);
  }
  return *printer_;
}

bool JudgementPage::PrintReport() {
  const std::optional<TestReport> report = AskReport();
  if (!report) return false;
  QPrinter &printer = Printer();
  printer.setDocName(QStringLiteral("试验报告 %1").arg(report->number));
  // The report is laid out whole: no page range to choose.
  Files->Flags = CommonDialog::PrintNoPageNums;
  const int outcome = Files->ShowPrinter(printer);
  Files->Flags = CommonDialog::SaveOverwritePrompt;
  if (outcome == CommonDialog::Dismissed || outcome == CommonDialog::Cancelled) return false;
  if (outcome != CommonDialog::Accepted) {
    ShowFailure(QStringLiteral("打印"), QStringLiteral("无法打印报告,%1").arg(Files->ErrorDescription));
    return false;
  }
  QPainter painter;
  int pages = 0;
  if (painter.begin(&printer)) {
    pages = PaintTestReport(*report, printer, painter);
    if (!painter.end()) pages = 0;
  }
  if (pages <= 0) {
    ShowFailure(QStringLiteral("打印"), QStringLiteral("打印报告 %1 失败.").arg(report->number));
    return false;
  }
  emit status(QStringLiteral("报告 %1 已送去打印,共 %2 页").arg(report->number).arg(pages));
  return true;
}

bool JudgementPage::ExportWorkbook() {
  const std::optional<RoundRecord> round = CurrentRound();
  if (!round || Model->rowCount() == 0) return false;
  // What the table shows, and the station's register, rounds and results it was judged from.
  QList<JudgedResult> rows;
  for (int i = 0; i < Model->rowCount(); ++i) rows << Model->Row(i);
  const QList<ArresterRecord> arresters = arresters_;
  const QList<RoundRecord> rounds = StationRounds(round->station);
  const QList<ResultRecord> results = results_;
  const Thresholds thresholds = thresholds_;

  Files->Filter = QStringLiteral("Excel 工作簿 (*.xlsx)|*.xlsx");
  Files->FilterIndex = 1;
  Files->DefaultExt = QStringLiteral(".xlsx");
  Files->FileName =
      FileNameText(
          QStringLiteral("%1-%2-判断").arg(round->station, round->date.toString(QStringLiteral("yyyyMMdd"))),
          QStringLiteral("判断")) +
      QStringLiteral(".xlsx");
  if (Files->ShowSave() != CommonDialog::Accepted) return false;
  const QString path = QDir::fromNativeSeparators(Files->FileName);
  Files->InitDir = QFileInfo(path).absolutePath();
  QString error;
  if (!WriteJudgementWorkbook(path, *round, rows, thresholds, arresters, rounds, results, &error)) {
    ShowFailure(QStringLiteral("导出 Excel"),
                QStringLiteral("无法导出 %1,%2.").arg(QDir::toNativeSeparators(path), error));
    return false;
  }
  emit status(QStringLiteral("判断结果已导出到 %1").arg(QDir::toNativeSeparators(path)));
  return true;
}
