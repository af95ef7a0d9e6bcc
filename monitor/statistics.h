#pragma once
// The once-a-second figures over the chart's time window and the alarm value
// typed by the user. Pure functions, no widgets.
#include <QString>
#include <cstddef>

struct WindowStatistics {
  float Max = 0;
  float Min = 0;
  float Average = 0;
  bool Alarm = false;  // some reading is at or above the alarm value
};

// MAX, MIN and AVERAGE over the window readings[0..n] (n clamped to the
// readings available), counting only the first `stored` slots: slots no
// reading has reached yet are no readings of 0. With none stored all three
// are 0. Max starts at 0 and Min at 1,000,000, so Max never shows less than 0
// and Min never more than 1,000,000; the sum is kept in double precision.
// The alarm looks at the whole window, stored or not.
WindowStatistics ComputeWindowStatistics(const float *readings, std::size_t size, int n, int stored,
                                         float alarmValue);

// The unit chosen beside the alarm value box.
enum class AlarmUnit { None, MilliAmpere, Ampere };

struct AlarmEntry {
  bool Accepted = false;
  float ValueMilliAmpere = 0;
};

// Largest alarm value the meter can measure, in milliamperes (350 A).
constexpr double kAlarmLimitMilliAmpere = 350000.0;

// Reads the typed alarm value leniently and checks it against 0..350000 mA
// (or 0..350 A, stored as milliamperes). Without a unit nothing is accepted.
AlarmEntry ReadAlarmEntry(const QString &text, AlarmUnit unit);
