// assets import, list and order: the arrester register from the shell; and
// the helpers the register commands share.
#include <QFile>
#include <QSaveFile>

#include <cstdio>

#include "archive/archive.h"
#include "archive/asset_store.h"
#include "assessment/register_csv.h"
#include "assessment/test_order.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

namespace {

// Characters of a uuid shown in listings; any unique prefix selects one.
constexpr int kShortId = 8;

// Columns a terminal gives a character: two for the wide (CJK) ones.
int DisplayWidth(const QString &text) {
  int width = 0;
  for (const char32_t c : text.toUcs4()) {
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    width += wide ? 2 : 1;
  }
  return width;
}

// Reads a whole file, "-" being standard input; an error text when it cannot.
std::optional<QByteArray> ReadInput(const QString &path, QString *error) {
  QFile f;
  const bool opened = path == QLatin1String("-") ? f.open(stdin, QIODevice::ReadOnly)
                                                 : (f.setFileName(path), f.open(QIODevice::ReadOnly));
  if (!opened) {
    *error = f.errorString();
    return std::nullopt;
  }
  QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    *error = f.errorString();
    return std::nullopt;
  }
  return bytes;
}

// Writes `bytes` to a file that appears only once complete, or to standard
// output for "-" (without the byte-order mark there, as export does).
int WriteOutput(const QString &path, QByteArray bytes) {
  if (path == QLatin1String("-")) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
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

int RunAssetsImport(const QStringList &args) {
  CommandLine line(
      QStringLiteral("assets import FILE.csv [options]"),
      QStringLiteral("Adds the arresters of a CSV file to the register, or updates them: an arrester\n"
                     "is the same when station, voltage level, bay, phase and serial number are.\n"
                     "Columns by their Chinese or English names, in any order: 变电站/station,\n"
                     "电压等级/voltage_level, 间隔/bay, 相别/phase (these four are required),\n"
                     "型号/model, 出厂编号/serial, 厂家/maker, 投运日期/commissioned,\n"
                     "初始值/initial_ma, 初始值日期/initial_date, 退役/retired, 备注/note.\n"
                     "UTF-8 or GBK; dates YYYY-MM-DD; values 0.52, 0.52mA or 0.00052A. A\n"
                     "column the file lacks leaves the stored arresters' values as they are.\n"
                     "All or nothing: a faulty row is printed as \"line L: what is wrong\" on\n"
                     "standard error and nothing is imported (exit 6). Prints what was added,\n"
                     "updated and left unchanged."));
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("FILE.csv"),
                                    QStringLiteral("The register file, or - for standard input."));
  if (const int rc = line.parse(args, 1, 1); rc >= 0) return rc;
  const QString path = line.parser.positionalArguments().first();
  QString why;
  const std::optional<QByteArray> bytes = ReadInput(path, &why);
  if (!bytes) {
    Err(QStringLiteral("arrester-cli: %1: %2\n").arg(path, why));
    return kExitFailure;
  }
  const ParsedRegister parsed = ParseRegisterCsv(*bytes);
  if (!parsed.problems.isEmpty()) {
    QString text;
    for (const ImportProblem &p : parsed.problems)
      text += QStringLiteral("line %1: %2\n").arg(p.line).arg(EscapeControls(p.text));
    text += QStringLiteral("arrester-cli: %1: %2 faulty %3; nothing imported\n")
                .arg(path)
                .arg(parsed.problems.size())
                .arg(parsed.problems.size() == 1 ? QStringLiteral("row") : QStringLiteral("rows"));
    Err(text);
    return kExitRefused;
  }
  // A misspelt column name would silently leave its values out.
  if (!parsed.ignoredColumns.isEmpty())
    Err(QStringLiteral("arrester-cli: %1: columns not known, ignored: %2\n")
            .arg(path, EscapeControls(parsed.ignoredColumns.join(QStringLiteral(", ")))));
  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  ImportCounts counts;
  // Planned against the register as it stands, in the same transaction: a
  // column the file lacks keeps each stored arrester's value.
  std::optional<QList<ArresterRecord>> stored;
  const bool imported = archive.beginWrite() && (stored = store.arresters()) &&
                        store.importArresters(ImportRows(PlanImport(parsed, *stored)), &counts) &&
                        archive.commit();
  if (!imported) {
    const QString why = store.errorText().isEmpty() ? archive.errorText() : store.errorText();
    archive.rollback();
    return ArchiveError(archive, why);
  }
  Out(QStringLiteral("added %1, updated %2, unchanged %3\n")
          .arg(counts.added)
          .arg(counts.updated)
          .arg(counts.unchanged));
  return kExitOk;
}

int RunAssetsList(const QStringList &args) {
  CommandLine line(QStringLiteral("assets list [options]"),
                   QStringLiteral("Lists the arrester register by station, voltage level, bay and phase:\n"
                                  "ID, station, voltage level, bay, phase, serial number, model, initial\n"
                                  "value in mA, and 退役 for an arrester out of service. --csv writes the\n"
                                  "register as CSV instead (UTF-8 with a byte-order mark, Chinese column\n"
                                  "names, readable again by 'assets import')."));
  line.addOption(
      {QStringLiteral("station"), QStringLiteral("Only this station's arresters."), QStringLiteral("name")});
  line.addOption({QStringLiteral("csv"), QStringLiteral("Write CSV to FILE (- for standard output)."),
                  QStringLiteral("file")});
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;
  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  const std::optional<QList<ArresterRecord>> arresters =
      store.arresters(line.parser.value(QStringLiteral("station")).trimmed());
  if (!arresters) return ArchiveError(archive, store.errorText());
  if (line.parser.isSet(QStringLiteral("csv"))) {
    const int rc = WriteOutput(line.parser.value(QStringLiteral("csv")), RegisterCsv(*arresters));
    return rc >= 0 ? rc : kExitOk;
  }
  if (arresters->isEmpty()) return kExitOk;
  QList<QStringList> rows{{QStringLiteral("ID"), QStringLiteral("变电站"), QStringLiteral("电压等级"),
                           QStringLiteral("间隔"), QStringLiteral("相别"), QStringLiteral("出厂编号"),
                           QStringLiteral("型号"), QStringLiteral("初始值mA"), QString()}};
  for (const ArresterRecord &a : *arresters)
    rows << QStringList{ShortId(a.uuid)} + PlaceCells(a) +
                QStringList{EscapeControls(a.model),
                            a.initialMilliAmps ? MilliAmpsText(*a.initialMilliAmps) : QStringLiteral("-"),
                            a.retired ? QStringLiteral("退役") : QString()};
  Out(AlignedRows(rows));
  return kExitOk;
}

int RunAssetsOrder(const QStringList &args) {
  CommandLine line(QStringLiteral("assets order --station S [options]"),
                   QStringLiteral("Prints a station's test order: the order in which the arresters are\n"
                                  "clamped and one group each stored in the meter, so that a download is\n"
                                  "the round in that order (see 'round fill'). Voltage level, highest\n"
                                  "first; then bay; then phase A, B, C. Retired arresters are left out.\n"
                                  "One line per arrester: its number (the group it is stored as), ID,\n"
                                  "station, voltage level, bay, phase and serial number."));
  line.addOption({QStringLiteral("station"), QStringLiteral("The station."), QStringLiteral("name")});
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;
  const QString station = line.parser.value(QStringLiteral("station")).trimmed();
  if (station.isEmpty()) return line.usageError(QStringLiteral("assets order needs --station S"));
  Archive archive;
  if (const int rc = OpenArchiveOf(line, archive); rc >= 0) return rc;
  AssetStore store(archive);
  const std::optional<QList<ArresterRecord>> arresters = store.arresters(station);
  if (!arresters) return ArchiveError(archive, store.errorText());
  const QList<ArresterRecord> order = TestOrder(*arresters, station);
  if (order.isEmpty())
    return line.usageError(
        QStringLiteral("no arrester in service at station %1").arg(EscapeControls(station)));
  QList<QStringList> rows;
  for (int k = 0; k < order.size(); ++k)
    rows << QStringList{QString::number(k + 1).rightJustified(3), ShortId(order[k].uuid)} +
                PlaceCells(order[k]);
  Out(AlignedRows(rows));
  return kExitOk;
}

}  // namespace

int RunSubcommand(const QStringList &args, const QString &overview, const QList<Subcommand> &subcommands) {
  const QString command = args.value(0);
  const QString name = args.value(1);
  if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
    Out(overview + QLatin1Char('\n') + QString::fromLatin1(ExitCodesHelp()));
    return kExitOk;
  }
  if (name.isEmpty()) {
    Err(overview);
    return kExitUsage;
  }
  for (const Subcommand &s : subcommands)
    if (name == QLatin1String(s.name))
      return s.run(QStringList{command + QLatin1Char(' ') + name} + args.mid(2));
  return UsageError(command, QStringLiteral("unknown %1 command: %2").arg(command, name));
}

int OpenArchiveOf(const CommandLine &line, Archive &archive) {
  const QString path = ResolveArchivePath(line.parser.value(QStringLiteral("archive")));
  if (archive.open(path)) return -1;
  Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(path, archive.errorText()));
  return kExitFailure;
}

int ArchiveError(const Archive &archive, const QString &error) {
  Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(archive.path(), error));
  return kExitFailure;
}

QString ShortId(const QString &uuid) { return EscapeControls(uuid.left(kShortId)); }

QStringList PlaceCells(const ArresterRecord &a) {
  return {EscapeControls(a.station), EscapeControls(a.voltageLevel), EscapeControls(a.bay),
          EscapeControls(a.phase),
          a.serialNumber.isEmpty() ? QStringLiteral("-") : EscapeControls(a.serialNumber)};
}

QString MilliAmpsText(double milliAmps) { return QString::number(milliAmps, 'g', 6); }

QString ReadingText(ResultReading reading, std::optional<double> milliAmps) {
  switch (reading) {
    case ResultReading::Value:
      return milliAmps ? MilliAmpsText(*milliAmps) + QStringLiteral(" mA") : QStringLiteral("无效");
    case ResultReading::Overload: return QStringLiteral("OL");
    case ResultReading::Invalid: break;
  }
  return QStringLiteral("无效");
}

QString AlignedRows(const QList<QStringList> &rows) {
  QList<int> widths;
  for (const QStringList &row : rows)
    for (int c = 0; c < row.size(); ++c) {
      if (c == widths.size()) widths << 0;
      widths[c] = qMax(widths[c], DisplayWidth(row[c]));
    }
  QString text;
  for (const QStringList &row : rows) {
    QString out;
    for (int c = 0; c < row.size(); ++c) {
      if (c > 0) out += QStringLiteral("  ");
      out += row[c];
      if (c + 1 < row.size()) out += QString(widths[c] - DisplayWidth(row[c]), QLatin1Char(' '));
    }
    // Trailing spaces of empty last cells serve nobody.
    while (out.endsWith(QLatin1Char(' '))) out.chop(1);
    text += out + QLatin1Char('\n');
  }
  return text;
}

int RunAssets(const QStringList &args) {
  return RunSubcommand(
      args,
      QStringLiteral("Usage: arrester-cli assets <command> [options]\n"
                     "The arrester register (each command takes --help):\n"
                     "  import FILE.csv        add or update arresters from a CSV file, all or nothing\n"
                     "  list [--station S]     the register, or --csv FILE to write it as CSV\n"
                     "  order --station S      a station's test order, the order the groups are stored in\n"),
      {{"import", RunAssetsImport}, {"list", RunAssetsList}, {"order", RunAssetsOrder}});
}

}  // namespace cli
