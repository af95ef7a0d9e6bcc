#include "assessment/round_fill.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <vector>

bool FillPlan::exact() const {
  if (!leftOver.isEmpty()) return false;
  for (const FillPairing &p : pairs)
    if (!p.group && !p.skipped) return false;
  return true;
}

FillPlan PairGroups(const QList<ArresterRecord> &order, const QList<ArchivedRow> &groups,
                    const FillCorrections &corrections) {
  QList<ArchivedRow> usable;
  for (const ArchivedRow &g : groups)
    if (g.number >= corrections.fromGroup && !corrections.skippedGroups.contains(g.number)) usable.append(g);
  std::stable_sort(usable.begin(), usable.end(),
                   [](const ArchivedRow &a, const ArchivedRow &b) { return a.number < b.number; });

  FillPlan plan;
  plan.pairs.reserve(order.size());
  qsizetype next = 0;
  for (int position = 0; position < order.size(); ++position) {
    FillPairing pairing;
    pairing.arrester = order[position];
    if (corrections.skippedArresters.contains(position)) {
      pairing.skipped = true;
    } else if (next < usable.size()) {
      pairing.group = usable[next++];
      ++plan.groupsUsed;
    }
    plan.pairs.append(std::move(pairing));
  }
  plan.leftOver = usable.mid(next);
  return plan;
}

QList<ResultRecord> ResultsFromPlan(const FillPlan &plan, const QString &roundUuid,
                                    const QString &downloadUuid) {
  QList<ResultRecord> results;
  for (const FillPairing &p : plan.pairs) {
    if (!p.group) continue;
    const TypedValue value = ValueOfRow(*p.group);
    ResultRecord r;
    r.roundUuid = roundUuid;
    r.arresterUuid = p.arrester.uuid;
    r.reading = value.reading;
    r.milliAmps = value.milliAmps;
    r.source = ResultSource::Download;
    r.sourceUuid = downloadUuid;
    r.sourceGroup = p.group->number;
    results.append(std::move(r));
  }
  return results;
}

std::optional<TypedValue> ParseTypedValue(const QString &text) {
  static const QRegularExpression pattern(QStringLiteral(R"(^([0-9]+(?:\.[0-9]*)?|\.[0-9]+)\s*(ma|a)?$)"),
                                          QRegularExpression::CaseInsensitiveOption);
  const QString trimmed = text.trimmed();
  if (trimmed.compare(QLatin1String("OL"), Qt::CaseInsensitive) == 0)
    return TypedValue{ResultReading::Overload, std::nullopt};
  const QRegularExpressionMatch m = pattern.match(trimmed);
  if (!m.hasMatch()) return std::nullopt;
  bool ok = false;
  double value = m.captured(1).toDouble(&ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  if (m.captured(2).compare(QLatin1String("a"), Qt::CaseInsensitive) == 0) value *= 1000;
  if (!std::isfinite(value)) return std::nullopt;
  return TypedValue{ResultReading::Value, value};
}

TypedValue ValueOfRow(const ArchivedRow &row) {
  switch (row.kind) {
    case ReadingKind::Overload: return {ResultReading::Overload, std::nullopt};
    case ReadingKind::Invalid: return {ResultReading::Invalid, std::nullopt};
    case ReadingKind::AC:
    case ReadingKind::DC: break;
  }
  if (!row.milliAmps || !std::isfinite(*row.milliAmps)) return {ResultReading::Invalid, std::nullopt};
  return {ResultReading::Value, row.milliAmps};
}

std::optional<double> MedianMilliAmps(const QList<ArchivedRow> &rows, int from, int to) {
  const bool all = from == 0 && to == 0;
  std::vector<double> values;
  values.reserve(static_cast<size_t>(rows.size()));
  for (const ArchivedRow &row : rows) {
    if (!all && (row.number < from || row.number > to)) continue;
    const TypedValue v = ValueOfRow(row);
    if (v.reading == ResultReading::Value) values.push_back(*v.milliAmps);
  }
  if (values.empty()) return std::nullopt;
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<long>(mid), values.end());
  const double upper = values[mid];
  if (values.size() % 2) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<long>(mid));
  return (lower + upper) / 2;
}
