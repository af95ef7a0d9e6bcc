// list, export and label: the archive from the shell.
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

namespace {

int NotAvailable(CommandLine &line, const QStringList &args) {
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, -1); rc >= 0) return rc;
  return line.usageError(QStringLiteral("'%1' is not available yet: this build has no archive").arg(line.command()));
}

}  // namespace

int RunList(const QStringList &args) {
  CommandLine line(QStringLiteral("list [options]"),
                   QStringLiteral("Lists the recordings and downloads in the archive, newest first."));
  return NotAvailable(line, args);
}

int RunExport(const QStringList &args) {
  CommandLine line(QStringLiteral("export ID... --csv FILE [options]"),
                   QStringLiteral("Writes the readings of recordings or downloads as CSV."));
  return NotAvailable(line, args);
}

int RunLabel(const QStringList &args) {
  CommandLine line(QStringLiteral("label ID TEXT [options]"),
                   QStringLiteral("Sets the label of a recording or download."));
  return NotAvailable(line, args);
}

}  // namespace cli
