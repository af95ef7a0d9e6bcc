#include "monitor/statistics.h"

#include <algorithm>

#include "numbers/number_text.h"

WindowStatistics ComputeWindowStatistics(const float *readings, std::size_t size, int n, float alarmValue) {
  WindowStatistics s;
  float max = 0;
  float min = 1000000;
  double sum = 0;
  const int last = (readings != nullptr && size > 0 && n >= 0)
                       ? static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(n), size - 1))
                       : -1;
  for (int i = 0; i <= last; ++i) {
    const float r = readings[i];
    if (r > max) max = r;
    if (r < min) min = r;
    sum += r;
    if (r >= alarmValue) s.Alarm = true;
  }
  s.Max = max;
  s.Min = min;
  s.Average = last >= 0 ? static_cast<float>(sum / (last + 1)) : 0.0f;
  return s;
}

AlarmEntry ReadAlarmEntry(const QString &text, AlarmUnit unit) {
  AlarmEntry entry;
  if (unit == AlarmUnit::None) return entry;
  const double v = ReadNumberLeniently(text);
  const double limit = unit == AlarmUnit::Ampere ? kAlarmLimitMilliAmpere / 1000 : kAlarmLimitMilliAmpere;
  if (v > limit || v < 0) return entry;
  entry.Accepted = true;
  entry.ValueMilliAmpere = static_cast<float>(unit == AlarmUnit::Ampere ? v * 1000 : v);
  return entry;
}
