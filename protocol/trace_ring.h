#pragma once
// The ring of live readings: ReadingBuffer (mA, for the statistics) and
// TraceBuffer (chart units, for the trend chart) share one write position.
//
// With N points per window the position runs 0, 1, ..., N + 1: each reading is
// stored in ReadingBuffer at the position, the position advances, and the
// trace point goes to the position reached. A reading that finds the position
// at N + 1 or beyond (also after the window was made smaller) resets it to 0
// and is not stored in ReadingBuffer; its trace point goes to 0.
// With N = 500 the trace point after ReadingBuffer[500] would land at 501, past
// the end: that point goes to position 0 instead, and the position becomes 0,
// so the next reading is stored at ReadingBuffer[0].
#include <array>

constexpr int kRingSize = 501;  // indices 0..500
using RingArray = std::array<float, kRingSize>;

// Stores one live reading. `milliAmps` goes to `readings`, `chartValue` to
// `trace`. Nothing outside the two arrays is ever written, whatever
// `writePos` or `pointsPerWindow` hold.
void StoreRingReading(RingArray &readings, RingArray &trace, short &writePos, int pointsPerWindow,
                      float milliAmps, float chartValue);
