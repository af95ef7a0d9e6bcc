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

  // The one table of parity and stop-bit names: the letter of the settings
  // text ('N'), the word of the settings dialog's list ("NONE"), and the
  // stop-bit text ("1.5"). Indexed by the enum's value.
  struct ParityName {
    char letter;
    const char *word;
  };
  static constexpr ParityName kParityNames[] = {
      {'N', "NONE"}, {'E', "EVEN"}, {'O', "ODD"}, {'M', "MARK"}, {'S', "SPACE"}};
  static constexpr const char *kStopNames[] = {"1", "1.5", "2"};

  static QString ParityWord(Parity p) { return QLatin1String(kParityNames[int(p)].word); }
  static QString StopText(Stop s) { return QLatin1String(kStopNames[int(s)]); }
  // The parity of a letter or a word, in either case; none for anything else.
  static std::optional<Parity> ParityNamed(const QString &name);
};
