#pragma once
// The line-settings text of the serial control, "9600,N,8,1": baud rate,
// parity letter, data bits and stop bits joined by commas.
#include <QString>
#include <optional>

struct LineSettings {
  enum class Parity { None, Even, Odd, Mark, Space };
  enum class Stop { One, OneAndHalf, Two };

  int baudRate = 9600;
  Parity parity = Parity::None;
  int dataBits = 8;  // 5..8
  Stop stopBits = Stop::One;

  // Accepts exactly four fields without spaces; the parity letter may be
  // lower case. Anything else gives no value.
  static std::optional<LineSettings> Parse(const QString &text);
  QString Text() const;
};
