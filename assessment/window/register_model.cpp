#include "assessment/window/register_model.h"

#include <QColor>

#include "assessment/test_order.h"
#include "assessment/window/asset_format.h"

RegisterModel::RegisterModel(QObject *parent) : QAbstractTableModel(parent) {
  setObjectName(QStringLiteral("RegisterModel"));
}

void RegisterModel::SetArresters(QList<ArresterRecord> arresters) {
  SortInTestOrder(arresters);
  beginResetModel();
  arresters_ = std::move(arresters);
  endResetModel();
}

int RegisterModel::RowOf(const QString &uuid) const {
  for (int i = 0; i < arresters_.size(); ++i)
    if (arresters_.at(i).uuid == uuid) return i;
  return -1;
}

int RegisterModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(arresters_.size());
}

int RegisterModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant RegisterModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= arresters_.size()) return {};
  const ArresterRecord &a = arresters_.at(index.row());
  if (role == Qt::ForegroundRole && a.retired) return QColor(Qt::gray);
  if (role == Qt::TextAlignmentRole && index.column() == InitialColumn)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case StationColumn: return CellText(a.station);
    case VoltageColumn: return CellText(a.voltageLevel);
    case BayColumn: return CellText(a.bay);
    case PhaseColumn: return CellText(a.phase);
    case ModelColumn: return CellText(a.model);
    case SerialColumn: return CellText(a.serialNumber);
    case MakerColumn: return CellText(a.maker);
    case CommissionedColumn: return DateText(a.commissioned);
    case InitialColumn: return MilliAmpsText(a.initialMilliAmps);
    case InitialDateColumn: return DateText(a.initialDate);
    case StateColumn: return a.retired ? QStringLiteral("退役") : QStringLiteral("在运");
    case NoteColumn: return CellText(a.note);
    default: return {};
  }
}

QVariant RegisterModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"变电站",     u"电压等级",   u"间隔", u"相别",
                                                       u"型号",       u"出厂编号",   u"厂家", u"投运日期",
                                                       u"初始值(mA)", u"初始值日期", u"状态", u"备注"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
