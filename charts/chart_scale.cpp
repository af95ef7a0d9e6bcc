#include "charts/chart_scale.h"

#include <algorithm>

namespace {

struct FullScale {
  float factor;
  bool divide;  // divide by the factor rather than multiply
  const char *caption;
};

// Slider1 positions 0..9. Most captions name the reading that comes to 100
// chart units; positions 7 and 9 keep their familiar captions but scale by
// 500 and 5000 (not 200 and 2000), so the smallest currents fill more of the
// chart. The captions are what the user reads, the factors what is drawn.
constexpr FullScale kFullScales[] = {
    {1000, true, "100A"},   {100, true, "10A"},      {10, true, "1A"},    {5, true, "500mA"},
    {1, false, "100mA"},    {10, false, "10mA"},     {100, false, "1mA"}, {500, false, "0.5mA"},
    {1000, false, "0.1mA"}, {5000, false, "0.05mA"},
};

const FullScale &FullScaleAt(int position) { return kFullScales[std::clamp(position, 0, 9)]; }

}  // namespace

float ToChartUnits(float milliAmps, int sliderPosition) {
  const FullScale &s = FullScaleAt(sliderPosition);
  return s.divide ? milliAmps / s.factor : milliAmps * s.factor;
}

QString FullScaleCaption(int sliderPosition) {
  return QString::fromLatin1(FullScaleAt(sliderPosition).caption);
}
