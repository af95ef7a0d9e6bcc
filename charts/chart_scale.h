#pragma once
// The full-scale settings of the chart's vertical axis (Slider1): how a
// reading in milliamperes becomes chart units (0..1000), and the caption that
// names the reading at the top of the chart.
#include <QString>

// Full-scale setting of Slider1 (positions 0..9, clamped): mA to chart units.
// Positions 7 and 9 scale by 500 and 5000.
float ToChartUnits(float milliAmps, int sliderPosition);
// The chart scale caption for the same position ("100A" ... "0.05mA").
QString FullScaleCaption(int sliderPosition);
