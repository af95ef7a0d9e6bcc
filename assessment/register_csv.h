#pragma once
// The arrester register as CSV: reading an import file (Chinese or English
// column names, UTF-8, GBK or UTF-16 with a byte-order mark), planning what
// it adds and updates, and writing the register out. Pure code: no archive,
// no widgets.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "archive/asset_types.h"

// A faulty row of an import file, with its line number (1-based, the
// header being line 1).
struct ImportProblem {
  int line = 0;
  QString text;  // in Chinese, for the window and the console tool
};

struct ParsedRegister {
  QList<ArresterRecord> rows;     // uuid empty
  QList<int> lines;               // the line of each row
  QList<ImportProblem> problems;  // any problem: nothing may be imported
  // The columns found, by their English names ("station", "model", ...):
  // a column the file lacks leaves a stored arrester's value as it is.
  QStringList columns;
  QStringList ignoredColumns;  // header names not known, as written
};

// Reads an import file. Columns (either name, any order; station, voltage
// level, bay and phase are required): 变电站/station, 电压等级/voltage_level,
// 间隔/bay, 相别/phase, 型号/model, 出厂编号/serial, 厂家/maker,
// 投运日期/commissioned, 初始值/initial_ma, 初始值日期/initial_date,
// 退役/retired, 备注/note. Dates YYYY-MM-DD (or YYYY/MM/DD); values as
// "0.52", "0.52mA", "0.00052A", above 0; 退役 是/否, yes/no, 1/0 or empty. A
// name may carry a unit in brackets ("初始值(mA)"); an ID column and unknown
// columns are ignored. Comma separated (a semicolon or tab when the header
// has no comma), RFC 4180 quotes; a line is a physical line of the file.
// Phases a, b, c become A, B, C; other text is trimmed.
ParsedRegister ParseRegisterCsv(const QByteArray &bytes);

// What an import would do to each row. The rows of Add and Update are whole
// records ready to store: an update keeps the stored values of the columns
// the file lacks.
struct ImportAction {
  enum Kind { Add, Update, Unchanged } kind = Add;
  int line = 0;
  ArresterRecord row;   // for Update and Unchanged: with the stored uuid
  QStringList changed;  // for Update: the Chinese names of the changed columns
};
QList<ImportAction> PlanImport(const ParsedRegister &parsed, const QList<ArresterRecord> &stored);
// The records to store for a plan (AssetStore::importArresters): the whole
// record of every row, so that a column the file lacks keeps its stored
// value instead of being emptied.
QList<ArresterRecord> ImportRows(const QList<ImportAction> &plan);

// The identity of an arrester in the register, for matching: station,
// voltage level, bay, phase and serial number, trimmed, phases a/b/c as A/B/C.
QString ArresterKey(const ArresterRecord &arrester);
// "A" for "a" (likewise B, C), any other phase trimmed.
QString NormalizedPhase(const QString &phase);

// The register as CSV (UTF-8 with a byte-order mark, CR LF, Chinese column
// names as above plus ID), readable again by ParseRegisterCsv.
QByteArray RegisterCsv(const QList<ArresterRecord> &arresters);
