#pragma once
// Number to text for every reading the window shows.
#include <QString>

// The value rounded to three decimals (halves away from zero), then to at most
// seven significant digits (the precision of a float), written in plain
// decimal notation: no exponent, no grouping, no trailing zeros, no point for
// a whole number, and "0" before a bare decimal point ("0.5", "-0.5").
// A result that rounds to zero is "0", never "-0".
QString FormatReading(float value);
