// round new, fill, set and list: test rounds from the shell.
#include <QHash>
#include <QSet>

#include <cmath>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/round_fill.h"
#include "assessment/test_order.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

namespace {

// A number option in [lowest, highest]; unset (and an error) when it is not.
std::optional<double> NumberOption(const CommandLine &line, const QString &name, double lowest,
                                   double highest, QString *error) {
  bool ok = false;
  const QString text = line.parser.value(name).trimmed();
  const double v = text.toDouble(&ok);  // C locale: '.' is the decimal point
  if (ok && std::isfinite(v) && v >= lowest && v <= highest) return v;
  *error =
      QStringLiteral("invalid --%1: %2 (a number from %3 to %4)").arg(name, text).arg(lowest).arg(highest);
  return std::nullopt;
}

// "3,7" (the option may also be repeated) to numbers within [1, highest].
std::optional<QSet<int>> NumberListOption(const CommandLine &line, const QString &name, int highest,
                                          QString *error) {
  QSet<int> numbers;
  for (const QString &value : line.parser.values(name))
    for (const QString &part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
      bool ok = false;
      const int n = part.trimmed().toInt(&ok);
      if (!ok || n < 1 || n > highest) {
        *error =
            QStringLiteral("invalid --%1: %2 (numbers from 1 to %3)").arg(name, part.trimmed()).arg(highest);
        return std::nullopt;
      }
      numbers.insert(n);
    }
  return numbers;
}

// The round an ID names, or a usage error printed.
std::optional<RoundRecord> FindRound(const CommandLine &line, AssetStore &store, const QString &id, int *rc) {
  std::optional<RoundRecord> round = store.findRound(id.trimmed());
  if (!round) *rc = line.usageError(QStringLiteral("no single round has the ID %1").arg(id));
  return round;
}

int RunRoundNew(const QStringList &args) {
  CommandLine line(QStringLiteral("round new --station S [options]"),
                   QStringLiteral("Starts a test round of a station's arresters and prints its ID. Its\n"
                                  "results come from a download ('round fill') or are typed ('round set')."));
  line.addOption({QStringLiteral("station"), QStringLiteral("The station, as the register names it."),
                  QStringLiteral("name")});
  line.addOption({QStringLiteral("date"), QStringLiteral("The day of the test, YYYY-MM-DD (default today)."),
                  QStringLiteral("date")});
  line.addOption({QStringLiteral("tester"), QStringLiteral("Who measured."), QStringLiteral("name")});
  line.addOption({QStringLiteral("instrument"), QStringLiteral("The meter used."), QStringLiteral("text")});
  line.addOption(
      {QStringLiteral("weather"), QStringLiteral("The weather, such as 晴."), QStringLiteral("text")});
  line.addOption(
      {QStringLiteral("temperature"), QStringLiteral("Ambient temperature in °C."), QStringLiteral("C")});
  line.addOption(
      {QStringLiteral("humidity"), QStringLiteral("Relative humidity in %."), QStringLiteral("P")});
  line.addOption({QStringLiteral("note"), QStringLiteral("A note."), QStringLiteral("text")});
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;

  RoundRecord round;
  round.station = line.parser.value(QStringLiteral("station")).trimmed();
  if (round.station.isEmpty()) return line.usageError(QStringLiteral("round new needs --station S"));
  round.date = QDate::currentDate();
  if (line.parser.isSet(QStringLiteral("date"))) {
    const QString text = line.parser.value(QStringLiteral("date")).trimmed();
    round.date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!round.date.isValid()) round.date = QDate::fromString(text, QStringLiteral("yyyy/MM/dd"));
    if (!round.date.isValid())
      return line.usageError(QStringLiteral("invalid --date: %1 (YYYY-MM-DD)").arg(text));
  }
  QString why;
  if (line.parser.isSet(QStringLiteral("temperature"))) {
    round.temperatureC = NumberOption(line, QStringLiteral("temperature"), -70, 70, &why);
    if (!round.temperatureC) return line.usageError(why);
  }
  if (line.parser.isSet(QStringLiteral("humidity"))) {
    round.humidityPercent = NumberOption(line, QStringLiteral("humidity"), 0, 100, &why);
    if (!round.humidityPercent) return line.usageError(why);
  }
  round.tester = line.parser.value(QStringLiteral("tester")).trimmed();
  round.instrument = line.parser.value(QStringLiteral("instrument")).trimmed();
  round.weather = line.parser.value(QStringLiteral("weather")).trimmed();
  round.note = line.parser.value(QStringLiteral("note")).trimmed();

  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  // A round of a station the register does not know would never be judged:
  // most likely the name is mistyped.
  const std::optional<QList<ArresterRecord>> arresters = store.arresters(round.station);
  if (!arresters) return ArchiveError(archive, store.errorText());
  if (arresters->isEmpty())
    return line.usageError(QStringLiteral("the register has no arrester at station %1 (see 'assets list')")
                               .arg(EscapeControls(round.station)));
  if (!store.saveRound(round)) return ArchiveError(archive, store.errorText());
  Out(round.uuid + QLatin1Char('\n'));
  return kExitOk;
}

int RunRoundFill(const QStringList &args) {
  CommandLine line(QStringLiteral("round fill ROUND DOWNLOAD [options]"),
                   QStringLiteral("Fills a round from a download: the meter's groups go to the station's\n"
                                  "arresters in test order ('assets order'), group 1 to the first arrester,\n"
                                  "and so on. Prints each arrester with the group it gets. When groups and\n"
                                  "arresters do not pair one to one, nothing is stored (exit 6) unless\n"
                                  "--partial is given; --from, --skip and --missed mend the pairing where\n"
                                  "the engineer measured elsewhere first, measured an arrester twice, or\n"
                                  "missed one. A result stored earlier for the same arrester is replaced;\n"
                                  "one an earlier fill from this download gave to an arrester that gets no\n"
                                  "group now is removed."));
  line.addOption({QStringLiteral("from"),
                  QStringLiteral("The round's first group; earlier groups belong elsewhere (default 1)."),
                  QStringLiteral("K"), QStringLiteral("1")});
  line.addOption({QStringLiteral("skip"), QStringLiteral("Groups left out, such as 4,9 (re-measured ones)."),
                  QStringLiteral("N,...")});
  line.addOption({QStringLiteral("missed"),
                  QStringLiteral("Arresters, by their number in 'assets order', that got no group."),
                  QStringLiteral("N,...")});
  line.addOption({QStringLiteral("partial"),
                  QStringLiteral("Store the pairs found even when they are not one to one.")});
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ROUND"),
                                    QStringLiteral("The round, as 'round list' shows it."));
  line.parser.addPositionalArgument(QStringLiteral("DOWNLOAD"),
                                    QStringLiteral("The download, as 'list' shows it."));
  if (const int rc = line.parse(args, 2, 2); rc >= 0) return rc;
  const QStringList ids = line.parser.positionalArguments();

  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  int rc = -1;
  const std::optional<RoundRecord> round = FindRound(line, store, ids[0], &rc);
  if (!round) return rc;
  const std::optional<EntrySummary> download = archive.findEntry(ids[1].trimmed());
  if (!download)
    return line.usageError(QStringLiteral("no single recording or download has the ID %1").arg(ids[1]));
  if (download->kind != EntryKind::Download)
    return line.usageError(QStringLiteral("%1 is a live recording, not a download (a value from it goes in "
                                          "with 'round set')")
                               .arg(ids[1]));
  QList<ArchivedRow> groups;
  if (!archive.forEachRow(*download, [&groups](const ArchivedRow &row) {
        groups << row;
        return true;
      }))
    return ArchiveError(archive, archive.errorText());
  const std::optional<QList<ArresterRecord>> arresters = store.arresters(round->station);
  if (!arresters) return ArchiveError(archive, store.errorText());
  const QList<ArresterRecord> order = TestOrder(*arresters, round->station);
  if (order.isEmpty()) {
    Err(QStringLiteral("arrester-cli: station %1 has no arrester in service; nothing stored\n")
            .arg(EscapeControls(round->station)));
    return kExitRefused;
  }

  FillCorrections corrections;
  QString why;
  bool ok = false;
  corrections.fromGroup = line.parser.value(QStringLiteral("from")).trimmed().toInt(&ok);
  if (!ok || corrections.fromGroup < 1 || corrections.fromGroup > qMax(1, int(groups.size())))
    return line.usageError(QStringLiteral("invalid --from: %1 (the download has %2 groups)")
                               .arg(line.parser.value(QStringLiteral("from")))
                               .arg(groups.size()));
  const std::optional<QSet<int>> skipped =
      NumberListOption(line, QStringLiteral("skip"), int(groups.size()), &why);
  if (!skipped) return line.usageError(why);
  corrections.skippedGroups = *skipped;
  const std::optional<QSet<int>> missed =
      NumberListOption(line, QStringLiteral("missed"), int(order.size()), &why);
  if (!missed) return line.usageError(why);
  for (const int n : *missed) corrections.skippedArresters.insert(n - 1);

  const FillPlan plan = PairGroups(order, groups, corrections);
  QList<QStringList> rows;
  int withoutGroup = 0;
  for (int k = 0; k < plan.pairs.size(); ++k) {
    const FillPairing &p = plan.pairs[k];
    QStringList row = QStringList{QString::number(k + 1).rightJustified(3), ShortId(p.arrester.uuid)} +
                      PlaceCells(p.arrester) + QStringList{QStringLiteral("<-")};
    if (p.group) {
      row << QStringLiteral("group %1").arg(p.group->number, 3, 10, QLatin1Char('0'))
          << EscapeControls(p.group->text);
    } else {
      row << (p.skipped ? QStringLiteral("(missed)") : QStringLiteral("(no group)"));
      if (!p.skipped) ++withoutGroup;
    }
    rows << row;
  }
  QString text = AlignedRows(rows);
  for (const ArchivedRow &g : plan.leftOver)
    text += QStringLiteral("left over: group %1  %2\n")
                .arg(g.number, 3, 10, QLatin1Char('0'))
                .arg(EscapeControls(g.text));
  Out(text);

  if (!plan.exact() && !line.parser.isSet(QStringLiteral("partial"))) {
    Err(QStringLiteral("arrester-cli: the groups and the %1 arresters of %2 do not pair one to one (%3 "
                       "without a group, %4 groups left over); nothing stored. Mend the pairing with "
                       "--from, --skip and --missed, or store it as it is with --partial.\n")
            .arg(order.size())
            .arg(EscapeControls(round->station))
            .arg(withoutGroup)
            .arg(plan.leftOver.size()));
    return kExitRefused;
  }
  QList<ResultRecord> results = ResultsFromPlan(plan, round->uuid, download->uuid);
  // An arrester that gets no group now keeps no value an earlier fill from
  // this same download gave it: that pairing was the one being mended.
  const std::optional<QList<ResultRecord>> stored = store.results(round->uuid);
  if (!stored) return ArchiveError(archive, store.errorText());
  QSet<QString> paired;
  for (const ResultRecord &r : results) paired.insert(r.arresterUuid);
  QStringList stale;
  for (const ResultRecord &r : *stored)
    if (r.source == ResultSource::Download && r.sourceUuid == download->uuid &&
        !paired.contains(r.arresterUuid))
      stale << r.arresterUuid;
  bool written = archive.beginWrite() && (results.isEmpty() || store.saveResults(results));
  for (const QString &arrester : stale) written = written && store.removeResult(round->uuid, arrester);
  if (!written || !archive.commit()) {
    const QString why = store.errorText().isEmpty() ? archive.errorText() : store.errorText();
    archive.rollback();
    return ArchiveError(archive, why);
  }
  QString done =
      QStringLiteral("stored %1 results in round %2").arg(results.size()).arg(ShortId(round->uuid));
  if (!stale.isEmpty())
    done += QStringLiteral(
                "; removed %1 an earlier fill from this download gave to arresters without a group now")
                .arg(stale.size());
  Out(done + QLatin1Char('\n'));
  return kExitOk;
}

int RunRoundSet(const QStringList &args) {
  CommandLine line(QStringLiteral("round set ROUND ARRESTER VALUE [options]"),
                   QStringLiteral("Stores one arrester's result in a round, typed by hand: 12.3 or 12.3mA\n"
                                  "(mA), 0.5A, or OL for an overload. A value that cannot be read is\n"
                                  "refused (exit 6). A result stored earlier for the arrester is replaced."));
  line.addOption(
      {QStringLiteral("kv"), QStringLiteral("The operating voltage in kV."), QStringLiteral("kV")});
  line.addOption({QStringLiteral("note"), QStringLiteral("A note."), QStringLiteral("text")});
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ROUND"),
                                    QStringLiteral("The round, as 'round list' shows it."));
  line.parser.addPositionalArgument(QStringLiteral("ARRESTER"),
                                    QStringLiteral("The arrester, as 'assets list' shows it."));
  line.parser.addPositionalArgument(QStringLiteral("VALUE"), QStringLiteral("The total leakage current."));
  if (const int rc = line.parse(args, 3, 3); rc >= 0) return rc;
  const QStringList given = line.parser.positionalArguments();
  ResultRecord result;
  result.note = line.parser.value(QStringLiteral("note")).trimmed();
  QString why;
  if (line.parser.isSet(QStringLiteral("kv"))) {
    result.operatingKv = NumberOption(line, QStringLiteral("kv"), 0.001, 2000, &why);
    if (!result.operatingKv) return line.usageError(why);
  }
  const std::optional<TypedValue> value = ParseTypedValue(given[2]);
  if (!value) {
    Err(QStringLiteral("arrester-cli: cannot read the value %1 (write 12.3, 12.3mA, 0.5A or OL); nothing "
                       "stored\n")
            .arg(EscapeControls(given[2])));
    return kExitRefused;
  }

  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  int rc = -1;
  const std::optional<RoundRecord> round = FindRound(line, store, given[0], &rc);
  if (!round) return rc;
  const std::optional<ArresterRecord> arrester = store.findArrester(given[1].trimmed());
  if (!arrester) return line.usageError(QStringLiteral("no single arrester has the ID %1").arg(given[1]));
  if (arrester->station != round->station)
    return line.usageError(
        QStringLiteral("arrester %1 is at %2, the round is of %3")
            .arg(ShortId(arrester->uuid), EscapeControls(arrester->station), EscapeControls(round->station)));
  result.roundUuid = round->uuid;
  result.arresterUuid = arrester->uuid;
  result.reading = value->reading;
  result.milliAmps = value->milliAmps;
  result.source = ResultSource::Manual;
  if (!store.saveResult(result)) return ArchiveError(archive, store.errorText());
  Out(AlignedRows({QStringList{ShortId(round->uuid), ShortId(arrester->uuid)} + PlaceCells(*arrester) +
                   QStringList{ReadingText(result.reading, result.milliAmps)}}));
  return kExitOk;
}

int RunRoundList(const QStringList &args) {
  CommandLine line(QStringLiteral("round list [options]"),
                   QStringLiteral("Lists the test rounds, newest first: ID, date, station, results stored\n"
                                  "of the arresters in service, tester, instrument, weather, temperature\n"
                                  "and humidity."));
  line.addOption(
      {QStringLiteral("station"), QStringLiteral("Only this station's rounds."), QStringLiteral("name")});
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;
  const QString station = line.parser.value(QStringLiteral("station")).trimmed();
  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  const std::optional<QList<RoundRecord>> rounds = store.rounds(station);
  const std::optional<QList<ResultRecord>> results = rounds ? store.allResults(station) : std::nullopt;
  const std::optional<QList<ArresterRecord>> arresters = results ? store.arresters(station) : std::nullopt;
  if (!arresters) return ArchiveError(archive, store.errorText());
  if (rounds->isEmpty()) return kExitOk;
  QHash<QString, int> resultsOf;
  for (const ResultRecord &r : *results) ++resultsOf[r.roundUuid];
  QHash<QString, int> inService;
  for (const RoundRecord &r : *rounds)
    if (!inService.contains(r.station))
      inService.insert(r.station, int(TestOrder(*arresters, r.station).size()));
  QList<QStringList> rows{{QStringLiteral("ID"), QStringLiteral("日期"), QStringLiteral("变电站"),
                           QStringLiteral("结果"), QStringLiteral("测试人"), QStringLiteral("仪器"),
                           QStringLiteral("天气"), QStringLiteral("温度"), QStringLiteral("湿度")}};
  const auto orDash = [](const QString &text) {
    return text.isEmpty() ? QStringLiteral("-") : EscapeControls(text);
  };
  for (const RoundRecord &r : *rounds)
    rows << QStringList{
        ShortId(r.uuid),
        r.date.toString(QStringLiteral("yyyy-MM-dd")),
        EscapeControls(r.station),
        QStringLiteral("%1/%2").arg(resultsOf.value(r.uuid)).arg(inService.value(r.station)),
        orDash(r.tester),
        orDash(r.instrument),
        orDash(r.weather),
        r.temperatureC ? QStringLiteral("%1°C").arg(*r.temperatureC) : QStringLiteral("-"),
        r.humidityPercent ? QStringLiteral("%1%").arg(*r.humidityPercent) : QStringLiteral("-")};
  Out(AlignedRows(rows));
  return kExitOk;
}

}  // namespace

int RunRound(const QStringList &args) {
  return RunSubcommand(
      args,
      QStringLiteral(
          "Usage: arrester-cli round <command> [options]\n"
          "Test rounds (each command takes --help):\n"
          "  new --station S          start a round; prints its ID\n"
          "  fill ROUND DOWNLOAD      its results from a download, in test order\n"
          "  set ROUND ARRESTER VALUE one arrester's result typed by hand (12.3, 12.3mA, 0.5A, OL)\n"
          "  list                     the rounds, newest first\n"),
      {{"new", RunRoundNew}, {"fill", RunRoundFill}, {"set", RunRoundSet}, {"list", RunRoundList}});
}

}  // namespace cli
