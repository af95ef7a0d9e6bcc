#include "assessment/window/history_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "assessment/window/asset_format.h"
#include "assessment/window/history_model.h"
#include "assessment/window/trend_panel.h"
#include "reports/trend_chart.h"

QList<HistoryEntry> ArresterHistory(const ArresterRecord &arrester, const QList<ArresterRecord> &arresters,
                                    const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                                    const Thresholds &thresholds) {
  QList<HistoryEntry> history;
  for (const RoundRecord &round : rounds) {
    const bool measured = std::any_of(results.begin(), results.end(), [&](const ResultRecord &r) {
      return r.roundUuid == round.uuid && r.arresterUuid == arrester.uuid;
    });
    if (!measured) continue;
    for (const JudgedResult &j : JudgeRound(round, arresters, rounds, results, thresholds))
      if (j.arrester.uuid == arrester.uuid)
        history << HistoryEntry{round.date, round.modifiedMs, round.uuid, j};
  }
  std::stable_sort(history.begin(), history.end(), [](const HistoryEntry &a, const HistoryEntry &b) {
    return a.date != b.date ? a.date < b.date : a.roundModifiedMs < b.roundModifiedMs;
  });
  return history;
}

HistoryDialog::HistoryDialog(const ArresterRecord &arrester, const QList<HistoryEntry> &history,
                             const TrendChart &trend, QWidget *parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("HistoryDialog"));
  const QString title =
      CellText(QStringLiteral("%1 %2 %3 %4相")
                   .arg(arrester.station, arrester.voltageLevel, arrester.bay, arrester.phase));
  setWindowTitle(QStringLiteral("历次测试 - %1").arg(title));
  QString about = title;
  if (!arrester.serialNumber.isEmpty())
    about += QStringLiteral("  出厂编号 ") + CellText(arrester.serialNumber);
  about += arrester.initialMilliAmps
               ? QStringLiteral("  初始值 %1 mA").arg(MilliAmpsText(arrester.initialMilliAmps))
               : QStringLiteral("  无初始值");
  if (arrester.initialDate.isValid()) about += QStringLiteral(" (%1)").arg(DateText(arrester.initialDate));

  Trend = new TrendPanel(false, this);
  Trend->SetChart(trend);
  HistoryTable = new QTableView(this);
  HistoryTable->setObjectName(QStringLiteral("HistoryTable"));
  HistoryTable->setModel(new HistoryModel(history, this));
  HistoryTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  HistoryTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  HistoryTable->verticalHeader()->hide();
  HistoryTable->horizontalHeader()->setStretchLastSection(true);
  HistoryTable->resizeColumnsToContents();

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(about, this));
  auto *split = new QSplitter(Qt::Vertical, this);
  split->setChildrenCollapsible(false);
  split->addWidget(Trend);
  split->addWidget(HistoryTable);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);
  layout->addWidget(buttons);
  resize(720, 640);
}
