// assess: a round's judgement from the shell, as a table, as CSV or as an
// .xlsx workbook.
#include <QHash>
#include <QSaveFile>

#include <cmath>
#include <cstdio>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/judgement.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/threshold_options.h"
#include "reports/workbook.h"

namespace cli {

namespace {

QString PercentText(const std::optional<double> &pct) { return pct ? ChangeText(pct) : QStringLiteral("-"); }

// One CSV field (RFC 4180). A text that a spreadsheet would take for a
// formula gets an apostrophe in front, as the archive's export does.
QString CsvText(QString text) {
  if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text[0])) text.prepend(QLatin1Char('\''));
  if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
      text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')))
    text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
  return text;
}

QString CsvNumber(const std::optional<double> &v, int decimals) {
  return v ? QString::number(*v, 'f', decimals) : QString();
}

QString ReasonsText(const JudgedResult &row) { return row.outcome.reasons.join(QStringLiteral("; ")); }

// The judgement as CSV: UTF-8 with a byte-order mark, CR LF, Chinese column
// names; values in mA, changes in %.
QByteArray JudgementCsv(const QList<JudgedResult> &rows) {
  QString text = QStringLiteral(
      "ID,变电站,电压等级,间隔,相别,出厂编号,读数,测量值(mA),初始值(mA),初始值变化(%),上次值(mA),上次日期,"
      "上次变化(%),相间偏差(%),结论,原因\r\n");
  for (const JudgedResult &r : rows) {
    const ArresterRecord &a = r.arrester;
    const QStringList fields{
        CsvText(a.uuid),
        CsvText(a.station),
        CsvText(a.voltageLevel),
        CsvText(a.bay),
        CsvText(a.phase),
        CsvText(a.serialNumber),
        ResultReadingName(r.result.reading),
        r.result.reading == ResultReading::Value && r.result.milliAmps
            ? QString::number(*r.result.milliAmps, 'g', 10)
            : QString(),
        a.initialMilliAmps ? QString::number(*a.initialMilliAmps, 'g', 10) : QString(),
        CsvNumber(r.outcome.initialChangePct, 2),
        r.previousMilliAmps ? QString::number(*r.previousMilliAmps, 'g', 10) : QString(),
        r.previousDate.isValid() ? r.previousDate.toString(QStringLiteral("yyyy-MM-dd")) : QString(),
        CsvNumber(r.outcome.previousChangePct, 2),
        CsvNumber(r.outcome.phaseDeviationPct, 2),
        VerdictText(r.outcome.verdict),
        CsvText(ReasonsText(r))};
    text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
  }
  return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

int WriteCsv(const QString &path, const QByteArray &bytes) {
  if (path == QLatin1String("-")) {
    std::fwrite(bytes.constData() + 3, 1, size_t(bytes.size() - 3), stdout);  // without the byte-order mark
    std::fflush(stdout);
    return -1;
  }
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
    Err(QStringLiteral("arrester-cli: %1: %2\n").arg(path, f.errorString()));
    return kExitFailure;
  }
  return -1;
}

// An arrester's first valid result: the day of its earliest round and the value.
std::optional<std::pair<QDate, double>> FirstValue(const QString &arresterUuid,
                                                   const QList<RoundRecord> &rounds,
                                                   const QList<ResultRecord> &results) {
  QHash<QString, QDate> dates;
  for (const RoundRecord &r : rounds) dates.insert(r.uuid, r.date);
  std::optional<std::pair<QDate, double>> first;
  for (const ResultRecord &r : results) {
    if (r.arresterUuid != arresterUuid || r.reading != ResultReading::Value || !r.milliAmps) continue;
    const QDate date = dates.value(r.roundUuid);
    if (date.isValid() && (!first || date < first->first)) first = std::make_pair(date, *r.milliAmps);
  }
  return first;
}

QString JudgementTable(const QList<JudgedResult> &rows) {
  QList<QStringList> cells{{QStringLiteral("ID"), QStringLiteral("变电站"), QStringLiteral("电压等级"),
                            QStringLiteral("间隔"), QStringLiteral("相别"), QStringLiteral("测量值"),
                            QStringLiteral("初始值"), QStringLiteral("变化"), QStringLiteral("上次"),
                            QStringLiteral("变化"), QStringLiteral("相间偏差"), QStringLiteral("结论"),
                            QStringLiteral("原因")}};
  for (const JudgedResult &r : rows) {
    const ArresterRecord &a = r.arrester;
    cells << QStringList{ShortId(a.uuid),
                         EscapeControls(a.station),
                         EscapeControls(a.voltageLevel),
                         EscapeControls(a.bay),
                         EscapeControls(a.phase),
                         ReadingText(r.result.reading, r.result.milliAmps),
                         a.initialMilliAmps ? MilliAmpsText(*a.initialMilliAmps) : QStringLiteral("-"),
                         PercentText(r.outcome.initialChangePct),
                         r.previousMilliAmps ? MilliAmpsText(*r.previousMilliAmps) : QStringLiteral("-"),
                         PercentText(r.outcome.previousChangePct),
                         PercentText(r.outcome.phaseDeviationPct),
                         VerdictText(r.outcome.verdict),
                         EscapeControls(ReasonsText(r))};
  }
  return AlignedRows(cells);
}

}  // namespace

int RunAssess(const QStringList &args) {
  CommandLine line(
      QStringLiteral("assess ROUND [options]"),
      QStringLiteral("Judges every result of a round: its change against the arrester's initial\n"
                     "value and against its previous result, its deviation from the median of\n"
                     "its bay's phases in the round, and the conclusion 正常, 注意 or 异常 with\n"
                     "the reasons. The first line gives the thresholds in force (from the\n"
                     "settings file, ~/.config/arrester-monitor/judgement.ini, and the options\n"
                     "below), then one line per arrester in test order, and a last line with\n"
                     "the counts of 正常, 注意 and 异常. --csv writes the table as CSV as well\n"
                     "(- for standard output alone). --xlsx writes it as a workbook: the\n"
                     "judgement on sheet 判断, every result of the station's arresters in all\n"
                     "rounds on sheet 全部结果."));
  line.addOption(
      {QStringLiteral("csv"), QStringLiteral("Write the judgement as CSV to FILE."), QStringLiteral("file")});
  line.addOption(
      {QStringLiteral("xlsx"),
       QStringLiteral("Write the judgement and the station's results as an .xlsx workbook to FILE."),
       QStringLiteral("file")});
  AddThresholdOptions(line, true);
  const QCommandLineOption adopt(QStringLiteral("adopt-initial"),
                                 QStringLiteral("Arresters without an initial value take their first valid "
                                                "result (of their earliest round) as it, before judging."));
  line.addOption(adopt);
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ROUND"),
                                    QStringLiteral("The round, as 'round list' shows it."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;
  const QString xlsx = line.parser.value(QStringLiteral("xlsx"));
  if (line.parser.isSet(QStringLiteral("xlsx")) && (xlsx.isEmpty() || xlsx == QLatin1String("-")))
    return line.usageError(
        QStringLiteral("--xlsx needs a file name (a workbook is not written to standard output)"));

  Thresholds thresholds;
  if (const int rc = ReadThresholds(line, &thresholds); rc >= 0) return rc;

  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  const QString id = line.parser.positionalArguments().first();
  const std::optional<RoundRecord> round = store.findRound(id.trimmed());
  if (!round) return line.usageError(QStringLiteral("no single round has the ID %1").arg(id));
  std::optional<QList<ArresterRecord>> arresters = store.arresters(round->station);
  const std::optional<QList<RoundRecord>> rounds = arresters ? store.rounds(round->station) : std::nullopt;
  const std::optional<QList<ResultRecord>> results = rounds ? store.allResults(round->station) : std::nullopt;
  if (!results) return ArchiveError(archive, store.errorText());
  QList<JudgedResult> rows = JudgeRound(*round, *arresters, *rounds, *results, thresholds);

  if (line.parser.isSet(adopt)) {
    int adopted = 0;
    for (const JudgedResult &r : rows) {
      if (!r.outcome.noInitial) continue;
      std::optional<std::pair<QDate, double>> first = FirstValue(r.arrester.uuid, *rounds, *results);
      if (!first) continue;
      ArresterRecord a = r.arrester;
      a.initialDate = first->first;
      a.initialMilliAmps = first->second;
      a.modifiedMs = 0;
      if (!store.saveArrester(a)) return ArchiveError(archive, store.errorText());
      ++adopted;
    }
    if (adopted > 0) {
      Err(QStringLiteral("%1 arresters took their first result as their initial value\n").arg(adopted));
      arresters = store.arresters(round->station);
      if (!arresters) return ArchiveError(archive, store.errorText());
      rows = JudgeRound(*round, *arresters, *rounds, *results, thresholds);
    }
  }

  if (!xlsx.isEmpty()) {
    QString why;
    if (!WriteJudgementWorkbook(xlsx, *round, rows, thresholds, *arresters, *rounds, *results, &why)) {
      Err(QStringLiteral("arrester-cli: %1: %2\n").arg(xlsx, why));
      return kExitFailure;
    }
  }
  const QString csv = line.parser.value(QStringLiteral("csv"));
  if (!csv.isEmpty())
    if (const int rc = WriteCsv(csv, JudgementCsv(rows)); rc >= 0) return rc;
  if (csv == QLatin1String("-")) return kExitOk;
  const VerdictCounts counts = CountVerdicts(rows);
  Out(ThresholdsText(thresholds) + QLatin1Char('\n') + JudgementTable(rows) +
      QStringLiteral("正常 %1, 注意 %2, 异常 %3\n")
          .arg(counts.normal)
          .arg(counts.attention)
          .arg(counts.abnormal));
  return kExitOk;
}

}  // namespace cli
