#pragma once
// The judgement page (分析): a round's arresters judged against their
// initial values, their previous results and their sister phases, with the
// thresholds in force above the table, a filter for 注意/异常 only, the
// counts below, and each arrester's history a double-click away. A result
// of an arrester without an initial value can be taken as its initial value.
// The round's test report is written as PDF or printed, its judgement
// exported as a workbook, and the selected arrester's trend (or its bay's)
// shown beside the table.
#include <QHash>
#include <QList>
#include <QWidget>
#include <memory>
#include <optional>

#include "archive/asset_store.h"
#include "assessment/judgement.h"

class Archive;
class CommonDialog;
class JudgementModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QPrinter;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class TrendPanel;
struct TestReport;

class JudgementPage : public QWidget {
  Q_OBJECT
 public:
  explicit JudgementPage(Archive &archive, QWidget *parent = nullptr);
  ~JudgementPage() override;

  void SelectRound(const QString &uuid);
  // The judged row behind a row of the (filtered) table.
  const JudgedResult &RowAt(const QModelIndex &viewIndex) const;

  QComboBox *RoundChoice;
  QLabel *ThresholdsLine, *CountsLine;
  QCheckBox *OnlyFlagged;
  QTableView *JudgementTable;
  JudgementModel *Model;
  QSortFilterProxyModel *Filter;
  QPushButton *HistoryButton, *SetInitialButton;
  QPushButton *ReportButton, *PrintButton, *WorkbookButton;
  TrendPanel *Trend;
  CommonDialog *Files;  // the report's and the workbook's save dialogs
  // The printer the report goes to (A4), made on first use.
  QPrinter &Printer();

 public slots:
  void Reload();
  // Judges the round chosen afresh.
  void Judge();
  void ShowHistory();
  // Takes the selected result as its arrester's initial value.
  void SetInitial();
  // The round's test report: its number and basis asked for, then a PDF
  // file; or the same pages through the print dialog. False when cancelled
  // or failed (a failure is shown in a message box).
  bool WriteReport();
  bool PrintReport();
  // The round's judgement and the station's results as an .xlsx workbook.
  bool ExportWorkbook();
  // The selected arrester's trend, or its bay's with 本间隔三相.
  void UpdateTrend();

 signals:
  void status(const QString &text);
  void edited();

 private:
  QModelIndex SelectedIndex() const;
  void UpdateButtons();
  std::optional<RoundRecord> CurrentRound() const;
  QList<RoundRecord> StationRounds(const QString &station) const;
  // The report of the round chosen, with the number and basis the user
  // confirmed; nothing when there is no result or the user cancelled.
  std::optional<TestReport> AskReport();
  void ShowFailure(const QString &title, const QString &text);

  Archive &archive_;
  AssetStore store_;
  QList<RoundRecord> rounds_;
  // What the round was judged from, kept for the histories.
  QList<ArresterRecord> arresters_;
  QList<ResultRecord> results_;
  Thresholds thresholds_;
  // The report number last confirmed for each round, and the basis last confirmed.
  QHash<QString, QString> reportNumbers_;
  QString reportBasis_;
  std::unique_ptr<QPrinter> printer_;
};
