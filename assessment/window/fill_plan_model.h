#pragma once
// Filling a round from a download, as a table: each arrester of the test
// order beside the group it gets, then the groups left over.
#include <QAbstractTableModel>

#include "assessment/round_fill.h"

class FillPlanModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    NumberColumn,
    VoltageColumn,
    BayColumn,
    PhaseColumn,
    SerialColumn,
    GroupColumn,
    ValueColumn,
    RemarkColumn,
    ColumnCount
  };

  explicit FillPlanModel(QObject *parent = nullptr);

  void SetPlan(const FillPlan &plan, const FillCorrections &corrections);
  const FillPlan &Plan() const { return plan_; }
  // The test-order position of a row, or -1 for a left-over group.
  int PositionOf(int row) const { return row < plan_.pairs.size() ? row : -1; }
  // The group number a row shows, or 0.
  int GroupOf(int row) const;

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  const ArchivedRow *GroupAt(int row) const;

  FillPlan plan_;
  FillCorrections corrections_;
};
