#include "archive/asset_types.h"

QString ResultSourceName(ResultSource source) {
  switch (source) {
    case ResultSource::Download: return QStringLiteral("download");
    case ResultSource::Recording: return QStringLiteral("recording");
    case ResultSource::Manual: break;
  }
  return QStringLiteral("manual");
}

ResultSource ResultSourceFromName(const QString &name) {
  if (name == QLatin1String("download")) return ResultSource::Download;
  if (name == QLatin1String("recording")) return ResultSource::Recording;
  return ResultSource::Manual;
}

QString ResultReadingName(ResultReading reading) {
  switch (reading) {
    case ResultReading::Value: return QStringLiteral("value");
    case ResultReading::Overload: return QStringLiteral("overload");
    case ResultReading::Invalid: break;
  }
  return QStringLiteral("invalid");
}

ResultReading ResultReadingFromName(const QString &name) {
  if (name == QLatin1String("value")) return ResultReading::Value;
  if (name == QLatin1String("overload")) return ResultReading::Overload;
  return ResultReading::Invalid;
}
