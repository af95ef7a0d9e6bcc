#pragma once
// The arrester register as a table: one row per arrester, in test order
// (station, voltage level highest first, bay, phase). Retired arresters are
// listed greyed.
#include <QAbstractTableModel>
#include <QList>

#include "archive/asset_types.h"

class RegisterModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    StationColumn,
    VoltageColumn,
    BayColumn,
    PhaseColumn,
    ModelColumn,
    SerialColumn,
    MakerColumn,
    CommissionedColumn,
    InitialColumn,
    InitialDateColumn,
    StateColumn,
    NoteColumn,
    ColumnCount
  };

  explicit RegisterModel(QObject *parent = nullptr);

  void SetArresters(QList<ArresterRecord> arresters);
  const QList<ArresterRecord> &Arresters() const { return arresters_; }
  const ArresterRecord &Arrester(int row) const { return arresters_.at(row); }
  // The row of the arrester with this uuid, or -1.
  int RowOf(const QString &uuid) const;

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QList<ArresterRecord> arresters_;
};
