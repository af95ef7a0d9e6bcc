#include "protocol/history_table.h"

#include <algorithm>

#include "protocol/reading_text.h"

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

QString Spaces(int n) { return QString(n, QLatin1Char(' ')); }

}  // namespace

QString HistoryTableHeading() {
  return Spaces(30) + QStringLiteral("氧化锌避雷器带电测试仪测试数据") + kLineBreak + kLineBreak +
         Spaces(29) + QStringLiteral("组 数") + Spaces(21) + QStringLiteral("数 值");
}

QString HistoryTableRow(int groupNumber, const ReadingGroup &group) {
  return Spaces(30) + QStringLiteral("%1").arg(groupNumber, 3, 10, QLatin1Char('0')) + Spaces(22) +
         HistoryReadingText(group);
}

QString HistoryMissingGroupsRow(int announced, int received) {
  return Spaces(30) + QStringLiteral("数据不完整:应有%1组,缺少%2组").arg(announced).arg(announced - received);
}

QString HistoryTableText(const QByteArray &block, int groupCount) {
  const int announced = std::max(groupCount, 0);
  const int decoded = std::min(announced, ReadingGroup::WholeGroupsIn(block));
  QString text = HistoryTableHeading();
  // About 60 characters a row.
  text.reserve(text.size() + (decoded + 1) * 64);
  for (int i = 0; i < decoded; ++i) {
    text += kLineBreak;
    text += HistoryTableRow(i + 1, ReadingGroup::At(block, i));
  }
  if (decoded < announced) {
    text += kLineBreak;
    text += HistoryMissingGroupsRow(announced, decoded);
  }
  return text;
}
