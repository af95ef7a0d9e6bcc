#include "archive/archive_types.h"

#include "protocol/reading_text.h"

ArchivedRow DescribeGroup(const ReadingGroup &group, bool history) {
  ArchivedRow row;
  row.raw = QByteArray(1, static_cast<char>(group.high)) + static_cast<char>(group.low) +
            static_cast<char>(group.code);
  row.code = group.code;
  const ReadingCodeInfo info = group.info();
  row.kind = info.kind;
  row.unit = info.unit;
  row.text = history ? HistoryReadingText(group) : DecodeLiveReading(group).caption;
  if (!group.isNumeric()) return row;
  // In double precision straight from the count so that 12.34 is stored as
  // the nearest double to 12.34, not a widened float.
  const double count = group.countValue();
  double value = count / info.divisor;
  double milliAmps = info.unit == ReadingUnit::Amp ? count * (1000 / info.divisor) : value;
  // A minus shown on a zero ("-0A") has no numeric meaning: store plain 0.
  if (group.showsMinus() && group.countValue() != 0) {
    value = -value;
    milliAmps = -milliAmps;
  }
  row.value = value;
  row.milliAmps = milliAmps;
  return row;
}

QString KindName(ReadingKind kind) {
  switch (kind) {
    case ReadingKind::AC: return QStringLiteral("AC");
    case ReadingKind::DC: return QStringLiteral("DC");
    case ReadingKind::Overload: return QStringLiteral("overload");
    case ReadingKind::Invalid: break;
  }
  return QStringLiteral("invalid");
}

ReadingKind KindFromName(const QString &name) {
  if (name == QLatin1String("AC")) return ReadingKind::AC;
  if (name == QLatin1String("DC")) return ReadingKind::DC;
  if (name == QLatin1String("overload")) return ReadingKind::Overload;
  return ReadingKind::Invalid;
}

QString UnitName(ReadingUnit unit) {
  switch (unit) {
    case ReadingUnit::MilliAmp: return QStringLiteral("mA");
    case ReadingUnit::Amp: return QStringLiteral("A");
    case ReadingUnit::None: break;
  }
  return QString();
}

ReadingUnit UnitFromName(const QString &name) {
  if (name == QLatin1String("mA")) return ReadingUnit::MilliAmp;
  if (name == QLatin1String("A")) return ReadingUnit::Amp;
  return ReadingUnit::None;
}
