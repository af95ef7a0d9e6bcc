#include "assessment/judgement.h"

#include <QHash>
#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "assessment/test_order.h"

namespace {

// A change computed as exactly the threshold (13 mA against 10 mA is 30 %)
// may come out a hair below it in floating point; it still counts.
constexpr double kSlackPct = 1e-9;

// Figures are written by hand into a small buffer: a round of 10,000
// arresters formats tens of thousands of them, and the locale-aware
// conversion costs many times more.
struct Figure {
  char16_t text[48];
  int size = 0;

  void put(char16_t c) { text[size++] = c; }
  void whole(quint64 v) {
    char16_t digits[24];
    int n = 0;
    do {
      digits[n++] = char16_t(u'0' + v % 10);
      v /= 10;
    } while (v);
    while (n) put(digits[--n]);
  }
  QString string() const { return QString(reinterpret_cast<const QChar *>(text), size); }
};

// A threshold: "30%", "27.5%".
QString PercentText(double pct) {
  if (!(pct == std::floor(pct) && pct >= 0 && pct < 1e15))
    return QString::number(pct, 'g', 6) + QLatin1Char('%');
  Figure f;
  f.whole(quint64(pct));
  f.put(u'%');
  return f.string();
}

// Percent change of `value` against `base`; unset when the base is no
// positive number.
std::optional<double> ChangePct(double value, std::optional<double> base) {
  if (!base || !std::isfinite(*base) || *base <= 0) return std::nullopt;
  return (value - *base) / *base * 100;
}

}  // namespace

QString VerdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Normal: return QStringLiteral("正常");
    case Verdict::Attention: return QStringLiteral("注意");
    case Verdict::Abnormal: return QStringLiteral("异常");
  }
  return QString();
}

QString ChangeText(std::optional<double> pct) {
  if (!pct || !std::isfinite(*pct)) return QString();
  const double tenths = std::round(std::fabs(*pct) * 10);
  if (tenths >= 1e15) return QString::number(*pct, 'g', 6) + QLatin1Char('%');
  const auto whole = quint64(tenths);
  Figure f;
  f.put(*pct < 0 && whole != 0 ? u'-' : u'+');
  f.whole(whole / 10);
  f.put(u'.');
  f.put(char16_t(u'0' + whole % 10));
  f.put(u'%');
  return f.string();
}

JudgementOutcome Judge(const JudgementInput &input, const Thresholds &t) {
  JudgementOutcome out;
  if (input.reading != ResultReading::Value || !input.milliAmps || !std::isfinite(*input.milliAmps)) {
    out.verdict = Verdict::Abnormal;
    out.reasons << QStringLiteral("读数无效");
    return out;
  }
  const double value = *input.milliAmps;
  out.initialChangePct = ChangePct(value, input.initialMilliAmps);
  out.previousChangePct = ChangePct(value, input.previousMilliAmps);
  out.phaseDeviationPct = ChangePct(value, input.bayMedianMilliAmps);

  // Only the initial value can make 异常, so the reasons come worst first as
  // they are found; a note on a missing initial value goes last.
  // "较初始值 +52.3% (≥+50%)"
  auto raise = [&out](Verdict level, const QString &what, double pct, double limit, bool eitherWay) {
    out.verdict = std::max(out.verdict, level);
    QString reason;
    reason.reserve(what.size() + 24);
    reason += what;
    reason += QLatin1Char(' ');
    reason += ChangeText(pct);
    reason += eitherWay ? QStringLiteral(" (≥±") : QStringLiteral(" (≥+");
    reason += PercentText(limit);
    reason += QLatin1Char(')');
    out.reasons << reason;
  };
  if (const auto pct = out.initialChangePct) {
    if (*pct >= t.initialAbnormalPct - kSlackPct)
      raise(Verdict::Abnormal, QStringLiteral("较初始值"), *pct, t.initialAbnormalPct, false);
    else if (*pct >= t.initialAttentionPct - kSlackPct)
      raise(Verdict::Attention, QStringLiteral("较初始值"), *pct, t.initialAttentionPct, false);
  }
  if (const auto pct = out.previousChangePct; pct && *pct >= t.previousAttentionPct - kSlackPct)
    raise(Verdict::Attention, QStringLiteral("较上次"), *pct, t.previousAttentionPct, false);
  if (const auto pct = out.phaseDeviationPct; pct && std::fabs(*pct) >= t.phaseAttentionPct - kSlackPct)
    raise(Verdict::Attention, QStringLiteral("偏离本间隔中值"), *pct, t.phaseAttentionPct, true);
  if (!out.initialChangePct) {
    out.noInitial = true;
    out.reasons << (input.initialMilliAmps ? QStringLiteral("初始值不大于 0,未作比较")
                                           : QStringLiteral("无初始值"));
  }
  return out;
}

namespace {

// Where a round stands in time.
struct RoundPlace {
  QDate date;
  qint64 modifiedMs = 0;
};

// Whether round `a` was made before round `b`: an earlier date, or on the
// same date an earlier last change (a round re-made the same day follows the
// first one). A round without a date comes before none.
bool Before(const RoundPlace &a, const RoundPlace &b) {
  if (!a.date.isValid() || !b.date.isValid()) return false;
  return a.date < b.date || (a.date == b.date && a.modifiedMs < b.modifiedMs);
}

double Median(QList<double> values) {
  std::sort(values.begin(), values.end());
  const qsizetype n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool IsValid(const ResultRecord &r) {
  return r.reading == ResultReading::Value && r.milliAmps && std::isfinite(*r.milliAmps);
}

// Positions grouped by a key 0..groups-1, each group in list order:
// group g is items[start[g]] .. items[start[g + 1] - 1].
struct Grouping {
  QList<int> start;
  QList<int> items;

  Grouping(const QList<int> &keyOf, int groups) : start(groups + 1, 0), items(keyOf.size()) {
    int *first = start.data();
    for (int key : keyOf) ++first[key + 1];
    for (int g = 0; g < groups; ++g) first[g + 1] += first[g];
    std::vector<int> fill(first, first + groups);
    int *out = items.data();
    for (int i = 0; i < keyOf.size(); ++i) out[fill[static_cast<size_t>(keyOf[i])]++] = i;
  }
  struct Range {
    const int *from, *to;
    const int *begin() const { return from; }
    const int *end() const { return to; }
    qsizetype size() const { return to - from; }
  };
  Range group(int g) const { return {items.constData() + start[g], items.constData() + start[g + 1]}; }
};

}  // namespace

struct RoundJudge::Index {
  QList<ArresterRecord> arresters;  // then the uuids of results' arresters not among them, as ids
  QList<ResultRecord> results;
  QHash<QString, int> roundIds;
  QList<RoundPlace> places;        // by round id; an unknown round has no date
  QList<int> rank;                 // by arrester id: its place in test order
  QList<int> bay;                  // by arrester id: its bay (station, voltage level, bay); -1 unknown
  QList<int> arresterOf, roundOf;  // by result: its arrester id and round id
  std::optional<Grouping> byArrester, byRound;
};

RoundJudge::RoundJudge(const QList<ArresterRecord> &arresters, const QList<RoundRecord> &rounds,
                       const QList<ResultRecord> &results) {
  auto index = std::make_shared<Index>();
  Index &x = *index;
  x.arresters = arresters;
  x.results = results;

  QHash<QString, int> arresterIds;
  arresterIds.reserve(arresters.size());
  QHash<QString, int> bayIds;
  for (int i = 0; i < arresters.size(); ++i) {
    const ArresterRecord &a = arresters[i];
    arresterIds.insert(a.uuid, i);
    const QString bay =
        a.station.trimmed() + QChar(0x1f) + a.voltageLevel.trimmed() + QChar(0x1f) + a.bay.trimmed();
    auto id = bayIds.constFind(bay);
    if (id == bayIds.constEnd()) id = bayIds.insert(bay, int(bayIds.size()));
    x.bay.append(*id);
  }
  x.rank.resize(arresters.size());
  const QList<int> order = TestOrderPositions(arresters);
  for (int r = 0; r < order.size(); ++r) x.rank[order[r]] = r;

  for (const RoundRecord &r : rounds) {
    if (x.roundIds.contains(r.uuid)) continue;
    x.roundIds.insert(r.uuid, int(x.places.size()));
    x.places.append({r.date, r.modifiedMs});
  }

  QList<int> &arresterOf = x.arresterOf, &roundOf = x.roundOf;
  arresterOf.resize(results.size());
  roundOf.resize(results.size());
  int lastRound = -1;  // results usually come round by round: one look-up per run
  for (int i = 0; i < results.size(); ++i) {
    const ResultRecord &r = results[i];
    if (lastRound < 0 || r.roundUuid != results[i - 1].roundUuid) {
      auto it = x.roundIds.find(r.roundUuid);
      if (it == x.roundIds.end()) {
        it = x.roundIds.insert(r.roundUuid, int(x.places.size()));
        x.places.append(RoundPlace());
      }
      lastRound = *it;
    }
    roundOf[i] = lastRound;
    auto it = arresterIds.find(r.arresterUuid);
    if (it == arresterIds.end()) {
      it = arresterIds.insert(r.arresterUuid, int(x.arresters.size()));
      ArresterRecord unknown;
      unknown.uuid = r.arresterUuid;
      x.arresters.append(unknown);
      x.bay.append(-1);
      x.rank.append(INT_MAX);
    }
    arresterOf[i] = *it;
  }
  x.byArrester.emplace(arresterOf, int(x.arresters.size()));
  x.byRound.emplace(roundOf, int(x.places.size()));
  index_ = std::move(index);
}

QList<JudgedResult> RoundJudge::judge(const RoundRecord &round, const Thresholds &thresholds) const {
  const Index &x = *index_;
  const auto roundId = x.roundIds.constFind(round.uuid);
  if (roundId == x.roundIds.constEnd()) return {};
  const RoundPlace here{round.date, round.modifiedMs};

  // This round's results, one per arrester (of two, the later change).
  std::vector<int> resultOfRow;   // the result of each row
  QHash<int, int> rowOfArrester;  // by arrester id
  const Grouping::Range own = x.byRound->group(*roundId);
  resultOfRow.reserve(size_t(own.size()));
  rowOfArrester.reserve(own.size());
  for (int i : own) {
    const auto it = rowOfArrester.constFind(x.arresterOf[i]);
    if (it == rowOfArrester.constEnd()) {
      rowOfArrester.insert(x.arresterOf[i], int(resultOfRow.size()));
      resultOfRow.push_back(i);
    } else if (x.results[i].modifiedMs >= x.results[resultOfRow[size_t(*it)]].modifiedMs) {
      resultOfRow[size_t(*it)] = i;
    }
  }
  const int n = int(resultOfRow.size());

  // Test order: by the rank each arrester was given once.
  std::vector<int> order(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) order[size_t(k)] = k;
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    const int ra = x.rank[x.arresterOf[resultOfRow[size_t(a)]]],
              rb = x.rank[x.arresterOf[resultOfRow[size_t(b)]]];
    return ra != rb ? ra < rb : resultOfRow[size_t(a)] < resultOfRow[size_t(b)];
  });

  QList<JudgedResult> rows(n);
  std::vector<int> bayOfRow(static_cast<size_t>(n));
  QHash<int, QList<double>> bayValues;
  for (int k = 0; k < n; ++k) {
    const int resultIndex = resultOfRow[size_t(order[size_t(k)])];
    const int arrester = x.arresterOf[resultIndex];
    JudgedResult &row = rows[k];
    row.arrester = x.arresters[arrester];
    row.result = x.results[resultIndex];
    bayOfRow[size_t(k)] = x.bay[arrester];
    if (IsValid(row.result) && x.bay[arrester] >= 0) bayValues[x.bay[arrester]].append(*row.result.milliAmps);

    // The previous value: the latest valid result of a round made before.
    const RoundPlace *best = nullptr;
    for (int i : x.byArrester->group(arrester)) {
      const RoundPlace &place = x.places[x.roundOf[i]];
      if (x.roundOf[i] == *roundId || !IsValid(x.results[i]) || !Before(place, here)) continue;
      if (best && !Before(*best, place)) continue;
      best = &place;
      row.previousMilliAmps = x.results[i].milliAmps;
      row.previousDate = place.date;
    }
  }

  // Each bay's median of valid values, when two or more.
  QHash<int, double> bayMedians;
  for (auto it = bayValues.cbegin(); it != bayValues.cend(); ++it)
    if (it->size() >= 2) bayMedians.insert(it.key(), Median(*it));

  for (int k = 0; k < n; ++k) {
    JudgedResult &row = rows[k];
    JudgementInput input;
    input.reading = row.result.reading;
    input.milliAmps = row.result.milliAmps;
    input.initialMilliAmps = row.arrester.initialMilliAmps;
    input.previousMilliAmps = row.previousMilliAmps;
    const auto median = bayMedians.constFind(bayOfRow[size_t(k)]);
    if (median != bayMedians.constEnd()) input.bayMedianMilliAmps = *median;
    row.outcome = Judge(input, thresholds);
  }
  return rows;
}

QList<JudgedResult> JudgeRound(const RoundRecord &round, const QList<ArresterRecord> &arresters,
                               const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                               const Thresholds &thresholds) {
  return RoundJudge(arresters, rounds, results).judge(round, thresholds);
}

VerdictCounts CountVerdicts(const QList<JudgedResult> &rows) {
  VerdictCounts counts;
  for (const JudgedResult &row : rows) {
    switch (row.outcome.verdict) {
      case Verdict::Normal: ++counts.normal; break;
      case Verdict::Attention: ++counts.attention; break;
      case Verdict::Abnormal: ++counts.abnormal; break;
    }
  }
  return counts;
}

QString ThresholdsText(const Thresholds &t) {
  return QStringLiteral("判断依据: 初始值 +%1 注意, +%2 异常; 上次 +%3 注意; 相间 ±%4 注意")
      .arg(PercentText(t.initialAttentionPct), PercentText(t.initialAbnormalPct),
           PercentText(t.previousAttentionPct), PercentText(t.phaseAttentionPct));
}
