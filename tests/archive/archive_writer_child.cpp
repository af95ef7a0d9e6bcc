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
// Options: --archive PATH, --fsize-limit BYTES (a cap on file sizes, where the
// system has one), --unprivileged (when run as root, act as nobody so that
// file permissions apply).
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "archive/recorder.h"
#include "file_size_limit.h"  // support/posix or support/win, by system
#include "sample_readings.h"
#include "unprivileged.h"

namespace {

void Say(const QByteArray &line) {
  std::fputs(line.constData(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Standard input, line by line, read on a thread of its own (a pipe cannot
// be watched by the event loop on every system). The thread only queues the
// lines; the main thread takes them every few milliseconds, so the reader,
// still blocked on its input as the process ends, never calls into Qt.
class LineReader {
 public:
  LineReader() {
    std::thread([this] {
      char buf[256];
      while (std::fgets(buf, sizeof buf, stdin)) {
        std::lock_guard<std::mutex> lock(m_);
        lines_.emplace_back(buf);
      }
      ended_ = true;
    }).detach();
  }
  // Lines read so far; `ended` once input is over.
  std::deque<std::string> take(bool *ended) {
    *ended = ended_;
    std::lock_guard<std::mutex> lock(m_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex m_;
  std::deque<std::string> lines_;
  std::atomic<bool> ended_{false};
};

int Run(QCoreApplication &app, int argc, char **argv) {
  QString archivePath;
  std::optional<FileSizeCap> sizeCap;
  std::optional<Unprivileged> asNobody;
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg = argv[i];
    if (arg == "--archive" && i + 1 < argc) {
      archivePath = QString::fromLocal8Bit(argv[++i]);
    } else if (arg == "--fsize-limit" && i + 1 < argc) {
      sizeCap.emplace(std::atoll(argv[++i]));
    } else if (arg == "--unprivileged") {
      asNobody.emplace();
    }
  }
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

  auto handle = [&](const QByteArray &line) {
    const QList<QByteArray> words = line.split(' ');
    const QByteArray &cmd = words.first();
    if (cmd == "begin") {
      RecordingInfo info;
      info.portName = QStringLiteral("COM%1").arg(QCoreApplication::applicationPid());
      Say("begun " + recorder.beginRecording(info).toLatin1());
    } else if (cmd == "append" && words.size() > 1) {
      append(words[1].toLongLong());
    } else if (cmd == "stream") {
      stream.start(1);
    } else if (cmd == "end") {
      recorder.endRecording();
    } else if (cmd == "unlimit") {
      sizeCap.reset();
    } else if (cmd == "flush") {
      Say(recorder.flush(30000) ? "flushed 1" : "flushed 0");
    } else if (cmd == "quit") {
      QCoreApplication::quit();
    }
  };
  // The reader lives on past the application, as its thread may.
  static LineReader *input = new LineReader;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    bool ended = false;
    for (const std::string &line : input->take(&ended)) handle(QByteArray::fromStdString(line).trimmed());
    if (ended) QCoreApplication::quit();
  });
  poll.start(5);
  return app.exec();
}

}  // namespace

// Ends without running the C library's exit handlers, which would wait for
// the standard input the reading thread may still be blocked on. The Recorder
// has committed by then.
int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  const int rc = Run(app, argc, argv);
  std::fflush(stdout);
  std::_Exit(rc);
}
