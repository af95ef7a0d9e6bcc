// report: a round's test report (试验报告) as a PDF file, from the shell.
#include <cmath>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/judgement.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/threshold_options.h"
#include "reports/test_report.h"

namespace cli {

int RunReport(const QStringList &args) {
  CommandLine line(
      QStringLiteral("report ROUND --pdf FILE [options]"),
      QStringLiteral("Writes the test report of a round as a PDF file on A4: the round's header\n"
                     "(station, date, tester, instrument, weather, the thresholds in force and\n"
                     "the basis of judgement), every result grouped by voltage level and bay with\n"
                     "its changes and its conclusion 正常, 注意 or 异常, the counts, the trend of\n"
                     "every arrester judged 注意 or 异常, and the signature lines. The thresholds\n"
                     "come from the settings file, ~/.config/arrester-monitor/judgement.ini, and\n"
                     "the options below, as for 'assess'. The file is replaced only when the\n"
                     "report is complete; a round without results is refused (exit 6)."));
  line.addOption(
      {QStringLiteral("pdf"), QStringLiteral("Write the report to FILE."), QStringLiteral("file")});
  line.addOption({QStringLiteral("number"),
                  QStringLiteral("The report number (default: station-yyyyMMdd-01)."), QStringLiteral("N")});
  line.addOption({QStringLiteral("basis"), QStringLiteral("The line naming the basis of judgement."),
                  QStringLiteral("text")});
  AddThresholdOptions(line, true);
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ROUND"),
                                    QStringLiteral("The round, as 'round list' shows it."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;

  const QString pdf = line.parser.value(QStringLiteral("pdf"));
  if (pdf.isEmpty()) return line.usageError(QStringLiteral("--pdf FILE is required"));
  const bool numberSet = line.parser.isSet(QStringLiteral("number"));
  const QString number = line.parser.value(QStringLiteral("number")).trimmed();
  if (numberSet && number.isEmpty()) return line.usageError(QStringLiteral("--number is empty"));
  const bool basisSet = line.parser.isSet(QStringLiteral("basis"));
  const QString basis = line.parser.value(QStringLiteral("basis")).trimmed();
  if (basisSet && basis.isEmpty()) return line.usageError(QStringLiteral("--basis is empty"));

  Thresholds thresholds;
  if (const int rc = ReadThresholds(line, &thresholds); rc >= 0) return rc;

  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  const QString id = line.parser.positionalArguments().first();
  const std::optional<RoundRecord> round = store.findRound(id.trimmed());
  if (!round) return line.usageError(QStringLiteral("no single round has the ID %1").arg(id));
  const std::optional<QList<ArresterRecord>> arresters = store.arresters(round->station);
  const std::optional<QList<RoundRecord>> rounds = arresters ? store.rounds(round->station) : std::nullopt;
  const std::optional<QList<ResultRecord>> results = rounds ? store.allResults(round->station) : std::nullopt;
  if (!results) return ArchiveError(archive, store.errorText());

  TestReport report = MakeTestReport(*round, *arresters, *rounds, *results, thresholds);
  // A report of nothing would be filed as if the round had been made.
  if (report.rows.isEmpty()) {
    Err(QStringLiteral("arrester-cli: round %1 has no results; no report written\n")
            .arg(ShortId(round->uuid)));
    return kExitRefused;
  }
  if (numberSet) report.number = number;
  if (basisSet) report.basis = basis;
  QString error;
  if (!WriteTestReportPdf(report, pdf, &error)) {
    Err(QStringLiteral("arrester-cli: %1: %2\n").arg(pdf, error));
    return kExitFailure;
  }
  const VerdictCounts counts = CountVerdicts(report.rows);
  Out(QStringLiteral("%1: 报告 %2, %3 支避雷器: 正常 %4, 注意 %5, 异常 %6\n")
          .arg(pdf, report.number)
          .arg(report.rows.size())
          .arg(counts.normal)
          .arg(counts.attention)
          .arg(counts.abnormal));
  return kExitOk;
}

}  // namespace cli
