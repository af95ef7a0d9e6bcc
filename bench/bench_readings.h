#pragma once
// The readings the archive benchmarks store: reading i has value bytes derived
// from i and walks through AC, DC, negative, overload and invalid codes.
#include "protocol/reading.h"

inline ReadingGroup BenchReading(qint64 i) {
  static const quint8 codes[] = {1, 3, 5, 10, 12, 17, 19, 9};
  ReadingGroup g;
  g.high = static_cast<quint8>(i / 100 % 100);
  g.low = static_cast<quint8>(i % 100);
  g.code = codes[i % 8];
  return g;
}
