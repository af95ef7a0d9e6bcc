#pragma once
// The two display texts of a reading group: the live display and the row of
// the history table. They differ in spacing and in the AC/DC marker.
#include <QString>

#include "protocol/reading.h"

struct LiveReading {
  QString caption;         // for the live display: "12.34mA", "5A", "-0.7A", "0L", "ERROR"
  bool valid = false;      // false for invalid codes: nothing is stored or drawn
  float milliAmps = 0.0f;  // the magnitude in mA (the sign is only shown)
};

// The live display text and the reading in mA.
LiveReading DecodeLiveReading(const ReadingGroup &group);

// The reading text of one history row: "AC 12.34 mA", "AC 0.105mA", "DC -0.7 A", "0L", "ERROR".
QString HistoryReadingText(const ReadingGroup &group);
