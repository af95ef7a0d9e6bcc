#pragma once
// The readings the archive tests and their writer child record: reading i has
// value bytes derived from i and walks through AC, DC, negative, overload and
// invalid codes, so that every stored column varies.
#include "protocol/reading.h"

inline ReadingGroup SampleReading(qint64 i) {
  static const quint8 codes[] = {1, 5, 10, 12, 17, 18, 9, 0, 3, 19};
  ReadingGroup g;
  g.high = static_cast<quint8>(i / 100 % 100);
  g.low = static_cast<quint8>(i % 100);
  g.code = codes[i % 10];
  return g;
}

// The time stamp reading i gets: 1 ms apart from a fixed start.
inline qint64 SampleTime(qint64 i) { return 1714566896789 + i; }
