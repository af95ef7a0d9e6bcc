#include "assessment/window/judgement_model.h"

#include "assessment/window/asset_format.h"

JudgementModel::JudgementModel(QObject *parent) : QAbstractTableModel(parent) {
  setObjectName(QStringLiteral("JudgementModel"));
}

void JudgementModel::SetRows(const QList<JudgedResult> &rows) {
  beginResetModel();
  rows_ = rows;
  endResetModel();
}

int JudgementModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int JudgementModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant JudgementModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= rows_.size()) return {};
  const JudgedResult &j = rows_.at(index.row());
  const JudgementOutcome &o = j.outcome;
  if (role == VerdictRole) return int(o.verdict);
  if (role == Qt::BackgroundRole && index.column() == VerdictColumn) return VerdictColour(o.verdict);
  if (role == Qt::TextAlignmentRole && index.column() >= ValueColumn &&
      index.column() <= PhaseDeviationColumn)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::TextAlignmentRole && index.column() == VerdictColumn) return Qt::AlignCenter;
  if (role == Qt::ToolTipRole && index.column() == PreviousColumn && j.previousDate.isValid())
    return QStringLiteral("上次测试: %1").arg(DateText(j.previousDate));
  if (role == Qt::ToolTipRole && index.column() == ReasonsColumn && !o.reasons.isEmpty())
    return o.reasons.join(QLatin1Char('\n'));
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case StationColumn: return CellText(j.arrester.station);
    case VoltageColumn: return CellText(j.arrester.voltageLevel);
    case BayColumn: return CellText(j.arrester.bay);
    case PhaseColumn: return CellText(j.arrester.phase);
    case ValueColumn: return ReadingText(j.result.reading, j.result.milliAmps);
    case InitialColumn: return MilliAmpsText(j.arrester.initialMilliAmps);
    case InitialChangeColumn: return PercentText(o.initialChangePct);
    case PreviousColumn: return MilliAmpsText(j.previousMilliAmps);
    case PreviousChangeColumn: return PercentText(o.previousChangePct);
    case PhaseDeviationColumn: return PercentText(o.phaseDeviationPct);
    case VerdictColumn: return VerdictText(o.verdict);
    case ReasonsColumn: return o.reasons.join(QStringLiteral("; "));
    default: return {};
  }
}

QVariant JudgementModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {
      u"变电站",      u"电压等级", u"间隔",      u"相别",        u"测量值(mA)", u"初始值",
      u"较初始值(%)", u"上次值",   u"较上次(%)", u"相间偏差(%)", u"结论",       u"原因"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
