#pragma once
// The archive as CSV (RFC 4180): a header row, then one row per reading or
// stored group, entries oldest first, rows in number order, CR LF after every
// row. Columns:
//   local_time      ISO 8601 local time with milliseconds and offset,
//                   "2024-05-01T20:34:56.789+08:00"
//   local_datetime  the same local time as spreadsheets read a date and time,
//                   "2024-05-01 20:34:56"
//   utc_ms          UTC milliseconds since the epoch
//   source          "recording" or "download"
//   id              the entry's uuid
//   label           the entry's label
//   number          1-based within the entry
//   kind            "AC", "DC", "overload", "invalid"
//   value           signed, in `unit`; empty for overload and invalid
//   unit            "mA", "A" or empty
//   value_ma        signed, in mA; empty for overload and invalid
//   text            as the program displayed it ("12.34mA", "AC 12.34 mA")
//   raw             the three bytes in hex, "0C 22 01"
// Numbers use "." whatever the locale, in the shortest form that reads back
// exactly. A text field that begins with = + - @, a tab or a CR gets an
// apostrophe in front ("'-0.7A"), so that no spreadsheet runs it as a
// formula; number fields stay plain numbers. Whatever a file holds, every
// field is valid CSV: a time outside the years 1 to 9999 leaves both local
// time fields empty, an infinite value its field. Rows are streamed: memory
// stays flat for any archive size.
#include <QIODevice>
#include <QList>
#include <QString>
#include <functional>

#include "archive/archive.h"

enum class CsvEncoding {
  Utf8WithBom,  // what spreadsheet programs recognise as UTF-8
  Utf8,
  Gbk,  // code page 936; characters it lacks become "?"
};

struct CsvExportOptions {
  CsvEncoding encoding = CsvEncoding::Utf8WithBom;
  QList<EntrySummary> entries;  // what to export, in this order; empty: everything
};

struct CsvExportResult {
  bool ok = false;
  qint64 rows = 0;  // data rows written
  QString error;
};

// Called now and then with the rows written so far and the total; returning
// false cancels the export.
using CsvProgress = std::function<bool(qint64 done, qint64 total)>;

// Writes to an open device.
CsvExportResult ExportCsv(Archive &archive, QIODevice &out, const CsvExportOptions &options,
                          const CsvProgress &progress = {});
// Writes a file that appears only once it is complete (not after a failure
// or a cancel).
CsvExportResult ExportCsvFile(Archive &archive, const QString &path, const CsvExportOptions &options,
                              const CsvProgress &progress = {});
