#include "monitor/number_text.h"

#include <cmath>
#include <string>

double ReadNumberLeniently(const QString &text) {
  std::string s;
  s.reserve(text.size());
  for (QChar c : text) {
    if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) continue;
    s.push_back(c.unicode() < 128 ? static_cast<char>(c.unicode()) : '?');
  }
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; ++digits; }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; ++digits; }
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  // An exponent counts only when digits follow it.
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) { ++j; ++expDigits; }
    if (expDigits > 0) end = j;
  }
  const double v = std::strtod(s.substr(0, end).c_str(), nullptr);
  return std::isfinite(v) ? v : 0.0;
}

int64_t RoundHalfEven(double value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int64_t>(std::nearbyint(value));  // default rounding mode: halves to even
}
