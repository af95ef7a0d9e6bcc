#pragma once
// Filling a round from a download: the meter's groups paired with the
// station's arresters in test order, with the engineer's corrections (a group
// skipped where an arrester was measured twice, an arrester skipped where it
// was missed). Pure code over the archived rows.
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

#include "archive/archive_types.h"
#include "archive/asset_types.h"

// The engineer's corrections.
struct FillCorrections {
  int fromGroup = 1;           // the first group of the round (earlier ones belong elsewhere)
  QSet<int> skippedGroups;     // group numbers left out (re-measured)
  QSet<int> skippedArresters;  // test-order positions (0-based) that got no group (missed)
};

// One arrester and the group it gets.
struct FillPairing {
  ArresterRecord arrester;
  std::optional<ArchivedRow> group;  // unset: no group for it (skipped or run out)
  bool skipped = false;              // left without a group on purpose
};

struct FillPlan {
  QList<FillPairing> pairs;     // one per arrester, in test order
  QList<ArchivedRow> leftOver;  // groups that found no arrester
  int groupsUsed = 0;
  // Groups and arresters match one to one: nothing left over, no arrester
  // without a group except those skipped on purpose.
  bool exact() const;
};

// Groups numbered fromGroup and on, in number order, less the skipped ones,
// go one by one to the arresters of `order`, passing over the skipped
// positions. Groups before fromGroup and skipped groups are neither used nor
// left over.
FillPlan PairGroups(const QList<ArresterRecord> &order, const QList<ArchivedRow> &groups,
                    const FillCorrections &corrections);

// The results a plan gives for `roundUuid` (source Download, `downloadUuid`
// and the group number); arresters without a group get none.
QList<ResultRecord> ResultsFromPlan(const FillPlan &plan, const QString &roundUuid,
                                    const QString &downloadUuid);

// A value typed by a user or given on a command line: "12.3" (mA),
// "12.3mA", "12.3 mA", "0.5A", "OL" (overload; any case). Unset when it
// cannot be read: empty, negative, no plain decimal number, another unit.
struct TypedValue {
  ResultReading reading = ResultReading::Value;
  std::optional<double> milliAmps;
};
std::optional<TypedValue> ParseTypedValue(const QString &text);

// A result from a stored row (a group or a reading): its mA, signed as
// stored, or overload / invalid kept as such (a row without mA is invalid).
TypedValue ValueOfRow(const ArchivedRow &row);

// The median of the valid readings of a recording's rows numbered `from` to
// `to` (inclusive; 0 and 0: all). Unset when none is valid.
std::optional<double> MedianMilliAmps(const QList<ArchivedRow> &rows, int from = 0, int to = 0);
