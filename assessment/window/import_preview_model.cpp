#include "assessment/window/import_preview_model.h"

#include <QColor>
#include <algorithm>

#include "assessment/window/asset_format.h"

ImportPreviewModel::ImportPreviewModel(const ParsedRegister &parsed, const QList<ImportAction> &actions,
                                       QObject *parent)
    : QAbstractTableModel(parent) {
  setObjectName(QStringLiteral("ImportPreviewModel"));
  for (const ImportProblem &p : parsed.problems) {
    Line l;
    l.line = p.line;
    l.problem = true;
    l.detail = p.text;
    lines_ << l;
  }
  problems_ = int(parsed.problems.size());
  for (const ImportAction &a : actions) {
    Line l;
    l.line = a.line;
    l.kind = a.kind;
    l.row = a.row;
    if (a.kind == ImportAction::Update)
      l.detail = QStringLiteral("修改: ") + a.changed.join(QStringLiteral("、"));
    lines_ << l;
  }
  // Problems first among lines of the same number: a faulty line is never hidden.
  std::stable_sort(lines_.begin(), lines_.end(), [](const Line &a, const Line &b) {
    return a.line != b.line ? a.line < b.line : a.problem > b.problem;
  });
}

int ImportPreviewModel::countOf(ImportAction::Kind kind) const {
  return int(std::count_if(lines_.begin(), lines_.end(),
                           [kind](const Line &l) { return !l.problem && l.kind == kind; }));
}

int ImportPreviewModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : int(lines_.size());
}

int ImportPreviewModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant ImportPreviewModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= lines_.size()) return {};
  const Line &l = lines_.at(index.row());
  if (role == Qt::BackgroundRole && l.problem) return QColor(0xff, 0xc0, 0xc0);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case LineColumn: return l.line;
    case ActionColumn:
      if (l.problem) return QStringLiteral("错误");
      switch (l.kind) {
        case ImportAction::Add: return QStringLiteral("新增");
        case ImportAction::Update: return QStringLiteral("更新");
        case ImportAction::Unchanged: return QStringLiteral("不变");
      }
      return {};
    case StationColumn: return CellText(l.row.station);
    case VoltageColumn: return CellText(l.row.voltageLevel);
    case BayColumn: return CellText(l.row.bay);
    case PhaseColumn: return CellText(l.row.phase);
    case SerialColumn: return CellText(l.row.serialNumber);
    case DetailColumn: return CellText(l.detail);
    default: return {};
  }
}

QVariant ImportPreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"行号", u"操作", u"变电站",   u"电压等级",
                                                       u"间隔", u"相别", u"出厂编号", u"说明"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}
