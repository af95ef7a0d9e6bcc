#pragma once
// The codes the window's event procedures receive with key and mouse events:
// key codes (13 for Enter, upper-case letters and digits as their character
// codes) and the shift state, a sum of 1 Shift, 2 Ctrl and 4 Alt. The text
// boxes and the picture boxes report them alike.
#include <QtCore/qnamespace.h>

namespace keycodes {

constexpr int kEnter = 13;
constexpr int kBackspace = 8;
constexpr int kTab = 9;
constexpr int kEscape = 27;
constexpr int kDelete = 46;

constexpr int kShiftBit = 1;
constexpr int kCtrlBit = 2;
constexpr int kAltBit = 4;

constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;

// The button code of Qt's mouse buttons (a sum while several are held).
inline int ButtonCode(Qt::MouseButtons buttons) {
  int b = 0;
  if (buttons & Qt::LeftButton) b |= kLeftButton;
  if (buttons & Qt::RightButton) b |= kRightButton;
  if (buttons & Qt::MiddleButton) b |= kMiddleButton;
  return b;
}

// The shift state of Qt's keyboard modifiers.
inline int ShiftState(Qt::KeyboardModifiers mods) {
  int s = 0;
  if (mods & Qt::ShiftModifier) s |= kShiftBit;
  if (mods & Qt::ControlModifier) s |= kCtrlBit;
  if (mods & Qt::AltModifier) s |= kAltBit;
  return s;
}

}  // namespace keycodes
