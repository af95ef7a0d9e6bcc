#include "monitor/statistics.h"

#include <algorithm>

#include "numbers/number_text.h"

WindowStatistics ComputeWindowStatistics(const float *readings, std::size_t size, int n, int stored,
                                         float alarmValue) {
  WindowStatistics s;
  const int last = (readings != nullptr && size > 0 && n >= 0)
                       ? static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(n), size - 1))
                       : -1;
  const int lastStored = std::min(last, stored - 1);
  float max = 0;
  float min = 1000000;
  double sum = 0;
  for (int i = 0; i <= last; ++i) {
    const float r = readings[i];
    if (r >= alarmValue) s.Alarm = true;
    if (i > lastStored) continue;
    if (r > max) max = r;
    if (r < min) min = r;
    sum += r;
  }
  if (lastStored < 0) return s;  // nothing stored yet: all three 0
  s.Max = max;
  s.Min = min;
  s.Average = static_cast<float>(sum / (lastStored + 1));
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
