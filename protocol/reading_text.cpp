#include "protocol/reading_text.h"

namespace {

QString UnitText(ReadingUnit unit) {
  switch (unit) {
    case ReadingUnit::MilliAmp: return QStringLiteral("mA");
    case ReadingUnit::Amp: return QStringLiteral("A");
    case ReadingUnit::None: break;
  }
  return QString();
}

}  // namespace

LiveReading DecodeLiveReading(const ReadingGroup &group) {
  const ReadingCodeInfo info = group.info();
  LiveReading r;
  switch (info.kind) {
    case ReadingKind::Invalid: r.caption = QStringLiteral("ERROR"); return r;
    case ReadingKind::Overload:
      r.caption = QStringLiteral("0L");
      r.valid = true;
      return r;
    case ReadingKind::AC:
    case ReadingKind::DC: break;
  }
  const float reading = group.magnitude();
  r.valid = true;
  r.caption =
      (group.showsMinus() ? QStringLiteral("-") : QString()) + FormatReading(reading) + UnitText(info.unit);
  // Amperes to milliamperes: every divisor divides 1000, so this is exact.
  r.milliAmps = info.unit == ReadingUnit::Amp ? static_cast<float>(group.countValue() * (1000 / info.divisor))
                                              : reading;
  return r;
}

QString HistoryReadingText(const ReadingGroup &group) {
  const ReadingCodeInfo info = group.info();
  switch (info.kind) {
    case ReadingKind::Invalid: return QStringLiteral("ERROR");
    case ReadingKind::Overload: return QStringLiteral("0L");
    case ReadingKind::AC:
    case ReadingKind::DC: break;
  }
  QString text = info.kind == ReadingKind::AC ? QStringLiteral("AC ") : QStringLiteral("DC ");
  if (group.showsMinus()) text += QLatin1Char('-');
  // Divisor 1 gives the count value as a whole number, which FormatReading
  // writes unchanged (at most 9999).
  text += FormatReading(group.magnitude());
  // The three-decimal codes put the unit right after the number.
  if (info.divisor != 1000) text += QLatin1Char(' ');
  text += UnitText(info.unit);
  return text;
}
