#pragma once
// The test rounds as a table, newest first, with how many results each holds.
#include <QAbstractTableModel>
#include <QHash>
#include <QList>

#include "archive/asset_types.h"

class RoundsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    DateColumn,
    StationColumn,
    TesterColumn,
    InstrumentColumn,
    WeatherColumn,
    TemperatureColumn,
    HumidityColumn,
    ResultsColumn,
    NoteColumn,
    ColumnCount
  };

  explicit RoundsModel(QObject *parent = nullptr);

  // `resultCounts`: the number of results of each round, by uuid.
  void SetRounds(const QList<RoundRecord> &rounds, const QHash<QString, int> &resultCounts);
  const RoundRecord &Round(int row) const { return rounds_.at(row); }
  int RowOf(const QString &uuid) const;

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  QList<RoundRecord> rounds_;
  QHash<QString, int> counts_;
};
