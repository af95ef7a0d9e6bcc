#pragma once
// How the window reads typed numbers and shows whole numbers.
#include <QString>
#include <cstdint>

// The number a typed text begins with: blanks anywhere are ignored, then the
// longest leading decimal number (sign, digits, one point, optional exponent)
// is taken; a text that does not begin with a number counts as 0, a number
// too large for a double as the largest double of its sign.
double ReadNumberLeniently(const QString &text);

// Nearest whole number, halves to the even neighbour (250.5 -> 250, 251.5 -> 252);
// saturates outside the int64 range, NaN gives 0.
int64_t RoundHalfEven(double value);
