#include "assessment/window/history_model.h"

#include "assessment/window/asset_format.h"

HistoryModel::HistoryModel(const QList<HistoryEntry> &history, QObject *parent)
    : QAbstractTableModel(parent), history_(history) {
  setObjectName(QStringLiteral("HistoryModel"));
}

int HistoryModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(history_.size());
}

int HistoryModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant HistoryModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= history_.size()) return {};
  const HistoryEntry &h = history_.at(index.row());
  const JudgementOutcome &o = h.judged.outcome;
  if (role == Qt::BackgroundRole && index.column() == VerdictColumn) return VerdictColour(o.verdict);
  if (role == Qt::TextAlignmentRole && index.column() >= ValueColumn &&
      index.column() <= PreviousChangeColumn)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case DateColumn: return DateText(h.date);
    case ValueColumn: return ReadingText(h.judged.result.reading, h.judged.result.milliAmps);
    case InitialChangeColumn: return PercentText(o.initialChangePct);
    case PreviousChangeColumn: return PercentText(o.previousChangePct);
    case VerdictColumn: return VerdictText(o.verdict);
    case ReasonsColumn: return o.reasons.join(QStringLiteral("; "));
    case SourceColumn: return SourceText(h.judged.result);
    default: return {};
  }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"日期", u"测量值(mA)", u"较初始值(%)", u"较上次(%)",
                                                       u"结论", u"原因",       u"来源"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
