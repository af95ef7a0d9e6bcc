// trend: an arrester's results over the years (or its bay's phases) as a
// chart, written as PNG or SVG.
#include <cmath>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/judgement.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/threshold_options.h"
#include "reports/trend_chart.h"

namespace cli {

namespace {

// A size in pixels from an option: a whole number from 200 to 8000.
std::optional<int> PixelsOption(const CommandLine &line, const QString &name, int fallback) {
  if (!line.parser.isSet(name)) return fallback;
  bool ok = false;
  const int v = line.parser.value(name).trimmed().toInt(&ok);
  if (!ok || v < 200 || v > 8000) return std::nullopt;
  return v;
}

}  // namespace

int RunTrend(const QStringList &args) {
  CommandLine line(
      QStringLiteral("trend ARRESTER --png FILE | --svg FILE [options]"),
      QStringLiteral("Draws an arrester's results over the years: its value at each test date,\n"
                     "its initial value as a dashed line, and the levels of 注意 and 异常 (the\n"
                     "initial value raised by the thresholds of the settings file,\n"
                     "~/.config/arrester-monitor/judgement.ini, and the options below) as bands.\n"
                     "An overload or invalid reading is marked at the top edge. --bay draws every\n"
                     "phase of the arrester's bay on one chart instead, one line each. Both --png\n"
                     "and --svg may be given."));
  line.addOption(
      {QStringLiteral("png"), QStringLiteral("Write the chart as PNG to FILE."), QStringLiteral("file")});
  line.addOption(
      {QStringLiteral("svg"), QStringLiteral("Write the chart as SVG to FILE."), QStringLiteral("file")});
  const QCommandLineOption bay(QStringLiteral("bay"),
                               QStringLiteral("Draw the phases of the arrester's bay."));
  line.addOption(bay);
  line.addOption({QStringLiteral("width"), QStringLiteral("Width in pixels, 200 to 8000 (default 800)."),
                  QStringLiteral("W")});
  line.addOption({QStringLiteral("height"), QStringLiteral("Height in pixels, 200 to 8000 (default 480)."),
                  QStringLiteral("H")});
  AddThresholdOptions(line, false);
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ARRESTER"),
                                    QStringLiteral("The arrester, as 'assets list' shows its ID."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;

  const QString png = line.parser.value(QStringLiteral("png"));
  const QString svg = line.parser.value(QStringLiteral("svg"));
  if (png.isEmpty() && svg.isEmpty())
    return line.usageError(QStringLiteral("--png FILE or --svg FILE is needed"));
  const std::optional<int> width = PixelsOption(line, QStringLiteral("width"), 800);
  if (!width) return line.usageError(QStringLiteral("invalid --width: %1").arg(line.parser.value("width")));
  const std::optional<int> height = PixelsOption(line, QStringLiteral("height"), 480);
  if (!height)
    return line.usageError(QStringLiteral("invalid --height: %1").arg(line.parser.value("height")));

  Thresholds thresholds;
  if (const int rc = ReadThresholds(line, &thresholds); rc >= 0) return rc;

  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  const QString id = line.parser.positionalArguments().first();
  const std::optional<ArresterRecord> arrester = store.findArrester(id.trimmed());
  if (!arrester) {
    const QString why = store.errorText();
    return line.usageError(why.isEmpty() ? QStringLiteral("no single arrester has the ID %1").arg(id) : why);
  }
  const std::optional<QList<RoundRecord>> rounds = store.rounds(arrester->station);
  const std::optional<QList<ResultRecord>> results =
      rounds ? store.allResults(arrester->station) : std::nullopt;
  if (!results) return ArchiveError(archive, store.errorText());
  TrendChart chart;
  if (line.parser.isSet(bay)) {
    const std::optional<QList<ArresterRecord>> arresters = store.arresters(arrester->station);
    if (!arresters) return ArchiveError(archive, store.errorText());
    chart = BayTrend(arrester->station, arrester->voltageLevel, arrester->bay, *arresters, *rounds, *results,
                     thresholds);
  } else {
    chart = ArresterTrend(*arrester, *rounds, *results, thresholds);
  }

  const QSize size(*width, *height);
  QString error;
  if (!png.isEmpty() && !SaveTrendPng(chart, png, size, &error)) {
    Err(QStringLiteral("arrester-cli: %1: %2\n").arg(png, error));
    return kExitFailure;
  }
  if (!svg.isEmpty() && !SaveTrendSvg(chart, svg, size, &error)) {
    Err(QStringLiteral("arrester-cli: %1: %2\n").arg(svg, error));
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace cli
