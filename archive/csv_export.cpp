#include "archive/csv_export.h"

#include <QDateTime>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "documents/text_export.h"

namespace {

constexpr int kFlushBytes = 1 << 20;
constexpr qint64 kProgressEveryRows = 16384;

const char kHeader[] =
    "local_time,local_datetime,utc_ms,source,id,label,number,kind,value,unit,value_ma,text,raw\r\n";

// The most a double takes in fixed notation: a sign, 309 digits before the
// point (DBL_MAX), or "0." and 324 digits after it (the smallest subnormal).
constexpr int kMaxNumberBytes = 330;

qint64 FloorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Writes into memory the caller has already made room for: rows are built
// with plain stores, not one container append per character.
struct Cursor {
  char *p;

  void put(char c) { *p++ = c; }
  void put(QByteArrayView v) {
    if (v.isEmpty()) return;
    std::memcpy(p, v.data(), static_cast<size_t>(v.size()));
    p += v.size();
  }
  // At least `width` digits, zero-padded.
  void digits(qint64 v, int width = 1) {
    char buf[24];
    char *end = buf + sizeof buf;
    char *d = end;
    const bool negative = v < 0;
    quint64 u = negative ? 0 - static_cast<quint64>(v) : static_cast<quint64>(v);
    do {
      *--d = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    while (end - d < width) *--d = '0';
    if (negative) *--d = '-';
    put(QByteArrayView(d, end - d));
  }
  // Fixed notation, the shortest digits that read back to the same double;
  // the C++ conversion never looks at the locale. Infinity (possible only in
  // a file made by hand) is no number: the field stays empty. Needs room for
  // kMaxNumberBytes.
  void number(double v) {
    if (!std::isfinite(v)) return;
    const std::to_chars_result r = std::to_chars(p, p + kMaxNumberBytes, v, std::chars_format::fixed);
    if (r.ec == std::errc()) p = r.ptr;
  }
  // RFC 4180: a field with a comma, a quote or a line break is quoted, its
  // quotes doubled. A field a spreadsheet would take for a formula (one that
  // begins with = + - @, a tab or a CR) gets an apostrophe in front, so that
  // it is shown as the text it is. Needs room for twice the field plus three.
  void field(QByteArrayView utf8) {
    const char first = utf8.isEmpty() ? '\0' : utf8.front();
    const bool formula =
        first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' || first == '\r';
    bool plain = true;
    for (char c : utf8) plain = plain && c != ',' && c != '"' && c != '\n' && c != '\r';
    if (plain) {
      if (formula) put('\'');
      put(utf8);
      return;
    }
    put('"');
    if (formula) put('\'');
    for (char c : utf8) {
      if (c == '"') put('"');
      put(c);
    }
    put('"');
  }
};

// Local time twice: as ISO 8601 with the offset, "2024-05-01T20:34:56.789+08:00",
// and as "2024-05-01 20:34:56", which spreadsheets read as a date and time.
// The offset is looked up once per quarter hour of UTC time: every zone
// change since 1900 falls on a quarter hour, and so does every local
// midnight, so within a block only the time of day moves.
class LocalTimeWriter {
 public:
  static constexpr int kMaxBytes = 64;

  // Both fields and the comma between them. A time outside the years 1 to
  // 9999 (a file made by hand) has no local time: both fields stay empty.
  void write(Cursor &out, qint64 utcMs) {
    if (utcMs < kEarliestMs || utcMs > kLatestMs) {
      out.put(',');
      return;
    }
    const qint64 block = FloorDiv(utcMs, kBlockMs);
    if (block != block_) startBlock(block);
    const qint64 msOfDay = blockMsOfDay_ + (utcMs - block_ * kBlockMs);
    char time[8];
    Cursor t{time};
    t.digits(msOfDay / 3600000, 2);
    t.put(':');
    t.digits(msOfDay / 60000 % 60, 2);
    t.put(':');
    t.digits(msOfDay / 1000 % 60, 2);
    out.put(QByteArrayView(date_, sizeof date_));
    out.put('T');
    out.put(QByteArrayView(time, sizeof time));
    out.put('.');
    out.digits(msOfDay % 1000, 3);
    out.put(QByteArrayView(offset_, sizeof offset_));
    out.put(',');
    out.put(QByteArrayView(date_, sizeof date_));
    out.put(' ');
    out.put(QByteArrayView(time, sizeof time));
  }

 private:
  static constexpr qint64 kBlockMs = 15 * 60 * 1000;
  // 0001-01-02 and 9999-12-30 UTC: a day inside the years 1 to 9999, so
  // that any zone's offset keeps the local date inside them too.
  static constexpr qint64 kEarliestMs = -62135596800000 + 86400000;
  static constexpr qint64 kLatestMs = 253402214400000 - 1;

  void startBlock(qint64 block) {
    block_ = block;
    const qint64 utcMs = block * kBlockMs;
    const int offsetS = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).offsetFromUtc();
    const qint64 localMs = utcMs + offsetS * qint64(1000);
    const qint64 days = FloorDiv(localMs, 86400000);
    blockMsOfDay_ = localMs - days * 86400000;
    // Civil date from a day count (proleptic Gregorian calendar).
    const qint64 z = days + 719468;
    const qint64 era = FloorDiv(z, 146097);
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = std::clamp<qint64>(yoe + era * 400 + (month <= 2 ? 1 : 0), 0, 9999);
    char text[32];
    Cursor c{text};
    c.digits(year, 4);
    c.put('-');
    c.digits(month, 2);
    c.put('-');
    c.digits(day, 2);
    std::memcpy(date_, text, sizeof date_);
    const int offsetMin = offsetS / 60;
    c = Cursor{text};
    c.put(offsetMin < 0 ? '-' : '+');
    c.digits(std::abs(offsetMin) / 60, 2);
    c.put(':');
    c.digits(std::abs(offsetMin) % 60, 2);
    std::memcpy(offset_, text, sizeof offset_);
  }

  qint64 block_ = std::numeric_limits<qint64>::min();
  qint64 blockMsOfDay_ = 0;
  char date_[10] = {};   // "2024-05-01"
  char offset_[6] = {};  // "+08:00"
};

class CsvWriter {
 public:
  CsvWriter(QIODevice &out, CsvEncoding encoding) : out_(out), encoding_(encoding) {
    buffer_.reserve(kFlushBytes + 64 * 1024);
  }

  void begin() {
    if (encoding_ == CsvEncoding::Utf8WithBom) buffer_.append("\xEF\xBB\xBF");
    buffer_.append(kHeader);
  }

  // The columns every row of an entry shares: source, id and label.
  void startEntry(const EntrySummary &entry) {
    const QByteArray uuid = entry.uuid.toUtf8();
    const QByteArray label = entry.label.toUtf8();
    prefix_.resize(32 + 2 * (uuid.size() + label.size()));
    Cursor c{prefix_.data()};
    c.put(entry.kind == EntryKind::Recording ? "recording," : "download,");
    c.field(uuid);
    c.put(',');
    c.field(label);
    c.put(',');
    prefix_.truncate(c.p - prefix_.data());
  }

  bool row(const RowStream &r) {
    const QByteArrayView kind = r.bytes(Archive::KindColumn);
    const QByteArrayView unit = r.bytes(Archive::UnitColumn);
    const QByteArrayView text = r.bytes(Archive::TextColumn);
    const QByteArrayView raw = r.bytes(Archive::RawColumn);
    const qsizetype room = LocalTimeWriter::kMaxBytes + 3 * 24 + 2 * kMaxNumberBytes + prefix_.size() +
                           2 * (kind.size() + unit.size() + text.size()) + 3 * raw.size() + 32;
    const qsizetype at = buffer_.size();
    buffer_.resize(at + room);
    Cursor c{buffer_.data() + at};
    const qint64 utcMs = r.integer(Archive::UtcMsColumn);
    time_.write(c, utcMs);
    c.put(',');
    c.digits(utcMs);
    c.put(',');
    c.put(prefix_);
    c.digits(r.integer(Archive::NumberColumn));
    c.put(',');
    c.field(kind);
    c.put(',');
    if (!r.isNull(Archive::ValueColumn)) c.number(r.real(Archive::ValueColumn));
    c.put(',');
    c.field(unit);
    c.put(',');
    if (!r.isNull(Archive::MilliAmpsColumn)) c.number(r.real(Archive::MilliAmpsColumn));
    c.put(',');
    c.field(text);
    c.put(',');
    static const char hex[] = "0123456789ABCDEF";
    for (qsizetype i = 0; i < raw.size(); ++i) {
      if (i > 0) c.put(' ');
      const auto byte = static_cast<unsigned char>(raw[i]);
      c.put(hex[byte >> 4]);
      c.put(hex[byte & 15]);
    }
    c.put('\r');
    c.put('\n');
    buffer_.truncate(c.p - buffer_.data());
    return buffer_.size() < kFlushBytes || flush();
  }

  // The buffer always ends after a whole row, so a chunk never splits a
  // character before it is re-encoded.
  bool flush() {
    if (buffer_.isEmpty()) return true;
    const QByteArray bytes = encoding_ == CsvEncoding::Gbk ? EncodeGbk(QString::fromUtf8(buffer_)) : buffer_;
    const bool ok = out_.write(bytes) == bytes.size();
    buffer_.truncate(0);
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
    const std::unique_ptr<RowStream> rows = archive.streamRows(e);
    while (writeOk && !cancelled && rows->next()) {
      writeOk = writer.row(*rows);
      ++result.rows;
      cancelled = progress && result.rows % kProgressEveryRows == 0 && !progress(result.rows, total);
    }
    if (rows->error().type() != QSqlError::NoError) {
      result.error = rows->error().text();
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

CsvExportResult ExportCsvFile(Archive &archive, const QString &path, const CsvExportOptions &options,
                              const CsvProgress &progress) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    CsvExportResult result;
    result.error = file.errorString();
    return result;
  }
  CsvExportResult result = ExportCsv(archive, file, options, progress);
  // The file's own write buffer is flushed before the commit: commit() would
  // put a file whose last bytes never reached the disk in place of the earlier one.
  if (result.ok && !file.flush()) {
    result.ok = false;
    result.error = file.errorString();
  }
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
