#include "serial/line_settings.h"

#include <QStringList>

namespace {

bool AllDigits(const QString &s) {
  if (s.isEmpty()) return false;
  for (QChar c : s)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  return true;
}

}  // namespace

std::optional<LineSettings> LineSettings::Parse(const QString &text) {
  const QStringList f = text.split(QLatin1Char(','));
  if (f.size() != 4) return std::nullopt;
  LineSettings s;

  if (!AllDigits(f[0]) || f[0].size() > 9) return std::nullopt;
  s.baudRate = f[0].toInt();
  if (s.baudRate <= 0) return std::nullopt;

  if (f[1].size() != 1) return std::nullopt;
  switch (f[1][0].toUpper().unicode()) {
    case 'N': s.parity = Parity::None; break;
    case 'E': s.parity = Parity::Even; break;
    case 'O': s.parity = Parity::Odd; break;
    case 'M': s.parity = Parity::Mark; break;
    case 'S': s.parity = Parity::Space; break;
    default: return std::nullopt;
  }

  if (!AllDigits(f[2]) || f[2].size() != 1) return std::nullopt;
  s.dataBits = f[2].toInt();
  if (s.dataBits < 5 || s.dataBits > 8) return std::nullopt;

  if (f[3] == QLatin1String("1")) s.stopBits = Stop::One;
  else if (f[3] == QLatin1String("1.5")) s.stopBits = Stop::OneAndHalf;
  else if (f[3] == QLatin1String("2")) s.stopBits = Stop::Two;
  else return std::nullopt;
  return s;
}

QString LineSettings::Text() const {
  static const char kParity[] = {'N', 'E', 'O', 'M', 'S'};
  static const char *const kStop[] = {"1", "1.5", "2"};
  return QStringLiteral("%1,%2,%3,%4")
      .arg(baudRate)
      .arg(QLatin1Char(kParity[int(parity)]))
      .arg(dataBits)
      .arg(QLatin1String(kStop[int(stopBits)]));
}
