// check: SQLite's own integrity check of the archive file, in plain words.
#include <QFileInfo>
#include <QSqlQuery>

#include "archive/archive.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"

namespace cli {

int RunCheck(const QStringList &args) {
  CommandLine line(QStringLiteral("check [options]"),
                   QStringLiteral("Reads every page of the archive file and checks that its tables and\n"
                                  "indexes agree (SQLite's integrity check). Prints \"ok\" when the file\n"
                                  "is sound; otherwise each problem found, one a line, and exits with 1.\n"
                                  "Nothing is changed in the file."));
  line.addArchiveOption();
  if (const int rc = line.parse(args, 0, 0); rc >= 0) return rc;
  const QString path = ResolveArchivePath(line.parser.value(QStringLiteral("archive")));
  // Opening would make a new, empty archive where there is none.
  if (!QFileInfo(path).isFile()) {
    Err(QStringLiteral("arrester-cli: archive %1: no such file\n").arg(path));
    return kExitFailure;
  }
  Archive archive;
  if (!archive.open(path, false)) {
    Err(QStringLiteral("arrester-cli: archive %1: %2\n").arg(path, archive.errorText()));
    return kExitFailure;
  }
  QSqlQuery q(archive.database());
  q.setForwardOnly(true);
  QStringList problems;
  if (q.exec(QStringLiteral("PRAGMA integrity_check"))) {
    while (q.next()) problems << q.value(0).toString();
  }
  if (q.lastError().type() != QSqlError::NoError) {
    Err(QStringLiteral("arrester-cli: archive %1 cannot be checked, it is damaged beyond reading: %2\n")
            .arg(path, q.lastError().text()));
    return kExitFailure;
  }
  if (problems == QStringList{QStringLiteral("ok")}) {
    Out(QStringLiteral("ok\n"));
    return kExitOk;
  }
  Out(problems.join(QLatin1Char('\n')) + QLatin1Char('\n'));
  Err(QStringLiteral("arrester-cli: archive %1 is damaged: %2 problem(s) found; copy what 'list' and "
                     "'export' still read to a new archive, or go back to a backup\n")
          .arg(path)
          .arg(problems.size()));
  return kExitFailure;
}

}  // namespace cli
