// Figure lines, scenario options and samples of this process.
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <sys/resource.h>

#include "stress_driver.h"

namespace stress {

bool Figure(const QString &name, const QString &value, bool ok, const QString &limit) {
  const QByteArray line = QStringLiteral("FIGURE\t%1\t%2\t%3\t%4\n")
                              .arg(ok ? QStringLiteral("ok") : QStringLiteral("FAIL"), name, value, limit)
                              .toUtf8();
  std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
  std::fflush(stdout);
  return ok;
}

void Note(const QString &text) {
  const QByteArray line = text.toUtf8() + '\n';
  std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

int ParseOptions(QCommandLineParser &parser, const QStringList &args, const QString &description) {
  parser.setApplicationDescription(description);
  parser.addHelpOption();
  if (!parser.parse(QStringList{QStringLiteral("stress-driver")} + args) ||
      !parser.positionalArguments().isEmpty()) {
    Note(parser.errorText().isEmpty()
             ? QStringLiteral("unexpected arguments: ") + parser.positionalArguments().join(QLatin1Char(' '))
             : parser.errorText());
    return 2;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    Note(parser.helpText());
    return 0;
  }
  return -1;
}

ProcessSample SampleSelf() {
  ProcessSample s;
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    for (const QByteArray &line : status.readAll().split('\n')) {
      if (line.startsWith("VmRSS:")) s.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
  }
  s.openFds =
      int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  s.cpuSeconds = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  s.wallMs = clock.elapsed();
  return s;
}

double CpuPercent(const ProcessSample &from, const ProcessSample &to) {
  const qint64 wall = to.wallMs - from.wallMs;
  return wall <= 0 ? 0.0 : 100.0 * (to.cpuSeconds - from.cpuSeconds) * 1000.0 / double(wall);
}

}  // namespace stress
