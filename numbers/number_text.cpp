#include "numbers/number_text.h"

#include <QLocale>

#include <cctype>
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

double ReadNumberLeniently(const QString &text) {
  std::string s;
  s.reserve(text.size());
  for (QChar c : text) {
    // Blanks count nowhere, including the full-width blank of Chinese input.
    if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QChar(0x3000)) continue;
    s.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '?');
  }
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    ++i;
    ++digits;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  // An exponent counts only when digits follow it.
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      ++j;
      ++expDigits;
    }
    if (expDigits > 0) end = j;
  }
  // Read with the C locale: the decimal separator is always '.', whatever the
  // user's system locale says.
  const double v = QLocale::c().toDouble(QString::fromLatin1(s.data(), static_cast<qsizetype>(end)));
  // A number too large for a double is still a huge number, not 0: it must
  // fail every range check instead of passing as zero.
  if (!std::isfinite(v)) return v < 0 ? -DBL_MAX : DBL_MAX;
  return v;
}

int64_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  const double r = std::nearbyint(value);  // default rounding mode: halves to even
  // Beyond the int64 range the conversion would be undefined: saturate.
  if (r >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (r <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}
