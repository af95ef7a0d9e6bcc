#include "records/records_model.h"

#include <QDateTime>

#include "archive/archive.h"

RecordsModel::RecordsModel(Archive &archive, QObject *parent)
    : QAbstractTableModel(parent), archive_(archive) {}

bool RecordsModel::Reload(const QString &recordingNow) {
  beginResetModel();
  entries_ = archive_.listEntries();
  recordingNow_ = recordingNow;
  endResetModel();
  // An empty listing with an error text is a failed read, not an empty archive.
  return !(entries_.isEmpty() && !archive_.errorText().isEmpty());
}

int RecordsModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int RecordsModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QString RecordsModel::CompleteText(const EntrySummary &e) const {
  if (e.kind == EntryKind::Download) return e.complete ? QStringLiteral("是") : QStringLiteral("否");
  if (e.endedMs) return QStringLiteral("是");
  // Without an end a recording is either still going on or was cut short.
  return e.uuid == recordingNow_ ? QStringLiteral("记录中") : QStringLiteral("否");
}

namespace {

// A text from the archive as a table cell: control characters escaped, and
// no longer than a label may be.
QString CellText(const QString &text) {
  if (text.size() <= kMaxLabelLength) return EscapeControls(text);
  return EscapeControls(text.left(kMaxLabelLength)) + QStringLiteral("…");
}

}  // namespace

QVariant RecordsModel::data(const QModelIndex &index, int role) const {
  if (!index.isValid() || index.row() >= entries_.size()) return {};
  const EntrySummary &e = entries_.at(index.row());
  if (role == Qt::TextAlignmentRole && index.column() == CountColumn)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && index.column() == PortColumn && !e.device.isEmpty())
    return EscapeControls(e.device);
  if (role == Qt::ToolTipRole && index.column() == KindColumn && !e.repeatOf.isEmpty())
    return QStringLiteral("与较早的一次历史数据下载(同一端口)逐字节相同,不上传到团队服务器");
  if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
  switch (index.column()) {
    case TimeColumn:
      return QDateTime::fromMSecsSinceEpoch(e.startedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case KindColumn:
      if (e.kind == EntryKind::Recording) return QStringLiteral("实时记录");
      return e.repeatOf.isEmpty() ? QStringLiteral("历史数据") : QStringLiteral("历史数据(重复)");
    case PortColumn: return CellText(e.portName);
    case CountColumn:
      if (e.kind == EntryKind::Download && !e.complete)
        return e.groupsAnnounced == kGroupsAnnouncedUnknown
                   ? QStringLiteral("%1/?").arg(e.count)
                   : QStringLiteral("%1/%2").arg(e.count).arg(e.groupsAnnounced);
      return QString::number(e.count);
    case FirstColumn: return e.first ? CellText(e.first->text) : QString();
    case LastColumn: return e.last ? CellText(e.last->text) : QString();
    case LabelColumn: return CellText(e.label);
    case CompleteColumn: return CompleteText(e);
    case HostColumn: return CellText(e.hostName);
    case UserColumn: return CellText(e.userName);
    case ServerColumn:
      if (e.syncedMs) return QStringLiteral("是");
      return e.repeatOf.isEmpty() ? QStringLiteral("否") : QStringLiteral("不上传");
    default: return {};
  }
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  static const char16_t *const kTitles[ColumnCount] = {u"时间",   u"类别",   u"端口",      u"数量",
                                                       u"首个值", u"末个值", u"标签",      u"完整",
                                                       u"计算机", u"用户",   u"团队服务器"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(kTitles[section]) : QVariant();
}

Qt::ItemFlags RecordsModel::flags(const QModelIndex &index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() == LabelColumn) f |= Qt::ItemIsEditable;
  return f;
}

bool RecordsModel::setData(const QModelIndex &index, const QVariant &value, int role) {
  if (!index.isValid() || index.column() != LabelColumn || role != Qt::EditRole) return false;
  EntrySummary &e = entries_[index.row()];
  const QString label = value.toString().trimmed();
  if (label == e.label) return true;
  qsizetype length = 0;
  switch (CheckLabel(label, &length)) {
    case LabelProblem::TooLong:
      emit labelFailed(QStringLiteral("标签最多%1个字符,输入了%2个").arg(kMaxLabelLength).arg(length));
      return false;
    case LabelProblem::ControlCharacter:
      emit labelFailed(QStringLiteral("标签不能含有换行、制表符等控制字符"));
      return false;
    case LabelProblem::None: break;
  }
  if (!archive_.setLabel(e.kind, e.uuid, label)) {
    if (archive_.failure() == ArchiveFailure::Locked)
      emit labelBusy(index, label);
    else
      emit labelFailed(archive_.errorText());
    return false;
  }
  e.label = label;
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}
