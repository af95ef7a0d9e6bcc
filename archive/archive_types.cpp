#include "archive/archive_types.h"

#include <QList>

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

namespace {

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

LabelProblem CheckLabel(const QString &label, qsizetype *length, char32_t *control) {
  qsizetype n = 0;
  std::optional<char32_t> first;
  for (const char32_t c : QStringView(label).toUcs4()) {
    ++n;
    if (!first && IsControl(c)) first = c;
  }
  if (length) *length = n;
  if (first && control) *control = *first;
  if (first) return LabelProblem::ControlCharacter;
  return n > kMaxLabelLength ? LabelProblem::TooLong : LabelProblem::None;
}

QString EscapeControls(const QString &text) {
  bool plain = true;
  for (const QChar c : text) plain = plain && !IsControl(c.unicode());
  if (plain) return text;
  QString out;
  out.reserve(text.size() + 8);
  for (const char32_t c : QStringView(text).toUcs4()) {
    if (!IsControl(c)) {
      out += QString::fromUcs4(&c, 1);
    } else if (c == '\t') {
      out += QStringLiteral("\\t");
    } else if (c == '\n') {
      out += QStringLiteral("\\n");
    } else if (c == '\r') {
      out += QStringLiteral("\\r");
    } else if (c < 0x100) {
      out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    } else {
      out += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
    }
  }
  return out;
}
