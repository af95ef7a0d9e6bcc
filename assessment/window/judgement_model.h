#pragma once
// A round's judgement as a table: each arrester's value beside its initial
// and previous values, the changes, the deviation from its sister phases,
// and the conclusion, coloured, with its reasons.
#include <QAbstractTableModel>
#include <QList>

#include "assessment/judgement.h"

class JudgementModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    StationColumn,
    VoltageColumn,
    BayColumn,
    PhaseColumn,
    ValueColumn,
    InitialColumn,
    InitialChangeColumn,
    PreviousColumn,
    PreviousChangeColumn,
    PhaseDeviationColumn,
    VerdictColumn,
    ReasonsColumn,
    ColumnCount
  };
  // Every cell answers this role with the row's verdict (int of Verdict),
  // for filtering.
  static constexpr int VerdictRole = Qt::UserRole + 1;

  explicit JudgementModel(QObject *parent = nullptr);

  void SetRows(const QList<JudgedResult> &rows);
  const JudgedResult &Row(int row) const { return rows_.at(row); }

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QList<JudgedResult> rows_;
};
