#include "assessment/test_order.h"

#include <algorithm>

namespace {

// Everything the order looks at, worked out once per arrester so that a
// sort compares without allocating.
struct OrderKey {
  QString station;
  std::optional<double> kv;
  QString level;
  QString bay;
  int phaseRank = 3;  // A, B, C, then the rest
  QString phase;
  QString serial;
  QString uuid;
};

OrderKey KeyOf(const ArresterRecord &a) {
  OrderKey k;
  k.station = a.station.trimmed();
  k.level = a.voltageLevel.trimmed();
  k.kv = VoltageLevelKv(k.level);
  k.bay = a.bay.trimmed();
  k.phase = a.phase.trimmed().toUpper();
  // "A", or "A相" as some registers write it.
  const bool letterOnly = k.phase.size() == 1 || (k.phase.size() == 2 && k.phase[1] == QChar(0x76F8));
  if (letterOnly && k.phase[0] >= QLatin1Char('A') && k.phase[0] <= QLatin1Char('C'))
    k.phaseRank = k.phase[0].unicode() - 'A';
  k.serial = a.serialNumber;
  k.uuid = a.uuid;
  return k;
}

bool Less(const OrderKey &a, const OrderKey &b) {
  if (int c = CompareNaturally(a.station, b.station)) return c < 0;
  if (a.kv.has_value() != b.kv.has_value()) return a.kv.has_value();  // a level with a number first
  if (a.kv && *a.kv != *b.kv) return *a.kv > *b.kv;                   // highest voltage first
  if (int c = CompareNaturally(a.level, b.level)) return c < 0;
  if (int c = CompareNaturally(a.bay, b.bay)) return c < 0;
  if (a.phaseRank != b.phaseRank) return a.phaseRank < b.phaseRank;
  if (int c = CompareNaturally(a.phase, b.phase)) return c < 0;
  if (int c = CompareNaturally(a.serial, b.serial)) return c < 0;
  return a.uuid < b.uuid;
}

}  // namespace

int CompareNaturally(QStringView a, QStringView b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const int da = a[i].digitValue(), db = b[j].digitValue();
    if (da >= 0 && db >= 0) {
      // Two runs of digits: compared as numbers, leading zeros aside.
      while (i < a.size() && a[i].digitValue() == 0) ++i;
      while (j < b.size() && b[j].digitValue() == 0) ++j;
      qsizetype ei = i, ej = j;
      while (ei < a.size() && a[ei].digitValue() >= 0) ++ei;
      while (ej < b.size() && b[ej].digitValue() >= 0) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
      for (; i < ei; ++i, ++j)
        if (a[i].digitValue() != b[j].digitValue()) return a[i].digitValue() < b[j].digitValue() ? -1 : 1;
      continue;
    }
    const char32_t ca = a[i].toCaseFolded().unicode(), cb = b[j].toCaseFolded().unicode();
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);  // equal but for zeros or case: still a fixed order
}

std::optional<double> VoltageLevelKv(QStringView level) {
  qsizetype i = 0;
  while (i < level.size() && !(level[i] >= QLatin1Char('0') && level[i] <= QLatin1Char('9'))) ++i;
  if (i == level.size()) return std::nullopt;
  qsizetype end = i;
  while (end < level.size() && ((level[end] >= QLatin1Char('0') && level[end] <= QLatin1Char('9')) ||
                                level[end] == QLatin1Char('.')))
    ++end;
  bool ok = false;
  double value = level.mid(i, end - i).toDouble(&ok);
  if (!ok) return std::nullopt;
  QStringView unit = level.mid(end).trimmed();
  if (unit.startsWith(QLatin1Char('V'), Qt::CaseInsensitive)) value /= 1000;  // volts, not kilovolts
  return value;
}

QList<int> TestOrderPositions(const QList<ArresterRecord> &arresters) {
  QList<OrderKey> keys;
  keys.reserve(arresters.size());
  for (const ArresterRecord &a : arresters) keys.append(KeyOf(a));
  QList<int> positions(arresters.size());
  for (int i = 0; i < positions.size(); ++i) positions[i] = i;
  std::stable_sort(positions.begin(), positions.end(),
                   [&keys](int x, int y) { return Less(keys[x], keys[y]); });
  return positions;
}

void SortInTestOrder(QList<ArresterRecord> &arresters) {
  const QList<int> positions = TestOrderPositions(arresters);
  QList<ArresterRecord> sorted;
  sorted.reserve(arresters.size());
  for (int p : positions) sorted.append(std::move(arresters[p]));
  arresters = std::move(sorted);
}

QList<ArresterRecord> TestOrder(const QList<ArresterRecord> &arresters, const QString &station) {
  const QString wanted = station.trimmed();
  QList<ArresterRecord> order;
  for (const ArresterRecord &a : arresters)
    if (!a.retired && a.station.trimmed() == wanted) order.append(a);
  SortInTestOrder(order);
  return order;
}
