#include "documents/gbk.h"

#include <windows.h>

namespace {

constexpr UINT kGbk = 936;

}  // namespace

// One code point at a time, so a character GBK lacks (a supplementary one
// included) becomes exactly one "?", as on Linux.
QByteArray EncodeGbkBySystem(const QString &text) {
  QByteArray out;
  out.reserve(text.size() * 2);
  const QChar *p = text.constData();
  const QChar *end = p + text.size();
  while (p < end) {
    if (p->unicode() < 0x80) {
      out.append(static_cast<char>(p->unicode()));
      ++p;
      continue;
    }
    const int units = (p->isHighSurrogate() && p + 1 < end && p[1].isLowSurrogate()) ? 2 : 1;
    char bytes[4];
    BOOL lacking = FALSE;
    const int n = units == 1 ? WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, reinterpret_cast<LPCWCH>(p), 1,
                                                   bytes, sizeof bytes, nullptr, &lacking)
                             : 0;
    if (n > 0 && !lacking)
      out.append(bytes, n);
    else
      out.append('?');
    p += units;
  }
  return out;
}

// A lead byte and its trail byte at a time, so a byte that is no GBK
// becomes one U+FFFD and the next byte is read afresh, as on Linux.
QString DecodeGbkBySystem(const QByteArray &bytes) {
  QString text;
  text.reserve(bytes.size());
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
  const qsizetype size = bytes.size();
  qsizetype i = 0;
  while (i < size) {
    if (p[i] < 0x80) {
      text.append(QChar(p[i]));
      ++i;
      continue;
    }
    wchar_t wide[2];
    int n = 0;
    if (i + 1 < size)
      n = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, reinterpret_cast<LPCCH>(p + i), 2, wide, 2);
    if (n == 1) {
      text.append(QChar(static_cast<char16_t>(wide[0])));
      i += 2;
      continue;
    }
    n = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, reinterpret_cast<LPCCH>(p + i), 1, wide, 2);
    text.append(n == 1 ? QChar(static_cast<char16_t>(wide[0])) : QChar(QChar::ReplacementCharacter));
    ++i;
  }
  return text;
}
