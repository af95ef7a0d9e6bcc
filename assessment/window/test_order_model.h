#pragma once
// A station's test order as a numbered table: the order in which the
// engineer clamps the arresters and stores one group each in the meter.
#include <QAbstractTableModel>
#include <QList>

#include "archive/asset_types.h"

class TestOrderModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { NumberColumn, VoltageColumn, BayColumn, PhaseColumn, SerialColumn, ModelColumn, ColumnCount };

  explicit TestOrderModel(const QList<ArresterRecord> &order, QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QList<ArresterRecord> order_;
};
