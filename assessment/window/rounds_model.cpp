#include "assessment/window/rounds_model.h"

#include "assessment/window/asset_format.h"

RoundsModel::RoundsModel(QObject *parent) : QAbstractTableModel(parent) {
  setObjectName(QStringLiteral("RoundsModel"));
}

void RoundsModel::SetRounds(const QList<RoundRecord> &rounds, const QHash<QString, int> &resultCounts) {
  beginResetModel();
  rounds_ = rounds;
  counts_ = resultCounts;
  endResetModel();
}

int RoundsModel::RowOf(const QString &uuid) const {
  for (int i = 0; i < rounds_.size(); ++i)
    if (rounds_.at(i).uuid == uuid) return i;
  return -1;
}

int RoundsModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(rounds_.size());
}

int RoundsModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant RoundsModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rounds_.size()) return {};
  const RoundRecord &r = rounds_.at(index.row());
  if (role == Qt::ToolTipRole && !r.hostName.isEmpty())
    return QStringLiteral("%1@%2").arg(CellText(r.userName), CellText(r.hostName));
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case DateColumn: return DateText(r.date);
    case StationColumn: return CellText(r.station);
    case TesterColumn: return CellText(r.tester);
    case InstrumentColumn: return CellText(r.instrument);
    case WeatherColumn: return CellText(r.weather);
    case TemperatureColumn: return r.temperatureC ? QString::number(*r.temperatureC, 'f', 1) : QString();
    case HumidityColumn: return r.humidityPercent ? QString::number(*r.humidityPercent, 'f', 0) : QString();
    case ResultsColumn: return counts_.value(r.uuid);
    case NoteColumn: return CellText(r.note);
    default: return {};
  }
}

QVariant RoundsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"日期",     u"变电站",  u"测试人员", u"仪器", u"天气",
                                                       u"温度(°C)", u"湿度(%)", u"结果数",   u"备注"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
