#include "documents/gbk.h"

#include <QList>
#include <cerrno>
#include <iconv.h>

// Works on UCS-4 so a character that cannot be encoded is skipped as one unit
// and written "?".
QByteArray EncodeGbkBySystem(const QString &text) {
  iconv_t cd = iconv_open("CP936", "UCS-4LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text.toLatin1();
  const QList<uint> ucs4 = text.toUcs4();
  QByteArray in(reinterpret_cast<const char *>(ucs4.constData()), ucs4.size() * 4);
  QByteArray out(in.size() + 16, '\0');  // GBK never needs more than 2 bytes a character
  char *inPtr = in.data();
  size_t inLeft = in.size();
  char *outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    if (outLeft == 0) break;
    *outPtr++ = '?';
    --outLeft;
    const size_t skip = qMin<size_t>(4, inLeft);
    inPtr += skip;
    inLeft -= skip;
  }
  out.truncate(outPtr - out.data());
  iconv_close(cd);
  return out;
}

QString DecodeGbkBySystem(const QByteArray &bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) return QString::fromLatin1(bytes);
  QByteArray in = bytes;
  QByteArray out(in.size() * 3 / 2 + 16, '\0');  // GBK's 2 bytes become at most 3 of UTF-8
  char *inPtr = in.data();
  size_t inLeft = static_cast<size_t>(in.size());
  QByteArray utf8;
  while (true) {
    char *outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    utf8.append(out.constData(), out.size() - static_cast<qsizetype>(outLeft));
    if (r != static_cast<size_t>(-1) || inLeft == 0) break;
    if (errno == E2BIG) continue;
    utf8.append("\xEF\xBF\xBD");  // EILSEQ or a cut-off last character
    ++inPtr;
    --inLeft;
  }
  iconv_close(cd);
  return QString::fromUtf8(utf8);
}
