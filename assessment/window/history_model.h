#pragma once
// The rows of an arrester's history as a table.
#include <QAbstractTableModel>

#include "assessment/window/history_dialog.h"

class HistoryModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    DateColumn,
    ValueColumn,
    InitialChangeColumn,
    PreviousChangeColumn,
    VerdictColumn,
    ReasonsColumn,
    SourceColumn,
    ColumnCount
  };

  explicit HistoryModel(const QList<HistoryEntry> &history, QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QList<HistoryEntry> history_;
};
