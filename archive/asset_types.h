#pragma once
// Plain value types of the arrester register: the arresters of the
// substations, the test rounds made on them, and each round's results.
// Shared by the archive (storage and team sync), the judgement, the window
// and the console tool. References between them are by uuid, so they keep
// their meaning when copied between archives.
#include <QDate>
#include <QString>
#include <optional>

// One zinc-oxide arrester. Station + voltage level + bay + phase + serial
// number identify it: an import that repeats them updates, never duplicates.
struct ArresterRecord {
  QString uuid;          // empty: a new one is made when it is stored
  QString station;       // 变电站
  QString voltageLevel;  // 电压等级, "110kV"
  QString bay;           // 间隔
  QString phase;         // 相别: "A", "B", "C" (others kept as typed)
  QString model;
  QString serialNumber;
  QString maker;
  QDate commissioned;                      // invalid: unknown
  std::optional<double> initialMilliAmps;  // 初始值; unset: none yet
  QDate initialDate;                       // invalid: unknown
  bool retired = false;
  QString note;
  qint64 modifiedMs = 0;  // UTC ms of the last change; 0: now, when stored
};

// One test round: a station's arresters measured on one day.
struct RoundRecord {
  QString uuid;  // empty: a new one is made when it is stored
  QString station;
  QDate date;
  QString tester;
  QString instrument;
  QString weather;
  std::optional<double> temperatureC;
  std::optional<double> humidityPercent;
  QString note;
  QString hostName;  // the computer it was made on (see FillOrigin)
  QString userName;
  qint64 modifiedMs = 0;  // 0: now, when stored
};

// What a result's reading was: a value, or the meter's overload or invalid
// reading, kept as such.
enum class ResultReading { Value, Overload, Invalid };

// Where a result's value came from.
enum class ResultSource { Manual, Download, Recording };

// One arrester's result in one round; a round holds at most one result per
// arrester (storing another replaces it).
struct ResultRecord {
  QString roundUuid;
  QString arresterUuid;
  ResultReading reading = ResultReading::Value;
  std::optional<double> milliAmps;  // set exactly when reading is Value
  ResultSource source = ResultSource::Manual;
  QString sourceUuid;       // the download or recording, or empty
  int sourceGroup = 0;      // the download's group number (1-based), or 0
  QString sourceStatistic;  // of a recording: "median" or "median 12-40" (reading numbers)
  std::optional<double> operatingKv;
  QString note;
  qint64 modifiedMs = 0;  // 0: now, when stored
};

// "manual", "download", "recording" and back (Manual for anything else).
QString ResultSourceName(ResultSource source);
ResultSource ResultSourceFromName(const QString &name);
// "value", "overload", "invalid" and back (Invalid for anything else).
QString ResultReadingName(ResultReading reading);
ResultReading ResultReadingFromName(const QString &name);
