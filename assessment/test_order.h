#pragma once
// The test order of a station: the order in which the field engineer clamps
// the arresters and stores one group each in the meter, so that a download
// of N groups is the round in that order. Voltage level (highest first), then
// bay (numbers in names compared as numbers), then phase A, B, C (others
// after, by name); retired arresters are left out.
#include <QList>
#include <QString>

#include "archive/asset_types.h"

QList<ArresterRecord> TestOrder(const QList<ArresterRecord> &arresters, const QString &station);

// Sorts arresters in place into test order (several stations: by station first).
void SortInTestOrder(QList<ArresterRecord> &arresters);
