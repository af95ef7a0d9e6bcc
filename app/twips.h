#pragma once
// Layout units: positions are given in twips and shown at 15 twips per pixel.
#include <QRect>
#include <QtMath>

constexpr int TwipsPerPixel = 15;

inline int TwipsToPixels(int twips) { return qRound(double(twips) / TwipsPerPixel); }

inline QRect TwipsRect(int left, int top, int width, int height) {
  return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
}
