#include "protocol/trace_ring.h"

#include <algorithm>

void StoreRingReading(RingArray &readings, RingArray &trace, short &writePos, int pointsPerWindow,
                      float milliAmps, float chartValue) {
  const int end = std::min(pointsPerWindow + 1, kRingSize);  // first position not stored to
  if (writePos >= 0 && writePos < end) {
    readings[writePos] = milliAmps;
    ++writePos;
  } else {
    writePos = 0;
  }
  if (writePos >= kRingSize) writePos = 0;
  trace[writePos] = chartValue;
}
