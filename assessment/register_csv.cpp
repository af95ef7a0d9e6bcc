#include "assessment/register_csv.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cerrno>
#include <cmath>

#include "archive/archive_types.h"
#include "assessment/round_fill.h"
#include "documents/gbk.h"

namespace {

enum Column {
  Id,
  Station,
  Level,
  Bay,
  Phase,
  Model,
  Serial,
  Maker,
  Commissioned,
  Initial,
  InitialDate,
  Retired,
  Note
};
constexpr int kColumns = Note + 1;

struct ColumnName {
  const char *chinese;
  const char *english;
};
// In the order of the exported file.
const ColumnName kNames[kColumns] = {
    {"ID", "id"},
    {"变电站", "station"},
    {"电压等级", "voltage_level"},
    {"间隔", "bay"},
    {"相别", "phase"},
    {"型号", "model"},
    {"出厂编号", "serial"},
    {"厂家", "maker"},
    {"投运日期", "commissioned"},
    {"初始值", "initial_ma"},
    {"初始值日期", "initial_date"},
    {"退役", "retired"},
    {"备注", "note"},
};

QString Chinese(int column) {
  static const QList<QString> names = [] {
    QList<QString> list;
    for (const ColumnName &name : kNames) list.append(QString::fromUtf8(name.chinese));
    return list;
  }();
  return names[column];
}

// UTF-8 (with or without a byte-order mark) when the bytes are valid UTF-8,
// else GBK, as spreadsheets on Chinese Windows save CSV; UTF-16 after its
// byte-order mark.
QString DecodeText(QByteArray bytes) {
  // A spreadsheet's "Unicode text" is UTF-16 with a byte-order mark.
  if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
    QStringDecoder utf16(bytes.startsWith("\xFF") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
    return utf16.decode(bytes.mid(2));
  }
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder gbk("GBK");
  if (gbk.isValid()) return gbk.decode(bytes);
  return DecodeGbkBySystem(bytes);
}

struct Record {
  int line = 0;
  QStringList fields;
};

// RFC 4180 records with the physical line each starts on. A quote inside
// an unquoted field is taken as it is. Returns false (with the line the
// open quote is on) when the file ends inside quotes.
bool SplitRecords(const QString &text, QChar delimiter, QList<Record> &records, int &openQuoteLine) {
  Record record;
  record.line = 1;
  QString field;
  int line = 1;
  bool quoted = false, fieldStarted = false;
  const qsizetype n = text.size();
  auto endField = [&] {
    record.fields.append(field);
    field.clear();
    fieldStarted = false;
  };
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == QLatin1Char('"')) {
        if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
          field += c;
          ++i;
        } else {
          quoted = false;
        }
      } else {
        // Up to the next quote at once, counting the line breaks on the way.
        qsizetype j = i;
        for (; j < n && text[j] != QLatin1Char('"'); ++j)
          if (text[j] == QLatin1Char('\n') ||
              (text[j] == QLatin1Char('\r') && !(j + 1 < n && text[j + 1] == QLatin1Char('\n'))))
            ++line;
        field += QStringView(text).mid(i, j - i);
        i = j - 1;
      }
      continue;
    }
    if (c == delimiter) {
      endField();
      fieldStarted = true;  // a field follows, even an empty last one
    } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n')) ++i;
      endField();
      records.append(std::move(record));
      record = Record();
      record.line = ++line;
    } else if (c == QLatin1Char('"') && field.isEmpty() && !quoted) {
      quoted = true;
      fieldStarted = true;
      openQuoteLine = line;
    } else {
      // Up to the end of the field at once; a quote inside it is taken as it is.
      qsizetype j = i + 1;
      while (j < n && text[j] != delimiter && text[j] != QLatin1Char('\r') && text[j] != QLatin1Char('\n'))
        ++j;
      field += QStringView(text).mid(i, j - i);
      i = j - 1;
      fieldStarted = true;
    }
  }
  if (quoted) return false;
  if (fieldStarted || !field.isEmpty() || !record.fields.isEmpty()) {
    endField();
    records.append(std::move(record));
  }
  return true;
}

// The delimiter of the header line: a comma, else a semicolon, else a tab.
QChar DelimiterOf(const QString &text) {
  bool quoted = false, semicolon = false, tab = false;
  for (const QChar c : text) {
    if (c == QLatin1Char('"')) quoted = !quoted;
    if (quoted) continue;
    if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) break;
    if (c == QLatin1Char(',')) return c;
    semicolon = semicolon || c == QLatin1Char(';');
    tab = tab || c == QLatin1Char('\t');
  }
  return semicolon ? QLatin1Char(';') : tab ? QLatin1Char('\t') : QLatin1Char(',');
}

bool IsFormulaStart(QChar c) {
  return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('@') ||
         c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

// A cell as it was before the export guarded it against spreadsheets
// taking it for a formula (see RegisterCsv), trimmed.
QString CellText(const QString &cell) {
  if (cell.size() >= 2 && cell[0] == QLatin1Char('\'') &&
      (IsFormulaStart(cell[1]) || cell[1] == QLatin1Char('\'')))
    return cell.mid(1).trimmed();
  return cell.trimmed();
}

// The column a header name stands for, or -1.
int ColumnOf(QString name) {
  static const QRegularExpression unit(QStringLiteral(R"(\s*[(（][^)）]*[)）]\s*$)"));
  name = name.trimmed();
  name.remove(unit);
  name = name.trimmed().toLower();
  name.replace(QLatin1Char(' '), QLatin1Char('_')).replace(QLatin1Char('-'), QLatin1Char('_'));
  for (int c = 0; c < kColumns; ++c)
    if (name == QString::fromUtf8(kNames[c].chinese).toLower() || name == QLatin1String(kNames[c].english))
      return c;
  return -1;
}

std::optional<QDate> ParseDate(const QString &text) {
  static const QRegularExpression pattern(
      QStringLiteral(R"(^([0-9]{4})[-/.]([0-9]{1,2})[-/.]([0-9]{1,2})$)"));
  const QRegularExpressionMatch m = pattern.match(text);
  if (!m.hasMatch()) return std::nullopt;
  const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (!date.isValid()) return std::nullopt;
  return date;
}

std::optional<bool> ParseRetired(const QString &text) {
  static const QStringList yes = {QStringLiteral("是"), QStringLiteral("退役"), QStringLiteral("yes"),
                                  QStringLiteral("y"),  QStringLiteral("true"), QStringLiteral("1")};
  static const QStringList no = {QStringLiteral("否"), QStringLiteral("在运"),  QStringLiteral("no"),
                                 QStringLiteral("n"),  QStringLiteral("false"), QStringLiteral("0")};
  if (text.isEmpty() || no.contains(text, Qt::CaseInsensitive)) return false;
  if (yes.contains(text, Qt::CaseInsensitive)) return true;
  return std::nullopt;
}

// Reads one data record into `row`; each fault found goes to `problems`.
void ReadRow(const Record &record, const QList<int> &columnAt, ArresterRecord &row,
             QList<ImportProblem> &problems) {
  auto problem = [&](const QString &text) { problems.append({record.line, text}); };
  QList<int> faulty;  // columns already told about
  for (int i = 0; i < record.fields.size(); ++i) {
    const int column = i < columnAt.size() ? columnAt[i] : -1;
    const QString text = CellText(record.fields[i]);
    if (column < 0 || column == Id) {
      if (i >= columnAt.size() && !text.isEmpty()) {
        problem(QStringLiteral("第 %1 列多出来了(表头只有 %2 列)").arg(i + 1).arg(columnAt.size()));
        break;
      }
      continue;
    }
    const QString name = Chinese(column);
    if (column != Note) {
      qsizetype length = 0;
      switch (CheckLabel(text, &length)) {
        case LabelProblem::None: break;
        case LabelProblem::TooLong:
          problem(QStringLiteral("%1太长(%2 个字符, 最多 %3 个)").arg(name).arg(length).arg(kMaxLabelLength));
          faulty.append(column);
          continue;
        case LabelProblem::ControlCharacter:
          problem(QStringLiteral("%1含有控制字符或换行").arg(name));
          faulty.append(column);
          continue;
      }
    }
    switch (column) {
      case Station: row.station = text; break;
      case Level: row.voltageLevel = text; break;
      case Bay: row.bay = text; break;
      case Phase: row.phase = NormalizedPhase(text); break;
      case Model: row.model = text; break;
      case Serial: row.serialNumber = text; break;
      case Maker: row.maker = text; break;
      case Note: row.note = QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")); break;
      case Commissioned:
      case InitialDate: {
        if (text.isEmpty()) break;
        const std::optional<QDate> date = ParseDate(text);
        if (!date)
          problem(QStringLiteral("%1「%2」不是日期(应为 YYYY-MM-DD)").arg(name, text));
        else
          (column == Commissioned ? row.commissioned : row.initialDate) = *date;
        break;
      }
      case Initial: {
        if (text.isEmpty()) break;
        const std::optional<TypedValue> value = ParseTypedValue(text);
        if (!value || value->reading != ResultReading::Value)
          problem(QStringLiteral("初始值「%1」不是电流值(应如 0.52、0.52mA 或 0.00052A)").arg(text));
        else if (!(*value->milliAmps > 0))
          problem(QStringLiteral("初始值「%1」不大于 0(没有初始值时留空)").arg(text));
        else
          row.initialMilliAmps = value->milliAmps;
        break;
      }
      case Retired: {
        const std::optional<bool> retired = ParseRetired(text);
        if (!retired)
          problem(QStringLiteral("退役「%1」应为 是 或 否").arg(text));
        else
          row.retired = *retired;
        break;
      }
    }
  }
  for (int column : {Station, Level, Bay, Phase}) {
    if (!columnAt.contains(column) || faulty.contains(column)) continue;  // told already
    const QString value = column == Station ? row.station
                          : column == Level ? row.voltageLevel
                          : column == Bay   ? row.bay
                                            : row.phase;
    if (value.isEmpty()) problem(QStringLiteral("%1为空").arg(Chinese(column)));
  }
}

// RFC 4180 with the same guard against formulas as the archive's CSV
// export: a cell beginning with = + - @, a tab or a CR, or with an
// apostrophe (so that one the file had is kept on reading), gets an
// apostrophe in front.
void AppendCell(QString &out, const QString &text) {
  const bool guard = !text.isEmpty() &&
                     (IsFormulaStart(text[0]) || (text[0] == QLatin1Char('\'') && text.size() >= 2 &&
                                                  (IsFormulaStart(text[1]) || text[1] == QLatin1Char('\''))));
  const QString cell = guard ? QLatin1Char('\'') + text : text;
  const bool quote = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"')) ||
                     cell.contains(QLatin1Char('\n')) || cell.contains(QLatin1Char('\r'));
  if (!quote) {
    out += cell;
    return;
  }
  out += QLatin1Char('"');
  for (const QChar c : cell) {
    if (c == QLatin1Char('"')) out += QLatin1Char('"');
    out += c;
  }
  out += QLatin1Char('"');
}

QString DateText(const QDate &date) { return date.isValid() ? date.toString(Qt::ISODate) : QString(); }

}  // namespace

QString NormalizedPhase(const QString &phase) {
  const QString t = phase.trimmed();
  if (t.size() == 1 && (t[0] == QLatin1Char('a') || t[0] == QLatin1Char('b') || t[0] == QLatin1Char('c')))
    return t.toUpper();
  return t;
}

QString ArresterKey(const ArresterRecord &a) {
  const QChar sep(0x1f);
  return a.station.trimmed() + sep + a.voltageLevel.trimmed() + sep + a.bay.trimmed() + sep +
         NormalizedPhase(a.phase) + sep + a.serialNumber.trimmed();
}

ParsedRegister ParseRegisterCsv(const QByteArray &bytes) {
  ParsedRegister parsed;
  const QString text = DecodeText(bytes);
  QList<Record> records;
  int openQuoteLine = 0;
  if (!SplitRecords(text, DelimiterOf(text), records, openQuoteLine)) {
    parsed.problems.append({openQuoteLine, QStringLiteral("引号没有结束")});
    return parsed;
  }
  if (records.isEmpty() || records.first().fields.join(QString()).trimmed().isEmpty()) {
    parsed.problems.append({1, QStringLiteral("没有表头(文件是空的或第一行是空行)")});
    return parsed;
  }

  const Record &header = records.first();
  QList<int> columnAt;
  for (const QString &name : header.fields) {
    const int column = ColumnOf(CellText(name));
    if (column < 0) {
      if (!name.trimmed().isEmpty()) parsed.ignoredColumns << name.trimmed();
    } else if (columnAt.contains(column)) {
      parsed.problems.append({header.line, QStringLiteral("「%1」列出现了两次").arg(Chinese(column))});
    } else {
      parsed.columns << QLatin1String(kNames[column].english);
    }
    columnAt.append(column);
  }
  for (int column : {Station, Level, Bay, Phase})
    if (!columnAt.contains(column))
      parsed.problems.append(
          {header.line,
           QStringLiteral("缺少「%1」列(%2)").arg(Chinese(column), QLatin1String(kNames[column].english))});

  QHash<QString, int> lineOfKey;
  for (qsizetype r = 1; r < records.size(); ++r) {
    const Record &record = records[r];
    bool blank = true;
    for (const QString &field : record.fields) blank = blank && field.trimmed().isEmpty();
    if (blank) continue;
    ArresterRecord row;
    const qsizetype before = parsed.problems.size();
    ReadRow(record, columnAt, row, parsed.problems);
    if (parsed.problems.size() == before) {
      const QString key = ArresterKey(row);
      const auto seen = lineOfKey.constFind(key);
      if (seen != lineOfKey.constEnd())
        parsed.problems.append(
            {record.line,
             QStringLiteral("与第 %1 行是同一只避雷器(变电站、电压等级、间隔、相别和出厂编号都相同)")
                 .arg(*seen)});
      else
        lineOfKey.insert(key, record.line);
    }
    parsed.rows.append(row);
    parsed.lines.append(record.line);
  }
  return parsed;
}

QList<ImportAction> PlanImport(const ParsedRegister &parsed, const QList<ArresterRecord> &stored) {
  QHash<QString, qsizetype> storedByKey;
  storedByKey.reserve(stored.size());
  for (qsizetype i = stored.size() - 1; i >= 0; --i)
    storedByKey.insert(ArresterKey(stored[i]), i);  // first wins
  const auto has = [&parsed](int column) {
    return parsed.columns.contains(QLatin1String(kNames[column].english));
  };
  const bool hasModel = has(Model), hasMaker = has(Maker), hasCommissioned = has(Commissioned),
             hasInitial = has(Initial), hasInitialDate = has(InitialDate), hasRetired = has(Retired),
             hasNote = has(Note);

  QList<ImportAction> actions;
  actions.reserve(parsed.rows.size());
  for (qsizetype i = 0; i < parsed.rows.size(); ++i) {
    const ArresterRecord &row = parsed.rows[i];
    ImportAction action;
    action.line = i < parsed.lines.size() ? parsed.lines[i] : 0;
    const auto found = storedByKey.constFind(ArresterKey(row));
    if (found == storedByKey.constEnd()) {
      action.kind = ImportAction::Add;
      action.row = row;
      action.row.uuid.clear();
      action.row.modifiedMs = 0;
      actions.append(std::move(action));
      continue;
    }
    const ArresterRecord &old = stored[*found];
    ArresterRecord merged = old;
    auto take = [&](bool present, auto field, int column) {
      if (!present || old.*field == row.*field) return;
      merged.*field = row.*field;
      action.changed << Chinese(column);
    };
    take(hasModel, &ArresterRecord::model, Model);
    take(hasMaker, &ArresterRecord::maker, Maker);
    take(hasCommissioned, &ArresterRecord::commissioned, Commissioned);
    take(hasInitial, &ArresterRecord::initialMilliAmps, Initial);
    take(hasInitialDate, &ArresterRecord::initialDate, InitialDate);
    take(hasRetired, &ArresterRecord::retired, Retired);
    take(hasNote, &ArresterRecord::note, Note);
    if (action.changed.isEmpty()) {
      action.kind = ImportAction::Unchanged;
      action.row = old;
    } else {
      action.kind = ImportAction::Update;
      merged.modifiedMs = 0;
      action.row = merged;
    }
    actions.append(std::move(action));
  }
  return actions;
}

QList<ArresterRecord> ImportRows(const QList<ImportAction> &plan) {
  QList<ArresterRecord> rows;
  rows.reserve(plan.size());
  for (const ImportAction &action : plan) rows.append(action.row);
  return rows;
}

QByteArray RegisterCsv(const QList<ArresterRecord> &arresters) {
  QString out;
  out.reserve(64 + arresters.size() * 96);
  for (int c = 0; c < kColumns; ++c) {
    if (c) out += QLatin1Char(',');
    out += Chinese(c);
  }
  out += QLatin1String("\r\n");
  for (const ArresterRecord &a : arresters) {
    const QString initial = a.initialMilliAmps && std::isfinite(*a.initialMilliAmps)
                                ? QString::number(*a.initialMilliAmps, 'f', QLocale::FloatingPointShortest)
                                : QString();
    const QString cells[kColumns] = {a.uuid,
                                     a.station,
                                     a.voltageLevel,
                                     a.bay,
                                     a.phase,
                                     a.model,
                                     a.serialNumber,
                                     a.maker,
                                     DateText(a.commissioned),
                                     initial,
                                     DateText(a.initialDate),
                                     a.retired ? QStringLiteral("是") : QStringLiteral("否"),
                                     a.note};
    for (int c = 0; c < kColumns; ++c) {
      if (c) out += QLatin1Char(',');
      AppendCell(out, cells[c]);
    }
    out += QLatin1String("\r\n");
  }
  return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}
