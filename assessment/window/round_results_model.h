#pragma once
// One round's arresters in test order, each with its result if it has one;
// arresters retired since, that still have a result in the round, follow.
#include <QAbstractTableModel>
#include <QList>
#include <optional>

#include "archive/asset_types.h"

class RoundResultsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    NumberColumn,
    VoltageColumn,
    BayColumn,
    PhaseColumn,
    SerialColumn,
    ValueColumn,
    SourceColumn,
    KvColumn,
    NoteColumn,
    ColumnCount
  };

  struct Row {
    ArresterRecord arrester;
    std::optional<ResultRecord> result;
    bool inOrder = true;  // part of the station's test order
  };

  explicit RoundResultsModel(QObject *parent = nullptr);

  // `order` the station's test order, `arresters` the whole register (for
  // results of arresters not in the order), `results` the round's results.
  void SetRound(const QList<ArresterRecord> &order, const QList<ArresterRecord> &arresters,
                const QList<ResultRecord> &results);
  const Row &At(int row) const { return rows_.at(row); }
  int RowOf(const QString &arresterUuid) const;

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QList<Row> rows_;
};
