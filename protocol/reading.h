#pragma once
// The meter's reading group: two base-100 value bytes and a reading code, and
// what the code means. Shared by the live and the history decoders; each has
// its own display text (reading_text.h) because the two texts differ.
#include <QByteArray>
#include <cstdint>

#include "numbers/format_reading.h"
#include "protocol/meter_wire.h"

enum class ReadingKind { AC, DC, Overload, Invalid };
enum class ReadingUnit { None, MilliAmp, Amp };
enum class ReadingSign {
  Positive,
  Negative,            // shown with "-" even when the value is 0
  NegativeUnlessZero,  // shown with "-" only when the value is not 0
};

struct ReadingCodeInfo {
  ReadingKind kind;
  int divisor;  // 0 for overload and invalid codes
  ReadingUnit unit;
  ReadingSign sign;
};

// The meaning of a reading code (0..255).
ReadingCodeInfo LookUpReadingCode(uint8_t code);

// One 3-byte group as it came off the wire.
struct ReadingGroup {
  static constexpr int kSize = meterwire::kGroupSize;

  uint8_t high = 0;  // high base-100 digit of the count value (used modulo 100)
  uint8_t low = 0;   // low base-100 digit of the count value (used modulo 100)
  uint8_t code = 0;

  // Group `index` (0-based) of a block; the caller makes sure it is whole.
  static ReadingGroup At(const QByteArray &block, int index);
  // Number of whole groups in a block.
  static int WholeGroupsIn(const QByteArray &block) { return static_cast<int>(block.size() / kSize); }

  ReadingCodeInfo info() const { return LookUpReadingCode(code); }
  // (high mod 100) x 100 + (low mod 100): 0..9999.
  int countValue() const { return (high % 100) * 100 + (low % 100); }
  bool isNumeric() const;  // AC or DC: the code carries a value
  // Count value divided by the code's divisor, in single precision, as the
  // meter's reading in its own unit; 0 for overload and invalid codes.
  float magnitude() const;
  // Whether the reading is shown with a minus sign.
  bool showsMinus() const;
};
