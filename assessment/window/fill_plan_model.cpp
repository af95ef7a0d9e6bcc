#include "assessment/window/fill_plan_model.h"

#include <QColor>

#include "assessment/window/asset_format.h"

FillPlanModel::FillPlanModel(QObject *parent) : QAbstractTableModel(parent) {
  setObjectName(QStringLiteral("FillPlanModel"));
}

void FillPlanModel::SetPlan(const FillPlan &plan, const FillCorrections &corrections) {
  beginResetModel();
  plan_ = plan;
  corrections_ = corrections;
  endResetModel();
}

const ArchivedRow *FillPlanModel::GroupAt(int row) const {
  if (row < 0) return nullptr;
  if (row < plan_.pairs.size()) {
    const auto &group = plan_.pairs.at(row).group;
    return group ? &*group : nullptr;
  }
  row -= int(plan_.pairs.size());
  return row < plan_.leftOver.size() ? &plan_.leftOver.at(row) : nullptr;
}

int FillPlanModel::GroupOf(int row) const {
  const ArchivedRow *g = GroupAt(row);
  return g ? g->number : 0;
}

int FillPlanModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(plan_.pairs.size() + plan_.leftOver.size());
}

int FillPlanModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant FillPlanModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int row = index.row();
  const bool paired = row < plan_.pairs.size();
  const ArchivedRow *group = GroupAt(row);
  const bool skipped = paired && corrections_.skippedArresters.contains(row);
  if (role == Qt::BackgroundRole && ((paired && !group && !skipped) || !paired))
    return QColor(0xff, 0xe0, 0xa0);
  if (role == Qt::ForegroundRole && skipped) return QColor(Qt::gray);
  if (role == Qt::TextAlignmentRole && (index.column() == GroupColumn || index.column() == ValueColumn))
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  if (paired) {
    const ArresterRecord &a = plan_.pairs.at(row).arrester;
    switch (index.column()) {
      case NumberColumn: return row + 1;
      case VoltageColumn: return CellText(a.voltageLevel);
      case BayColumn: return CellText(a.bay);
      case PhaseColumn: return CellText(a.phase);
      case SerialColumn: return CellText(a.serialNumber);
      default: break;
    }
  } else if (index.column() == NumberColumn) {
    return QStringLiteral("-");
  }
  switch (index.column()) {
    case GroupColumn: return group ? QVariant(group->number) : QVariant();
    case ValueColumn: {
      if (!group) return {};
      const TypedValue v = ValueOfRow(*group);
      return ReadingText(v.reading, v.milliAmps);
    }
    case RemarkColumn:
      if (!paired) return QStringLiteral("多余的组");
      if (skipped) return QStringLiteral("漏测,跳过");
      if (!group) return QStringLiteral("没有数值");
      return {};
    default: return {};
  }
}

QVariant FillPlanModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"序号",     u"电压等级", u"间隔",       u"相别",
                                                       u"出厂编号", u"组号",     u"测量值(mA)", u"说明"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
