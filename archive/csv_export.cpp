#include "archive/csv_export.h"

#include <QDateTime>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "documents/text_export.h"

namespace {

constexpr int kFlushBytes = 1 << 20;
constexpr qint64 kProgressEveryRows = 16384;

const char kHeader[] =
    "local_time,utc_ms,source,id,label,number,kind,value,unit,value_ma,text,raw\r\n";

qint64 FloorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// KindName and UnitName without a string allocation per row.
const char *KindText(ReadingKind kind) {
  switch (kind) {
    case ReadingKind::AC: return "AC";
    case ReadingKind::DC: return "DC";
    case ReadingKind::Overload: return "overload";
    case ReadingKind::Invalid: break;
  }
  return "invalid";
}

const char *UnitText(ReadingUnit unit) {
  switch (unit) {
    case ReadingUnit::MilliAmp: return "mA";
    case ReadingUnit::Amp: return "A";
    case ReadingUnit::None: break;
  }
  return "";
}

void AppendDigits(QByteArray &out, qint64 v, int width) {
  char buf[24];
  char *end = buf + sizeof buf;
  char *p = end;
  const bool negative = v < 0;
  quint64 u = negative ? 0 - static_cast<quint64>(v) : static_cast<quint64>(v);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  while (end - p < width) *--p = '0';
  if (negative) *--p = '-';
  out.append(p, end - p);
}

void AppendDouble(QByteArray &out, double v) {
  char buf[64];
  // Fixed notation, shortest digits that read back to the same double; the
  // C++ conversion never looks at the locale.
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  out.append(buf, r.ptr - buf);
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled.
void AppendField(QByteArray &out, const QString &text) {
  const QByteArray utf8 = text.toUtf8();
  if (utf8.indexOf(',') < 0 && utf8.indexOf('"') < 0 && utf8.indexOf('\n') < 0 &&
      utf8.indexOf('\r') < 0) {
    out.append(utf8);
    return;
  }
  out.append('"');
  for (char c : utf8) {
    if (c == '"') out.append('"');
    out.append(c);
  }
  out.append('"');
}

// Local time as ISO 8601 with the offset. The offset is looked up once per
// quarter hour of UTC time: every time zone change since 1900 falls on a
// quarter hour, so a block never straddles one.
class LocalTimeWriter {
 public:
  void append(QByteArray &out, qint64 utcMs) {
    const qint64 block = FloorDiv(utcMs, kBlockMs);
    if (block != block_) {
      block_ = block;
      offsetS_ = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).offsetFromUtc();
    }
    const qint64 localMs = utcMs + offsetS_ * qint64(1000);
    const qint64 days = FloorDiv(localMs, 86400000);
    const qint64 msOfDay = localMs - days * 86400000;
    // Civil date from a day count (proleptic Gregorian calendar).
    const qint64 z = days + 719468;
    const qint64 era = FloorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    AppendDigits(out, year, 4);
    out.append('-');
    AppendDigits(out, month, 2);
    out.append('-');
    AppendDigits(out, day, 2);
    out.append('T');
    AppendDigits(out, msOfDay / 3600000, 2);
    out.append(':');
    AppendDigits(out, msOfDay / 60000 % 60, 2);
    out.append(':');
    AppendDigits(out, msOfDay / 1000 % 60, 2);
    out.append('.');
    AppendDigits(out, msOfDay % 1000, 3);
    const int offsetMin = offsetS_ / 60;
    out.append(offsetMin < 0 ? '-' : '+');
    AppendDigits(out, std::abs(offsetMin) / 60, 2);
    out.append(':');
    AppendDigits(out, std::abs(offsetMin) % 60, 2);
  }

 private:
  static constexpr qint64 kBlockMs = 15 * 60 * 1000;
  qint64 block_ = std::numeric_limits<qint64>::min();
  int offsetS_ = 0;
};

class CsvWriter {
 public:
  CsvWriter(QIODevice &out, CsvEncoding encoding) : out_(out), encoding_(encoding) {
    buffer_.reserve(kFlushBytes + 4096);
  }

  bool begin() {
    if (encoding_ == CsvEncoding::Utf8WithBom) buffer_.append("\xEF\xBB\xBF");
    buffer_.append(kHeader);
    return true;
  }

  void startEntry(const EntrySummary &entry) {
    prefix_.clear();
    prefix_.append(entry.kind == EntryKind::Recording ? "recording," : "download,");
    AppendField(prefix_, entry.uuid);
    prefix_.append(',');
    AppendField(prefix_, entry.label);
    prefix_.append(',');
  }

  bool row(const ArchivedRow &r) {
    QByteArray &b = buffer_;
    time_.append(b, r.utcMs);
    b.append(',');
    AppendDigits(b, r.utcMs, 1);
    b.append(',');
    b.append(prefix_);
    AppendDigits(b, r.number, 1);
    b.append(',');
    b.append(KindText(r.kind));
    b.append(',');
    if (r.value) AppendDouble(b, *r.value);
    b.append(',');
    b.append(UnitText(r.unit));
    b.append(',');
    if (r.milliAmps) AppendDouble(b, *r.milliAmps);
    b.append(',');
    AppendField(b, r.text);
    b.append(',');
    static const char hex[] = "0123456789ABCDEF";
    for (int i = 0; i < r.raw.size(); ++i) {
      if (i > 0) b.append(' ');
      const auto c = static_cast<unsigned char>(r.raw[i]);
      b.append(hex[c >> 4]);
      b.append(hex[c & 15]);
    }
    b.append("\r\n", 2);
    return b.size() < kFlushBytes || flush();
  }

  // The buffer always ends after a whole row, so a chunk never splits a
  // character before it is re-encoded.
  bool flush() {
    if (buffer_.isEmpty()) return true;
    const QByteArray bytes =
        encoding_ == CsvEncoding::Gbk ? EncodeTableText(QString::fromUtf8(buffer_)) : buffer_;
    const bool ok = out_.write(bytes) == bytes.size();
    buffer_.clear();
    return ok;
  }

 private:
  QIODevice &out_;
  CsvEncoding encoding_;
  QByteArray buffer_;
  QByteArray prefix_;
  LocalTimeWriter time_;
};

}  // namespace

CsvExportResult ExportCsv(Archive &archive, QIODevice &out, const CsvExportOptions &options,
                          const CsvProgress &progress) {
  CsvExportResult result;
  if (!archive.isOpen()) {
    result.error = QStringLiteral("the archive is not open");
    return result;
  }
  QList<EntrySummary> entries = options.entries;
  if (entries.isEmpty()) {
    entries = archive.listEntries();
    std::reverse(entries.begin(), entries.end());  // oldest first
  }
  qint64 total = 0;
  for (const EntrySummary &e : entries) total += e.count;
  if (progress && !progress(0, total)) {
    result.error = QStringLiteral("cancelled");
    return result;
  }

  CsvWriter writer(out, options.encoding);
  writer.begin();
  bool writeOk = true;
  bool cancelled = false;
  for (const EntrySummary &e : entries) {
    writer.startEntry(e);
    const bool ok = archive.forEachRow(e, [&](const ArchivedRow &r) {
      if (!writer.row(r)) {
        writeOk = false;
        return false;
      }
      ++result.rows;
      if (progress && result.rows % kProgressEveryRows == 0 && !progress(result.rows, total)) {
        cancelled = true;
        return false;
      }
      return true;
    });
    if (!ok) {
      result.error = archive.errorText();
      return result;
    }
    if (!writeOk || cancelled) break;
  }
  if (writeOk && !cancelled) writeOk = writer.flush();
  if (!writeOk) {
    result.error = out.errorString();
    return result;
  }
  if (cancelled) {
    result.error = QStringLiteral("cancelled");
    return result;
  }
  if (progress) progress(result.rows, total);
  result.ok = true;
  return result;
}

CsvExportResult ExportCsvFile(Archive &archive, const QString &path,
                              const CsvExportOptions &options, const CsvProgress &progress) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    CsvExportResult result;
    result.error = file.errorString();
    return result;
  }
  CsvExportResult result = ExportCsv(archive, file, options, progress);
  if (!result.ok) {
    file.cancelWriting();
    return result;
  }
  if (!file.commit()) {
    result.ok = false;
    result.error = file.errorString();
  }
  return result;
}
