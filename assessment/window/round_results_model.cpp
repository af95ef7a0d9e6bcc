#include "assessment/window/round_results_model.h"

#include <QColor>
#include <QHash>

#include "assessment/window/asset_format.h"

RoundResultsModel::RoundResultsModel(QObject *parent) : QAbstractTableModel(parent) {
  setObjectName(QStringLiteral("RoundResultsModel"));
}

void RoundResultsModel::SetRound(const QList<ArresterRecord> &order, const QList<ArresterRecord> &arresters,
                                 const QList<ResultRecord> &results) {
  QHash<QString, ResultRecord> byArrester;
  for (const ResultRecord &r : results) byArrester.insert(r.arresterUuid, r);
  beginResetModel();
  rows_.clear();
  for (const ArresterRecord &a : order) {
    Row row{a, std::nullopt, true};
    if (auto it = byArrester.constFind(a.uuid); it != byArrester.constEnd()) {
      row.result = *it;
      byArrester.erase(it);
    }
    rows_ << row;
  }
  // Results of arresters outside the order (retired since, or of another
  // station) stay visible, so they can be seen and cleared.
  for (const ArresterRecord &a : arresters)
    if (auto it = byArrester.constFind(a.uuid); it != byArrester.constEnd()) rows_ << Row{a, *it, false};
  endResetModel();
}

int RoundResultsModel::RowOf(const QString &arresterUuid) const {
  for (int i = 0; i < rows_.size(); ++i)
    if (rows_.at(i).arrester.uuid == arresterUuid) return i;
  return -1;
}

int RoundResultsModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int RoundResultsModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant RoundResultsModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rows_.size()) return {};
  const Row &row = rows_.at(index.row());
  const ArresterRecord &a = row.arrester;
  if (role == Qt::ForegroundRole && !row.inOrder) return QColor(Qt::gray);
  if (role == Qt::TextAlignmentRole && (index.column() == ValueColumn || index.column() == KvColumn))
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case NumberColumn: return row.inOrder ? QVariant(index.row() + 1) : QVariant(QStringLiteral("-"));
    case VoltageColumn: return CellText(a.voltageLevel);
    case BayColumn: return CellText(a.bay);
    case PhaseColumn: return CellText(a.phase);
    case SerialColumn: return CellText(a.serialNumber);
    case ValueColumn: return row.result ? ReadingText(row.result->reading, row.result->milliAmps) : QString();
    case SourceColumn: return row.result ? SourceText(*row.result) : QString();
    case KvColumn:
      return row.result && row.result->operatingKv ? QString::number(*row.result->operatingKv, 'f', 1)
                                                   : QString();
    case NoteColumn: return row.result ? CellText(row.result->note) : QString();
    default: return {};
  }
}

QVariant RoundResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {
      u"序号", u"电压等级", u"间隔", u"相别", u"出厂编号", u"测量值(mA)", u"来源", u"运行电压(kV)", u"备注"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
