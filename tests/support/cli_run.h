#pragma once
// arrester-cli run as a real program by the tests. Header only: each test
// target that includes it defines ARRESTER_CLI_PATH.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

struct CliRun {
  int exitCode = -1;  // -1 when the tool crashed or had to be killed
  QString out;
  QString err;
  QStringList outLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Starts the tool on the archive file `archive`, with the test's environment
// plus `env` ("NAME=value"; "NAME=" alone with an empty value) and without
// the variables named in `unset`.
inline void StartCli(QProcess &p, const QStringList &args, const QString &archive,
                     const QStringList &env = {}, const QStringList &unset = {}) {
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  e.insert(QStringLiteral("ARRESTER_ARCHIVE"), archive);
  for (const QString &name : unset) e.remove(name);
  for (const QString &kv : env) e.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
  p.setProcessEnvironment(e);
  p.start(QStringLiteral(ARRESTER_CLI_PATH), args);
}

// Waits for the tool to end (killing it after timeoutMs) and collects its output.
// Waiting runs no event loop of ours: the tool is a separate process.
inline CliRun FinishCli(QProcess &p, int timeoutMs) {
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
  }
  CliRun r;
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace testsupport
