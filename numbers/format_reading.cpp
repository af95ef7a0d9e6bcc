#include "numbers/format_reading.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr int kDecimals = 3;
constexpr int kSignificantDigits = 7;

// Rounds a string of decimal digits (no sign, no point, no leading zeros) to
// kSignificantDigits, halves away from zero, keeping its length unless a carry
// adds a digit in front.
std::string RoundDigits(std::string digits) {
  if (digits.size() <= static_cast<size_t>(kSignificantDigits)) return digits;
  const bool up = digits[kSignificantDigits] >= '5';
  for (size_t i = kSignificantDigits; i < digits.size(); ++i) digits[i] = '0';
  if (!up) return digits;
  int i = kSignificantDigits - 1;
  while (i >= 0 && digits[i] == '9') digits[i--] = '0';
  if (i >= 0) {
    ++digits[i];
  } else {
    digits.insert(digits.begin(), '1');
  }
  return digits;
}

}  // namespace

QString FormatReading(float value) {
  if (std::isnan(value)) return QStringLiteral("NaN");
  if (std::isinf(value)) return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");

  // A float times 1000 is exact in a double (24 + 10 bits of mantissa), so this
  // rounds the float's own value to three decimals without any binary error.
  const double thousandths = std::round(std::fabs(static_cast<double>(value)) * 1000.0);
  const bool negative = value < 0;

  // Exact decimal digits of that whole number (a double holding an integer
  // prints exactly), then rounded to seven significant digits.
  char raw[64];
  std::snprintf(raw, sizeof raw, "%.0f", thousandths);
  std::string digits = RoundDigits(raw);

  // Place the decimal point three digits from the right.
  if (digits.size() <= static_cast<size_t>(kDecimals)) digits.insert(0, kDecimals + 1 - digits.size(), '0');
  std::string whole = digits.substr(0, digits.size() - kDecimals);
  std::string fraction = digits.substr(digits.size() - kDecimals);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();

  std::string text = whole;
  if (!fraction.empty()) text += '.' + fraction;
  if (negative && text != "0") text.insert(0, 1, '-');
  return QString::fromLatin1(text.c_str());
}
