#include "protocol/trace_ring.h"

#include <algorithm>

namespace {

struct FullScale {
  float factor;
  bool divide;  // divide by the factor rather than multiply
  const char *caption;
};

constexpr FullScale kFullScales[] = {
    {1000, true, "100A"},  {100, true, "10A"},    {10, true, "1A"},      {5, true, "500mA"},
    {1, false, "100mA"},   {10, false, "10mA"},   {100, false, "1mA"},   {500, false, "0.5mA"},
    {1000, false, "0.1mA"}, {5000, false, "0.05mA"},
};

const FullScale &FullScaleAt(int position) { return kFullScales[std::clamp(position, 0, 9)]; }

}  // namespace

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

float ToChartUnits(float milliAmps, int sliderPosition) {
  const FullScale &s = FullScaleAt(sliderPosition);
  return s.divide ? milliAmps / s.factor : milliAmps * s.factor;
}

QString FullScaleCaption(int sliderPosition) { return QString::fromLatin1(FullScaleAt(sliderPosition).caption); }
