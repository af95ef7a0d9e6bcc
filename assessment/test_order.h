#pragma once
// The test order of a station: the order in which the field engineer clamps
// the arresters and stores one group each in the meter, so that a download
// of N groups is the round in that order. Voltage level (highest first), then
// bay (numbers in names compared as numbers), then phase A, B, C (others
// after, by name); retired arresters are left out.
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

#include "archive/asset_types.h"

QList<ArresterRecord> TestOrder(const QList<ArresterRecord> &arresters, const QString &station);

// Sorts arresters in place into test order (several stations: by station
// first; retired ones kept). Ties: serial number, then uuid.
void SortInTestOrder(QList<ArresterRecord> &arresters);
// The same order as positions into `arresters`, for sorting rows that carry
// an arrester: the first index is the first in test order.
QList<int> TestOrderPositions(const QList<ArresterRecord> &arresters);

// Compares names with the numbers in them taken as numbers: "2号主变" before
// "10号主变". Negative, zero or positive, as QString::compare.
int CompareNaturally(QStringView a, QStringView b);
// The voltage of a voltage level in kV: "500kV" 500, "0.4 kV" 0.4, "380V"
// 0.38, a bare number taken as kV; unset when there is no number.
std::optional<double> VoltageLevelKv(QStringView level);
