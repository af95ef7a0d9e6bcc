#pragma once
// One arrester's history: its trend above every result of every round,
// oldest first, with its change against the initial value and the
// conclusion it got.
#include <QDate>
#include <QDialog>
#include <QList>

#include "assessment/judgement.h"

class QTableView;
class TrendPanel;
struct TrendChart;

struct HistoryEntry {
  QDate date;                  // of the round
  qint64 roundModifiedMs = 0;  // orders two rounds of one day
  QString roundUuid;
  JudgedResult judged;
};

// Judges each round of the arrester's station that holds a result for it,
// oldest first; the same judgement the rounds' tables show.
QList<HistoryEntry> ArresterHistory(const ArresterRecord &arrester, const QList<ArresterRecord> &arresters,
                                    const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                                    const Thresholds &thresholds);

class HistoryDialog : public QDialog {
  Q_OBJECT
 public:
  HistoryDialog(const ArresterRecord &arrester, const QList<HistoryEntry> &history, const TrendChart &trend,
                QWidget *parent = nullptr);

  TrendPanel *Trend;
  QTableView *HistoryTable;
};
