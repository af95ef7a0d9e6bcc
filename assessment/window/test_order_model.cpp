#include "assessment/window/test_order_model.h"

#include "assessment/window/asset_format.h"

TestOrderModel::TestOrderModel(const QList<ArresterRecord> &order, QObject *parent)
    : QAbstractTableModel(parent), order_(order) {
  setObjectName(QStringLiteral("TestOrderModel"));
}

int TestOrderModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(order_.size());
}

int TestOrderModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant TestOrderModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= order_.size() || role != Qt::DisplayRole) return {};
  const ArresterRecord &a = order_.at(index.row());
  switch (index.column()) {
    case NumberColumn: return index.row() + 1;
    case VoltageColumn: return CellText(a.voltageLevel);
    case BayColumn: return CellText(a.bay);
    case PhaseColumn: return CellText(a.phase);
    case SerialColumn: return CellText(a.serialNumber);
    case ModelColumn: return CellText(a.model);
    default: return {};
  }
}

QVariant TestOrderModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"组号", u"电压等级", u"间隔",
                                                       u"相别", u"出厂编号", u"型号"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
