#pragma once
// The 3-byte reading groups the simulated meter sends: two base-100 digits of the
// count value (0..99 each) and a reading code. Header-only so that test harnesses
// can compute exactly what the simulator holds.
#include <array>
#include <cmath>
#include <cstdint>

#include "protocol/meter_wire.h"

namespace metersim {

using Group = std::array<std::uint8_t, meterwire::kGroupSize>;

// Divisor of a reading code; codes without one (overload 9, invalid codes) use 100
// so that their value bytes still carry something.
inline int codeDivisor(int code) {
  switch (code) {
    case 3:
    case 4:
    case 7:
    case 8:
    case 13:
    case 14:
    case 15:
    case 17:
    case 18:
    case 19: return 10;
    case 10:
    case 11: return 1000;
    case 12:
    case 16:
    case 20: return 1;
    default: return 100;
  }
}

// Encodes a reading given in the code's unit (sign ignored: the code carries it).
// The count value is rounded and clamped to 0..9999.
inline Group encodeReading(int code, double value) {
  double count = std::round(std::fabs(value) * codeDivisor(code));
  if (!(count >= 0)) count = 0;  // NaN
  if (count > 9999) count = 9999;
  const int c = static_cast<int>(count);
  return {static_cast<std::uint8_t>(c / 100), static_cast<std::uint8_t>(c % 100),
          static_cast<std::uint8_t>(code)};
}

// The codes stored groups cycle through: every valid row of the code table, the
// overload code 9 and invalid codes 0, 21 and 255.
inline constexpr std::array<std::uint8_t, 16> kStoredCodes = {1,  3,  10, 5,  7, 11, 12, 13,
                                                              16, 17, 18, 20, 9, 0,  21, 255};

// Stored group k (1-based): code kStoredCodes[(k-1) % 16], count value (k * 1237) mod 10000.
inline Group storedGroup(int k) {
  const int count = (k * 1237) % 10000;
  return {static_cast<std::uint8_t>(count / 100), static_cast<std::uint8_t>(count % 100),
          kStoredCodes[static_cast<std::size_t>((k - 1) % 16)]};
}

enum class Waveform { Constant, Sine, Ramp };

// The value of live reading number n (0-based) for base value v:
//   constant: v;
//   sine:     v * (1 + 0.5 * sin(2*pi*n/period)), between v/2 and 3v/2;
//   ramp:     v * (n mod period) / (period - 1), rising from 0 to v, then again.
inline double liveValue(Waveform w, double v, long n, int period) {
  if (period < 2) period = 2;
  switch (w) {
    case Waveform::Sine:
      return v * (1.0 + 0.5 * std::sin(2.0 * M_PI * static_cast<double>(n % period) / period));
    case Waveform::Ramp: return v * static_cast<double>(n % period) / (period - 1);
    case Waveform::Constant: break;
  }
  return v;
}

}  // namespace metersim
