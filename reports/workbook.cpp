#include "reports/workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <xlsxwriter.h>

namespace {

// The cell styles of both sheets.
struct Formats {
  lxw_format *header = nullptr;
  lxw_format *date = nullptr;
  lxw_format *milliAmps = nullptr;
  lxw_format *change = nullptr;    // a fraction shown as a signed percentage
  lxw_format *fraction = nullptr;  // a fraction shown as a percentage (humidity)
  lxw_format *celsius = nullptr;
  lxw_format *verdict[3] = {};  // 正常, 注意, 异常
  lxw_format *note = nullptr;
};

Formats MakeFormats(lxw_workbook *book) {
  Formats f;
  f.header = workbook_add_format(book);
  format_set_bold(f.header);
  format_set_bg_color(f.header, 0xD9D9D9);
  format_set_bottom(f.header, LXW_BORDER_THIN);
  f.date = workbook_add_format(book);
  format_set_num_format(f.date, "yyyy-mm-dd");
  format_set_align(f.date, LXW_ALIGN_LEFT);
  f.milliAmps = workbook_add_format(book);
  format_set_num_format(f.milliAmps, "0.000");
  f.change = workbook_add_format(book);
  format_set_num_format(f.change, "+0.0%;-0.0%;0.0%");
  f.fraction = workbook_add_format(book);
  format_set_num_format(f.fraction, "0%");
  f.celsius = workbook_add_format(book);
  format_set_num_format(f.celsius, "0.0");
  // The colours of the window's judgement table.
  const lxw_color_t fills[3] = {0xC8F0C8, 0xFFD060, 0xFF7070};
  for (int i = 0; i < 3; ++i) {
    f.verdict[i] = workbook_add_format(book);
    format_set_bg_color(f.verdict[i], fills[i]);
    format_set_align(f.verdict[i], LXW_ALIGN_CENTER);
  }
  f.note = workbook_add_format(book);
  format_set_italic(f.note);
  return f;
}

// How wide a text is in a spreadsheet's column units: Chinese characters
// take two.
int DisplayWidth(const QString &text) {
  int width = 0;
  for (const QChar c : text) {
    if (c.isLowSurrogate()) continue;
    width += c.unicode() >= 0x2E80 ? 2 : 1;
  }
  return width;
}

// Writes cells of one sheet, keeps the first error of libxlsxwriter, and
// tracks how wide each column's content is.
class SheetWriter {
 public:
  SheetWriter(lxw_worksheet *sheet, const QStringList &header, lxw_format *headerFormat) : sheet_(sheet) {
    for (int c = 0; c < header.size(); ++c) text(0, c, header[c], headerFormat);
  }

  void text(lxw_row_t row, lxw_col_t col, const QString &s, lxw_format *format = nullptr) {
    keep(worksheet_write_string(sheet_, row, col, s.toUtf8().constData(), format));
    widen(col, DisplayWidth(s));
  }
  // Nothing is written for an unset or non-finite number.
  void number(lxw_row_t row, lxw_col_t col, std::optional<double> v, lxw_format *format) {
    if (!v || !std::isfinite(*v)) return;
    keep(worksheet_write_number(sheet_, row, col, *v, format));
    widen(col, 8);
  }
  // A date the spreadsheet's calendar cannot hold is written as text.
  void date(lxw_row_t row, lxw_col_t col, const QDate &d, lxw_format *format) {
    if (!d.isValid()) return;
    if (d.year() < 1900 || d.year() > 9999) return text(row, col, d.toString(Qt::ISODate));
    lxw_datetime dt = {d.year(), d.month(), d.day(), 0, 0, 0};
    keep(worksheet_write_datetime(sheet_, row, col, &dt, format));
    widen(col, 10);
  }
  // A measured value: the number in mA, or "OL" / "无效" as text.
  void reading(lxw_row_t row, lxw_col_t col, ResultReading reading, std::optional<double> milliAmps,
               lxw_format *format) {
    if (reading == ResultReading::Value && milliAmps && std::isfinite(*milliAmps))
      number(row, col, milliAmps, format);
    else
      text(row, col, reading == ResultReading::Overload ? QStringLiteral("OL") : QStringLiteral("无效"));
  }
  // A percentage as the fraction a spreadsheet calculates with.
  void percent(lxw_row_t row, lxw_col_t col, std::optional<double> pct, lxw_format *format) {
    if (pct) number(row, col, *pct / 100, format);
  }

  // Column widths from their content (at most 50), the header frozen and
  // filtering over rows 0..lastRow.
  void finish(lxw_row_t lastRow, lxw_col_t lastCol) {
    for (lxw_col_t c = 0; c <= lastCol; ++c)
      keep(worksheet_set_column(sheet_, c, c, std::min(50, widths_.value(c) + 2), nullptr));
    worksheet_freeze_panes(sheet_, 1, 0);
    keep(worksheet_autofilter(sheet_, 0, 0, lastRow, lastCol));
  }

  lxw_error error() const { return error_; }

 private:
  void keep(lxw_error e) {
    if (error_ == LXW_NO_ERROR) error_ = e;
  }
  void widen(lxw_col_t col, int width) { widths_[col] = std::max(widths_.value(col), width); }

  lxw_worksheet *sheet_;
  lxw_error error_ = LXW_NO_ERROR;
  QHash<lxw_col_t, int> widths_;
};

int VerdictIndex(Verdict v) {
  switch (v) {
    case Verdict::Normal: return 0;
    case Verdict::Attention: return 1;
    case Verdict::Abnormal: return 2;
  }
  return 2;
}

// Where a result's value came from, in the words of the window's tables.
QString SourceText(const ResultRecord &r) {
  switch (r.source) {
    case ResultSource::Download: return QStringLiteral("下载第%1组").arg(r.sourceGroup);
    case ResultSource::Recording: {
      const QString span = r.sourceStatistic.section(QLatin1Char(' '), 1);
      return span.isEmpty() ? QStringLiteral("记录中位数") : QStringLiteral("记录中位数(读数%1)").arg(span);
    }
    case ResultSource::Manual: break;
  }
  return QStringLiteral("手工输入");
}

// The round's judgement: one row per result, then the round, the thresholds
// in force and the counts below the table.
lxw_error WriteJudgementSheet(lxw_worksheet *ws, const Formats &f, const RoundRecord &round,
                              const QList<JudgedResult> &rows, const Thresholds &thresholds) {
  SheetWriter w(
      ws,
      {QStringLiteral("变电站"), QStringLiteral("电压等级"), QStringLiteral("间隔"), QStringLiteral("相别"),
       QStringLiteral("型号"), QStringLiteral("出厂编号"), QStringLiteral("测试日期"),
       QStringLiteral("测量值(mA)"), QStringLiteral("初始值(mA)"), QStringLiteral("较初始值(%)"),
       QStringLiteral("上次值(mA)"), QStringLiteral("上次日期"), QStringLiteral("较上次(%)"),
       QStringLiteral("相间偏差(%)"), QStringLiteral("结论"), QStringLiteral("原因")},
      f.header);
  lxw_row_t row = 0;
  for (const JudgedResult &r : rows) {
    ++row;
    const ArresterRecord &a = r.arrester;
    w.text(row, 0, a.station);
    w.text(row, 1, a.voltageLevel);
    w.text(row, 2, a.bay);
    w.text(row, 3, a.phase);
    w.text(row, 4, a.model);
    w.text(row, 5, a.serialNumber);
    w.date(row, 6, round.date, f.date);
    w.reading(row, 7, r.result.reading, r.result.milliAmps, f.milliAmps);
    w.number(row, 8, a.initialMilliAmps, f.milliAmps);
    w.percent(row, 9, r.outcome.initialChangePct, f.change);
    w.number(row, 10, r.previousMilliAmps, f.milliAmps);
    w.date(row, 11, r.previousDate, f.date);
    w.percent(row, 12, r.outcome.previousChangePct, f.change);
    w.percent(row, 13, r.outcome.phaseDeviationPct, f.change);
    w.text(row, 14, VerdictText(r.outcome.verdict), f.verdict[VerdictIndex(r.outcome.verdict)]);
    w.text(row, 15, r.outcome.reasons.join(QStringLiteral("; ")));
  }
  w.finish(row, 15);

  // Below the table, apart from it by an empty row so that filtering and
  // sorting leave these lines alone.
  lxw_row_t below = row + 2;
  QStringList about{QStringLiteral("%1 %2").arg(round.station, round.date.toString(Qt::ISODate))};
  if (!round.tester.isEmpty()) about << QStringLiteral("试验人员 %1").arg(round.tester);
  if (!round.instrument.isEmpty()) about << QStringLiteral("仪器 %1").arg(round.instrument);
  if (!round.weather.isEmpty()) about << QStringLiteral("天气 %1").arg(round.weather);
  if (round.temperatureC) about << QStringLiteral("温度 %1℃").arg(*round.temperatureC);
  if (round.humidityPercent) about << QStringLiteral("湿度 %1%").arg(*round.humidityPercent);
  w.text(below++, 0, QStringLiteral("试验: ") + about.join(QStringLiteral(", ")), f.note);
  w.text(below++, 0, ThresholdsText(thresholds), f.note);
  const VerdictCounts counts = CountVerdicts(rows);
  const int perVerdict[3] = {counts.normal, counts.attention, counts.abnormal};
  for (int i = 0; i < 3; ++i) {
    const Verdict v = i == 0 ? Verdict::Normal : i == 1 ? Verdict::Attention : Verdict::Abnormal;
    w.text(below, 0, VerdictText(v), f.verdict[i]);
    w.number(below++, 1, perVerdict[i], nullptr);
  }
  w.text(below, 0, QStringLiteral("合计"));
  w.number(below, 1, double(rows.size()), nullptr);
  return w.error();
}

// Every result of the station's arresters, one row each, in register order
// and then by date: plain columns for the office's own pivot tables.
lxw_error WriteResultsSheet(lxw_worksheet *ws, const Formats &f, const QString &station,
                            const QList<ArresterRecord> &arresters, const QList<RoundRecord> &rounds,
                            const QList<ResultRecord> &results) {
  QHash<QString, int> arresterAt;
  for (int i = 0; i < arresters.size(); ++i) arresterAt.insert(arresters[i].uuid, i);
  QHash<QString, const RoundRecord *> roundOf;
  for (const RoundRecord &r : rounds) roundOf.insert(r.uuid, &r);

  // A result whose arrester is not in the register given still belongs here
  // when its round is the station's; it comes last, without a place.
  QList<const ResultRecord *> kept;
  for (const ResultRecord &r : results) {
    const RoundRecord *round = roundOf.value(r.roundUuid);
    if (arresterAt.contains(r.arresterUuid) || (round && round->station == station)) kept << &r;
  }
  const auto key = [&](const ResultRecord *r) {
    const RoundRecord *round = roundOf.value(r->roundUuid);
    return std::make_tuple(arresterAt.value(r->arresterUuid, int(arresters.size())),
                           round ? round->date : QDate(), round ? round->modifiedMs : 0, r->arresterUuid);
  };
  std::stable_sort(kept.begin(), kept.end(),
                   [&](const ResultRecord *a, const ResultRecord *b) { return key(a) < key(b); });

  SheetWriter w(ws,
                {QStringLiteral("变电站"), QStringLiteral("电压等级"), QStringLiteral("间隔"),
                 QStringLiteral("相别"), QStringLiteral("出厂编号"), QStringLiteral("测试日期"),
                 QStringLiteral("测量值(mA)"), QStringLiteral("来源"), QStringLiteral("试验人员"),
                 QStringLiteral("温度(℃)"), QStringLiteral("湿度(%)")},
                f.header);
  lxw_row_t row = 0;
  for (const ResultRecord *r : kept) {
    ++row;
    if (const int at = arresterAt.value(r->arresterUuid, -1); at >= 0) {
      const ArresterRecord &a = arresters[at];
      w.text(row, 0, a.station);
      w.text(row, 1, a.voltageLevel);
      w.text(row, 2, a.bay);
      w.text(row, 3, a.phase);
      w.text(row, 4, a.serialNumber);
    }
    if (const RoundRecord *round = roundOf.value(r->roundUuid)) {
      if (!arresterAt.contains(r->arresterUuid)) w.text(row, 0, round->station);
      w.date(row, 5, round->date, f.date);
      w.text(row, 8, round->tester);
      w.number(row, 9, round->temperatureC, f.celsius);
      if (round->humidityPercent) w.number(row, 10, *round->humidityPercent / 100, f.fraction);
    }
    w.reading(row, 6, r->reading, r->milliAmps, f.milliAmps);
    w.text(row, 7, SourceText(*r));
  }
  w.finish(row, 10);
  return w.error();
}

QString LxwError(lxw_error e) { return QString::fromUtf8(lxw_strerror(e)); }

}  // namespace

bool WriteJudgementWorkbook(const QString &path, const RoundRecord &round, const QList<JudgedResult> &rows,
                            const Thresholds &thresholds, const QList<ArresterRecord> &stationArresters,
                            const QList<RoundRecord> &rounds, const QList<ResultRecord> &results,
                            QString *error) {
  const auto fail = [&](const QString &why) {
    if (error) *error = why;
    return false;
  };
  // The workbook is made under a temporary name in the same folder and
  // renamed into place once complete, so a failure never leaves half a file
  // under the name asked for (nor spoils a file already there).
  // A link is followed, so that the file it points to is the one replaced.
  const QFileInfo asked(path);
  const QFileInfo target(asked.isSymLink() ? asked.symLinkTarget() : path);
  QString partPath;
  {
    QTemporaryFile reserve(
        target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX.part").arg(target.fileName())));
    if (!reserve.open()) return fail(reserve.errorString());
    partPath = reserve.fileName();
  }  // removed again: libxlsxwriter creates it with the usual permissions
  const auto removePart = [&] { QFile::remove(partPath); };

  lxw_workbook *book = workbook_new(QFile::encodeName(partPath).constData());
  if (!book) return fail(LxwError(LXW_ERROR_MEMORY_MALLOC_FAILED));
  const Formats formats = MakeFormats(book);
  lxw_worksheet *judgement = workbook_add_worksheet(book, "判断");
  lxw_worksheet *all = workbook_add_worksheet(book, "全部结果");
  lxw_error e = judgement && all ? LXW_NO_ERROR : LXW_ERROR_MEMORY_MALLOC_FAILED;
  if (e == LXW_NO_ERROR) e = WriteJudgementSheet(judgement, formats, round, rows, thresholds);
  if (e == LXW_NO_ERROR)
    e = WriteResultsSheet(all, formats, round.station, stationArresters, rounds, results);
  const lxw_error closed = workbook_close(book);  // frees the workbook in any case
  if (e == LXW_NO_ERROR) e = closed;
  if (e != LXW_NO_ERROR) {
    removePart();
    return fail(LxwError(e));
  }
  if (std::rename(QFile::encodeName(partPath).constData(),
                  QFile::encodeName(target.filePath()).constData()) != 0) {
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    removePart();
    return fail(why);
  }
  return true;
}
