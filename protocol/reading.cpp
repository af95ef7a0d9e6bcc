#include "protocol/reading.h"

ReadingCodeInfo LookUpReadingCode(uint8_t code) {
  using K = ReadingKind;
  using U = ReadingUnit;
  using S = ReadingSign;
  switch (code) {
    case 1:
    case 2: return {K::AC, 100, U::MilliAmp, S::Positive};
    case 3:
    case 4: return {K::AC, 10, U::MilliAmp, S::Positive};
    case 10: return {K::AC, 1000, U::MilliAmp, S::Positive};
    case 5:
    case 6: return {K::AC, 100, U::Amp, S::Positive};
    case 7:
    case 8: return {K::AC, 10, U::Amp, S::Positive};
    case 11: return {K::AC, 1000, U::Amp, S::Positive};
    case 12: return {K::AC, 1, U::Amp, S::Positive};
    case 13:
    case 14:
    case 15: return {K::DC, 10, U::Amp, S::Positive};
    case 16: return {K::DC, 1, U::Amp, S::Positive};
    case 17: return {K::DC, 10, U::Amp, S::NegativeUnlessZero};
    case 18:
    case 19: return {K::DC, 10, U::Amp, S::Negative};
    case 20: return {K::DC, 1, U::Amp, S::Negative};
    case 9: return {K::Overload, 0, U::None, S::Positive};
    default: return {K::Invalid, 0, U::None, S::Positive};
  }
}

ReadingGroup ReadingGroup::At(const QByteArray &block, int index) {
  const int at = index * kSize;
  Q_ASSERT(index >= 0 && at + kSize <= block.size());
  ReadingGroup g;
  g.high = static_cast<uint8_t>(block[at]);
  g.low = static_cast<uint8_t>(block[at + 1]);
  g.code = static_cast<uint8_t>(block[at + 2]);
  return g;
}

bool ReadingGroup::isNumeric() const {
  const ReadingKind k = info().kind;
  return k == ReadingKind::AC || k == ReadingKind::DC;
}

float ReadingGroup::magnitude() const {
  const ReadingCodeInfo i = info();
  if (i.divisor == 0) return 0.0f;
  return static_cast<float>(countValue()) / static_cast<float>(i.divisor);
}

bool ReadingGroup::showsMinus() const {
  switch (info().sign) {
    case ReadingSign::Negative: return true;
    case ReadingSign::NegativeUnlessZero: return countValue() != 0;
    case ReadingSign::Positive: return false;
  }
  return false;
}
