// list, export and label: the archive from the shell.
#include <QDateTime>

#include "archive/archive.h"
#include "archive/csv_export.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/outputs.h"

namespace cli {

namespace {

// Characters of a uuid shown in listings; any unique prefix selects an entry.
constexpr int kShortId = 8;

QString LocalMinuteText(qint64 utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Opens the archive named by --archive / $ARRESTER_ARCHIVE; -1 or an exit code.
int OpenArchive(const CommandLine &line, Archive &archive) {
  const QString path = ResolveArchivePath(line.parser.value(QStringLiteral("archive")));
  if (archive.open(path)) return -1;
  Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(path, archive.errorText()));
  return kExitFailure;
}

// The entry an ID (a uuid or a unique prefix) names; an error message when none.
std::optional<EntrySummary> FindEntry(Archive &archive, const QString &id, QString *error) {
  std::optional<EntrySummary> e = archive.findEntry(id.trimmed());
  if (!e) *error = QStringLiteral("no single recording or download has the ID %1").arg(id);
  return e;
}

// Who made an entry where, "user@host"; "-" when the archive does not know.
QString OriginText(const EntrySummary &e) {
  if (e.hostName.isEmpty() && e.userName.isEmpty()) return QStringLiteral("-");
  return EscapeControls(e.userName) + QLatin1Char('@') + EscapeControls(e.hostName);
}

}  // namespace

int RunList(const QStringList &args) {
  CommandLine line(QStringLiteral("list [options]"),
                   QStringLiteral("Lists the recordings and downloads in the archive, newest first: ID,\n"
                                  "kind, start, port, rows, first and last reading, user@computer,\n"
                                  "label. Kind is live, download, or repeat: a download whose bytes are\n"
                                  "those of the latest download from the same port (not sent by sync).\n"
                                  "Control characters in the archive's texts are shown as \\t, \\n,\n"
                                  "\\xHH or \\u{HHHH}. An ID may be shortened to any prefix that names\n"
                                  "one entry."));
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;
  Archive archive;
  if (const int rc = OpenArchive(line, archive); rc >= 0) return rc;
  const QList<EntrySummary> entries = archive.listEntries();
  if (!archive.errorText().isEmpty() && entries.isEmpty()) {
    Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(archive.path(), archive.errorText()));
    return kExitFailure;
  }
  QString text;
  for (const EntrySummary &e : entries) {
    QString kind = e.kind == EntryKind::Recording ? QStringLiteral("live")
                   : e.repeatOf.isEmpty()         ? QStringLiteral("download")
                                                  : QStringLiteral("repeat");
    QString rows = QString::number(e.count);
    if (e.kind == EntryKind::Download && !e.complete)
      rows += e.groupsAnnounced == kGroupsAnnouncedUnknown
                  ? QStringLiteral("/? count unknown")
                  : QStringLiteral("/%1 incomplete").arg(e.groupsAnnounced);
    // Everything the archive holds as text is shown escaped: a file from
    // elsewhere must not drive the terminal.
    const QString range =
        e.first && e.last ? EscapeControls(e.first->text + QStringLiteral(" .. ") + e.last->text) : QString();
    text += QStringLiteral("%1  %2  %3  %4  %5  %6  %7  %8")
                .arg(EscapeControls(e.uuid.left(kShortId)), -kShortId)
                .arg(kind, -8)
                .arg(LocalMinuteText(e.startedMs))
                .arg(EscapeControls(e.portName), -5)
                .arg(rows, 6)
                .arg(range, -24)
                .arg(OriginText(e), -16)
                .arg(EscapeControls(e.label))
                .trimmed() +
            QLatin1Char('\n');
  }
  Out(text);
  return kExitOk;
}

int RunExport(const QStringList &args) {
  CommandLine line(QStringLiteral("export ID... --csv FILE [options]"),
                   QStringLiteral("Writes the readings of the named recordings and downloads as CSV\n"
                                  "(RFC 4180, UTF-8 with a byte-order mark; - writes plain UTF-8 to\n"
                                  "standard output; --encoding gbk for old spreadsheet programs). The\n"
                                  "file appears only once it is complete."));
  line.addOption({QStringLiteral("csv"), QStringLiteral("The CSV file, or - for standard output."),
                  QStringLiteral("file")});
  line.addEncodingOption();
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("Entries as 'list' shows them."),
                                    QStringLiteral("ID..."));
  if (const int rc = line.parse(args, 1, -1); rc >= 0) return rc;
  const QString csv = line.parser.value(QStringLiteral("csv"));
  if (csv.isEmpty()) return line.usageError(QStringLiteral("export needs --csv FILE"));
  QString why;
  const std::optional<bool> gbk = line.gbkEncoding(&why);
  if (!gbk) return line.usageError(why);
  Archive archive;
  if (const int rc = OpenArchive(line, archive); rc >= 0) return rc;
  QList<EntrySummary> entries;
  for (const QString &id : line.parser.positionalArguments()) {
    QString error;
    const std::optional<EntrySummary> e = FindEntry(archive, id, &error);
    if (!e) return line.usageError(error);
    entries << *e;
  }
  const int rc = WriteCsv(archive, entries, csv, *gbk);
  return rc >= 0 ? rc : kExitOk;
}

int RunLabel(const QStringList &args) {
  CommandLine line(QStringLiteral("label ID TEXT [options]"),
                   QStringLiteral("Sets the label of a recording or download (an empty TEXT clears it)."));
  line.addArchiveOption();
  line.parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("The entry, as 'list' shows it."));
  line.parser.addPositionalArgument(
      QStringLiteral("TEXT"),
      QStringLiteral("The new label: at most %1 characters, no control characters.").arg(kMaxLabelLength));
  if (const int rc = line.parse(args, 2, 2); rc >= 0) return rc;
  const QString label = line.parser.positionalArguments()[1];
  qsizetype length = 0;
  char32_t control = 0;
  switch (CheckLabel(label, &length, &control)) {
    case LabelProblem::TooLong:
      return line.usageError(QStringLiteral("the label is %1 characters long; at most %2 are allowed")
                                 .arg(length)
                                 .arg(kMaxLabelLength));
    case LabelProblem::ControlCharacter:
      return line.usageError(
          QStringLiteral("the label holds a control character (U+%1); labels are one line of plain text")
              .arg(QString::number(uint(control), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
    case LabelProblem::None: break;
  }
  Archive archive;
  if (const int rc = OpenArchive(line, archive); rc >= 0) return rc;
  QString error;
  const std::optional<EntrySummary> e = FindEntry(archive, line.parser.positionalArguments()[0], &error);
  if (!e) return line.usageError(error);
  if (!archive.setLabel(e->kind, e->uuid, label)) {
    Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(archive.path(), archive.errorText()));
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace cli
