#include "serial/line_settings.h"

#include <QStringList>
#include <iterator>

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
  const std::optional<Parity> parity = ParityNamed(f[1]);
  if (!parity) return std::nullopt;
  s.parity = *parity;

  if (!AllDigits(f[2]) || f[2].size() != 1) return std::nullopt;
  s.dataBits = f[2].toInt();
  if (s.dataBits < 5 || s.dataBits > 8) return std::nullopt;

  for (int i = 0; i < int(std::size(kStopNames)); ++i)
    if (f[3] == QLatin1String(kStopNames[i])) {
      s.stopBits = Stop(i);
      return s;
    }
  return std::nullopt;
}

std::optional<LineSettings::Parity> LineSettings::ParityNamed(const QString &name) {
  for (int i = 0; i < int(std::size(kParityNames)); ++i) {
    const ParityName &n = kParityNames[i];
    if (name.compare(QLatin1Char(n.letter), Qt::CaseInsensitive) == 0 ||
        name.compare(QLatin1String(n.word), Qt::CaseInsensitive) == 0)
      return Parity(i);
  }
  return std::nullopt;
}

QString LineSettings::Text() const {
  return QStringLiteral("%1,%2,%3,%4")
      .arg(baudRate)
      .arg(QLatin1Char(kParityNames[int(parity)].letter))
      .arg(dataBits)
      .arg(StopText(stopBits));
}
