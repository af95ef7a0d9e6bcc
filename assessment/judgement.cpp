#include "assessment/judgement.h"

#include <QHash>
#include <algorithm>
#include <cmath>

#include "assessment/test_order.h"

namespace {

// A change computed as exactly the threshold (13 mA against 10 mA is 30 %)
// may come out a hair below it in floating point; it still counts.
constexpr double kSlackPct = 1e-9;

QString PercentText(double pct) { return QString::number(pct, 'g', 6) + QLatin1Char('%'); }

// Percent change of `value` against `base`; unset when the base is no
// positive number.
std::optional<double> ChangePct(double value, std::optional<double> base) {
  if (!base || !std::isfinite(*base) || *base <= 0) return std::nullopt;
  return (value - *base) / *base * 100;
}

struct Reason {
  Verdict level;
  QString text;
};

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
  const QString digits = QString::number(std::fabs(*pct), 'f', 1);
  const bool minus = *pct < 0 && digits != QLatin1String("0.0");
  return (minus ? QLatin1Char('-') : QLatin1Char('+')) + digits + QLatin1Char('%');
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

  QList<Reason> reasons;
  if (const auto pct = out.initialChangePct) {
    const bool abnormal = *pct >= t.initialAbnormalPct - kSlackPct;
    if (abnormal || *pct >= t.initialAttentionPct - kSlackPct) {
      const double limit = abnormal ? t.initialAbnormalPct : t.initialAttentionPct;
      reasons.append({abnormal ? Verdict::Abnormal : Verdict::Attention,
                      QStringLiteral("较初始值 %1 (≥+%2)").arg(ChangeText(pct), PercentText(limit))});
    }
  } else {
    out.noInitial = true;
    reasons.append({Verdict::Normal, input.initialMilliAmps ? QStringLiteral("初始值不大于 0,未作比较")
                                                            : QStringLiteral("无初始值")});
  }
  if (const auto pct = out.previousChangePct; pct && *pct >= t.previousAttentionPct - kSlackPct)
    reasons.append(
        {Verdict::Attention,
         QStringLiteral("较上次 %1 (≥+%2)").arg(ChangeText(pct), PercentText(t.previousAttentionPct))});
  if (const auto pct = out.phaseDeviationPct; pct && std::fabs(*pct) >= t.phaseAttentionPct - kSlackPct)
    reasons.append(
        {Verdict::Attention,
         QStringLiteral("偏离本间隔中值 %1 (≥±%2)").arg(ChangeText(pct), PercentText(t.phaseAttentionPct))});

  std::stable_sort(reasons.begin(), reasons.end(),
                   [](const Reason &a, const Reason &b) { return a.level > b.level; });
  for (const Reason &r : reasons) {
    out.verdict = std::max(out.verdict, r.level);
    out.reasons << r.text;
  }
  return out;
}

namespace {

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

QString BayKey(const ArresterRecord &a) {
  return a.station.trimmed() + QChar(0x1f) + a.voltageLevel.trimmed() + QChar(0x1f) + a.bay.trimmed();
}

double Median(QList<double> values) {
  std::sort(values.begin(), values.end());
  const qsizetype n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool IsValid(const ResultRecord &r) {
  return r.reading == ResultReading::Value && r.milliAmps && std::isfinite(*r.milliAmps);
}

}  // namespace

QList<JudgedResult> JudgeRound(const RoundRecord &round, const QList<ArresterRecord> &arresters,
                               const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                               const Thresholds &thresholds) {
  // This round's results, one per arrester (of two, the later change).
  QList<JudgedResult> rows;
  QHash<QString, qsizetype> rowOfArrester;
  for (const ResultRecord &r : results) {
    if (r.roundUuid != round.uuid) continue;
    auto it = rowOfArrester.find(r.arresterUuid);
    if (it == rowOfArrester.end()) {
      rowOfArrester.insert(r.arresterUuid, rows.size());
      JudgedResult row;
      row.arrester.uuid = r.arresterUuid;
      row.result = r;
      rows.append(std::move(row));
    } else if (r.modifiedMs >= rows[*it].result.modifiedMs) {
      rows[*it].result = r;
    }
  }
  if (rows.isEmpty()) return rows;

  QList<bool> known(rows.size(), false);
  for (const ArresterRecord &a : arresters) {
    const auto it = rowOfArrester.constFind(a.uuid);
    if (it == rowOfArrester.constEnd()) continue;
    rows[*it].arrester = a;
    known[*it] = true;
  }

  // Previous values: each arrester's latest valid result of an earlier round.
  QHash<QString, RoundPlace> places;
  places.reserve(rounds.size());
  for (const RoundRecord &r : rounds) places.insert(r.uuid, {r.date, r.modifiedMs});
  const RoundPlace here{round.date, round.modifiedMs};
  QList<RoundPlace> previousPlace(rows.size());
  QString lastRound;  // results usually come round by round: one look-up per run
  const RoundPlace *lastPlace = nullptr;
  for (const ResultRecord &r : results) {
    if (!IsValid(r) || r.roundUuid == round.uuid) continue;
    if (!lastPlace || r.roundUuid != lastRound) {
      const auto it = places.constFind(r.roundUuid);
      lastRound = r.roundUuid;
      lastPlace = it == places.constEnd() ? nullptr : &*it;
      if (!lastPlace) continue;
    }
    if (!Before(*lastPlace, here)) continue;
    const auto row = rowOfArrester.constFind(r.arresterUuid);
    if (row == rowOfArrester.constEnd()) continue;
    JudgedResult &target = rows[*row];
    if (target.previousMilliAmps && !Before(previousPlace[*row], *lastPlace)) continue;
    target.previousMilliAmps = r.milliAmps;
    target.previousDate = lastPlace->date;
    previousPlace[*row] = *lastPlace;
  }

  // The median of each bay's valid values in this round, when two or more.
  QHash<QString, QList<double>> bayValues;
  QList<QString> bayOfRow(rows.size());
  for (qsizetype i = 0; i < rows.size(); ++i) {
    if (!known[i]) continue;
    bayOfRow[i] = BayKey(rows[i].arrester);
    if (IsValid(rows[i].result)) bayValues[bayOfRow[i]].append(*rows[i].result.milliAmps);
  }
  QHash<QString, double> bayMedians;
  for (auto it = bayValues.cbegin(); it != bayValues.cend(); ++it)
    if (it->size() >= 2) bayMedians.insert(it.key(), Median(*it));

  for (qsizetype i = 0; i < rows.size(); ++i) {
    JudgedResult &row = rows[i];
    JudgementInput input;
    input.reading = row.result.reading;
    input.milliAmps = row.result.milliAmps;
    input.initialMilliAmps = row.arrester.initialMilliAmps;
    input.previousMilliAmps = row.previousMilliAmps;
    if (known[i]) {
      const auto median = bayMedians.constFind(bayOfRow[i]);
      if (median != bayMedians.constEnd()) input.bayMedianMilliAmps = *median;
    }
    row.outcome = Judge(input, thresholds);
  }

  // Test order; results of arresters missing from the register go last.
  QList<ArresterRecord> knownArresters;
  QList<qsizetype> knownRows;
  for (qsizetype i = 0; i < rows.size(); ++i)
    if (known[i]) {
      knownArresters.append(rows[i].arrester);
      knownRows.append(i);
    }
  QList<JudgedResult> ordered;
  ordered.reserve(rows.size());
  for (int p : TestOrderPositions(knownArresters)) ordered.append(std::move(rows[knownRows[p]]));
  for (qsizetype i = 0; i < rows.size(); ++i)
    if (!known[i]) ordered.append(std::move(rows[i]));
  return ordered;
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
