// A process that records into an archive through a Recorder, driven line by
// line on standard input, so that tests can kill it, limit its file sizes or
// run two at once. Commands:
//   begin            open a recording           -> "begun <uuid>"
//   append N         queue the next N sample readings
//   stream           keep appending, 5 readings a millisecond
//   end              end the recording
//   unlimit          lift the file size limit
//   flush            -> "flushed 1" or "flushed 0"
//   quit             exit (the Recorder commits what it can)
// It reports "failed <kind>", "recovered" and, whenever they change,
// "stats <committed> <failed attempts> <dropped>".
// Options: --archive PATH, --fsize-limit BYTES (RLIMIT_FSIZE, with SIGXFSZ
// ignored so writes fail instead of killing), --unprivileged (when run as
// root, become nobody first so that file permissions apply).
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

#include "archive/recorder.h"
#include "sample_readings.h"

namespace {

void Say(const QByteArray &line) {
  std::fputs(line.constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void SetFileSizeLimit(rlim_t soft) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = soft;
  setrlimit(RLIMIT_FSIZE, &limit);
}

}  // namespace

int main(int argc, char **argv) {
  QString archivePath;
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg = argv[i];
    if (arg == "--archive" && i + 1 < argc) {
      archivePath = QString::fromLocal8Bit(argv[++i]);
    } else if (arg == "--fsize-limit" && i + 1 < argc) {
      std::signal(SIGXFSZ, SIG_IGN);
      SetFileSizeLimit(static_cast<rlim_t>(std::atoll(argv[++i])));
    } else if (arg == "--unprivileged" && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return 3;
    }
  }
  QCoreApplication app(argc, argv);
  Recorder recorder(archivePath);
  QObject::connect(&recorder, &Recorder::writeFailed, [](ArchiveFailure f, const QString &) {
    Say("failed " + QByteArray::number(static_cast<int>(f)));
  });
  QObject::connect(&recorder, &Recorder::writeRecovered, [] { Say("recovered"); });

  qint64 next = 0;
  auto append = [&](qint64 n) {
    for (qint64 k = 0; k < n; ++k, ++next) recorder.appendReading(SampleReading(next), SampleTime(next));
  };

  QTimer stream;
  QObject::connect(&stream, &QTimer::timeout, [&] { append(5); });

  QByteArray lastStats;
  QTimer statsTimer;
  QObject::connect(&statsTimer, &QTimer::timeout, [&] {
    const RecorderStats s = recorder.stats();
    const QByteArray line = "stats " + QByteArray::number(s.committedReadings) + ' ' +
                            QByteArray::number(s.failedAttempts) + ' ' +
                            QByteArray::number(s.droppedReadings);
    if (line != lastStats) Say(lastStats = line);
  });
  statsTimer.start(10);

  QByteArray pending;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      input.setEnabled(false);
      QCoreApplication::quit();
      return;
    }
    pending.append(buf, n);
    int eol;
    while ((eol = pending.indexOf('\n')) >= 0) {
      const QList<QByteArray> words = pending.left(eol).trimmed().split(' ');
      pending.remove(0, eol + 1);
      const QByteArray &cmd = words.first();
      if (cmd == "begin") {
        RecordingInfo info;
        info.portName = QStringLiteral("COM%1").arg(getpid());
        Say("begun " + recorder.beginRecording(info).toLatin1());
      } else if (cmd == "append" && words.size() > 1) {
        append(words[1].toLongLong());
      } else if (cmd == "stream") {
        stream.start(1);
      } else if (cmd == "end") {
        recorder.endRecording();
      } else if (cmd == "unlimit") {
        SetFileSizeLimit(RLIM_INFINITY);
      } else if (cmd == "flush") {
        Say(recorder.flush(30000) ? "flushed 1" : "flushed 0");
      } else if (cmd == "quit") {
        QCoreApplication::quit();
      }
    }
  });
  return app.exec();
}
