#include "assessment/test_order.h"

#include <QHash>
#include <algorithm>

namespace {

// The phase's place: A, B, C ("A相" as some registers write it), then the rest.
int PhaseRank(const QString &phase) {
  const bool letterOnly = phase.size() == 1 || (phase.size() == 2 && phase[1] == QChar(0x76F8));
  if (letterOnly && phase[0] >= QLatin1Char('A') && phase[0] <= QLatin1Char('C'))
    return phase[0].unicode() - 'A';
  return 3;
}

bool LevelLess(const QString &a, const QString &b) {
  const std::optional<double> ka = VoltageLevelKv(a), kb = VoltageLevelKv(b);
  if (ka.has_value() != kb.has_value()) return ka.has_value();  // a level with a number first
  if (ka && *ka != *kb) return *ka > *kb;                       // highest voltage first
  return CompareNaturally(a, b) < 0;
}

bool PhaseLess(const QString &a, const QString &b) {
  const int ra = PhaseRank(a), rb = PhaseRank(b);
  return ra != rb ? ra < rb : CompareNaturally(a, b) < 0;
}

bool NaturalLess(const QString &a, const QString &b) { return CompareNaturally(a, b) < 0; }

// The rank of each value among the distinct values of one column. A register
// of thousands of arresters has few stations, levels, bays and phases: each
// is compared once here, and the sort then compares numbers.
template <typename Less>
QList<int> Ranks(const QList<QString> &values, Less less) {
  QHash<QString, int> idOfValue;
  QList<QString> distinct;
  QList<int> ids(values.size());
  for (qsizetype i = 0; i < values.size(); ++i) {
    auto it = idOfValue.constFind(values[i]);
    if (it == idOfValue.constEnd()) {
      it = idOfValue.insert(values[i], int(distinct.size()));
      distinct.append(values[i]);
    }
    ids[i] = *it;
  }
  QList<int> order(distinct.size());
  for (int i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](int a, int b) { return less(distinct[a], distinct[b]); });
  QList<int> rankOfId(distinct.size());
  for (int r = 0; r < order.size(); ++r) rankOfId[order[r]] = r;
  for (int &id : ids) id = rankOfId[id];
  return ids;
}

}  // namespace

namespace {

// The value of a decimal digit (ASCII or full-width), else -1.
inline int DigitOf(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u < 0x80) return -1;
  return c.digitValue();
}

}  // namespace

int CompareNaturally(QStringView a, QStringView b) {
  if (a.size() == b.size() && a == b) return 0;  // the usual case: same station, same level
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const int da = DigitOf(a[i]), db = DigitOf(b[j]);
    if (da >= 0 && db >= 0) {
      // Two runs of digits: compared as numbers, leading zeros aside.
      while (i < a.size() && DigitOf(a[i]) == 0) ++i;
      while (j < b.size() && DigitOf(b[j]) == 0) ++j;
      qsizetype ei = i, ej = j;
      while (ei < a.size() && DigitOf(a[ei]) >= 0) ++ei;
      while (ej < b.size() && DigitOf(b[ej]) >= 0) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
      for (; i < ei; ++i, ++j)
        if (DigitOf(a[i]) != DigitOf(b[j])) return DigitOf(a[i]) < DigitOf(b[j]) ? -1 : 1;
      continue;
    }
    if (a[i] != b[j]) {
      const char16_t ca = a[i].toCaseFolded().unicode(), cb = b[j].toCaseFolded().unicode();
      if (ca != cb) return ca < cb ? -1 : 1;
    }
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);  // equal but for zeros or case: still a fixed order
}

std::optional<double> VoltageLevelKv(QStringView level) {
  qsizetype i = 0;
  while (i < level.size() && DigitOf(level[i]) < 0) ++i;
  if (i == level.size()) return std::nullopt;
  // Read by hand: this runs once per arrester whenever a register is sorted.
  double value = 0, scale = 1;
  bool point = false;
  for (; i < level.size(); ++i) {
    const int digit = DigitOf(level[i]);
    if (digit >= 0) {
      if (point) scale /= 10;
      value = point ? value + digit * scale : value * 10 + digit;
    } else if (level[i] == QLatin1Char('.') && !point) {
      point = true;
    } else {
      break;
    }
  }
  const QStringView unit = level.mid(i).trimmed();
  if (unit.startsWith(QLatin1Char('V'), Qt::CaseInsensitive)) value /= 1000;  // volts, not kilovolts
  return value;
}

QList<int> TestOrderPositions(const QList<ArresterRecord> &arresters) {
  const qsizetype n = arresters.size();
  QList<QString> stations(n), levels(n), bays(n), phases(n);
  for (qsizetype i = 0; i < n; ++i) {
    const ArresterRecord &a = arresters[i];
    stations[i] = a.station.trimmed();
    levels[i] = a.voltageLevel.trimmed();
    bays[i] = a.bay.trimmed();
    phases[i] = a.phase.trimmed().toUpper();
  }
  const QList<int> station = Ranks(stations, NaturalLess), level = Ranks(levels, LevelLess),
                   bay = Ranks(bays, NaturalLess), phase = Ranks(phases, PhaseLess);
  QList<int> positions(n);
  for (int i = 0; i < n; ++i) positions[i] = i;
  std::stable_sort(positions.begin(), positions.end(), [&](int x, int y) {
    if (station[x] != station[y]) return station[x] < station[y];
    if (level[x] != level[y]) return level[x] < level[y];
    if (bay[x] != bay[y]) return bay[x] < bay[y];
    if (phase[x] != phase[y]) return phase[x] < phase[y];
    if (int c = CompareNaturally(arresters[x].serialNumber, arresters[y].serialNumber)) return c < 0;
    return arresters[x].uuid < arresters[y].uuid;
  });
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
