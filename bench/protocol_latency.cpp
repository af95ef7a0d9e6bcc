// How fast a reply becomes visible: from the moment a pseudo-terminal peer has
// written a live reply to the moment Label7 shows the new reading, at two line
// speeds (a pseudo-terminal has no wire time of its own, so the figure is what
// the program adds to the wire time printed beside it), without and with the
// recorder writing every reading to an archive; and how long a full 255-group
// history block takes to become the table in RichTextBox1.
#include <QApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/controls.h"
#include "app/form2.h"
#include "archive/recorder.h"
#include "numbers/format_reading.h"
#include "serial/comm_control.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 300;

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

void Print(const char *name, double value, const char *unit) {
  std::printf("%s: %.3f %s\n", name, value, unit);
}

// The live reading text sample i produces: i / 100 mA, code 1.
QString CaptionOf(int i) {
  return FormatReading(static_cast<float>(i % 9000 + 1) / 100.0f) + QStringLiteral("mA");
}

// Peer side: writes one live reply per sample and waits until the window has
// shown it (or gave up) before the next.
struct Peer {
  int master = -1;
  std::atomic<int> shown{-1};
  std::vector<Clock::time_point> written = std::vector<Clock::time_point>(kSamples);

  void run() {
    for (int i = 0; i < kSamples; ++i) {
      const int count = i % 9000 + 1;
      const char reply[3] = {static_cast<char>(count / 100), static_cast<char>(count % 100), 1};
      written[i] = Clock::now();
      if (::write(master, reply, 3) != 3) return;
      written[i] = Clock::now();  // the peer has finished writing
      const auto deadline = Clock::now() + std::chrono::seconds(1);
      while (shown.load() < i && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  }
};

double MeasureLive(Form2 &form, int master, const char *settings, const char *name, double wireMs) {
  if (!form.MSComm1->setSettings(QString::fromLatin1(settings))) {
    std::printf("%s: settings refused\n", name);
    return 0;
  }
  Peer peer;
  peer.master = master;
  std::vector<double> latencies;
  int expected = 0;
  const auto connection = QObject::connect(form.MSComm1, &CommControl::OnComm, &form, [&] {
    // Runs right after the window's own receive handler.
    const Clock::time_point now = Clock::now();
    while (expected < kSamples && form.Label7->text() != CaptionOf(expected)) ++expected;
    if (expected >= kSamples) return;
    latencies.push_back(std::chrono::duration<double, std::milli>(now - peer.written[expected]).count());
    peer.shown.store(expected);
    ++expected;
  });
  // The window's thread sleeps in its event loop, as in the running program,
  // and is woken by the port.
  QEventLoop loop;
  std::thread t([&] {
    peer.run();
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec();
  t.join();
  QObject::disconnect(connection);

  char label[128];
  std::snprintf(label, sizeof label, "live_reply_to_label7_%s_median", name);
  Print(label, Percentile(latencies, 0.5), "ms");
  std::snprintf(label, sizeof label, "live_reply_to_label7_%s_p99", name);
  Print(label, Percentile(latencies, 0.99), "ms");
  std::snprintf(label, sizeof label, "live_reply_wire_time_3_bytes_%s", name);
  Print(label, wireMs, "ms");
  std::printf("live_replies_shown_%s: %zu of %d\n", name, latencies.size(), kSamples);
  return Percentile(latencies, 0.5);
}

void MeasureHistory(Form2 &form) {
  QByteArray block;
  for (int k = 1; k <= 255; ++k) {
    const int count = (k * 1237) % 10000;
    block.append(static_cast<char>(count / 100)).append(static_cast<char>(count % 100));
    block.append(static_cast<char>(1 + k % 20));
  }
  std::vector<double> times;
  for (int rep = 0; rep < 60; ++rep) {
    form.CommandBuffer = QByteArray(1, 25);
    form.GroupCount = 255;
    form.ReceiveBuffer = block;
    QElapsedTimer timer;
    timer.start();
    form.DispatchReply();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    QCoreApplication::processEvents();
  }
  Print("history_255_groups_to_richtextbox1_median", Percentile(times, 0.5), "ms");
}

// The window's own share of a live reply: dispatch, decode, ring, chart redraw.
void MeasureLiveDecode(Form2 &form) {
  std::vector<double> times;
  for (int i = 0; i < kSamples; ++i) {
    const int count = i % 9000 + 1;
    form.CommandBuffer = QByteArray(1, 35);
    form.ReceiveBuffer = QByteArray();
    form.ReceiveBuffer.append(static_cast<char>(count / 100))
        .append(static_cast<char>(count % 100))
        .append('\x01');
    QElapsedTimer timer;
    timer.start();
    form.DispatchReply();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  Print("live_reply_dispatch_and_redraw_median", Percentile(times, 0.5), "ms");
}

}  // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir ports;
  qputenv("ARRESTER_PORTS_DIR", ports.path().toLocal8Bit());

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::printf("live_reply_to_label7: no pseudo-terminal\n");
    return 1;
  }
  QFile::link(QString::fromLocal8Bit(::ptsname(master)), ports.filePath(QStringLiteral("COM1")));

  Form2 form;
  form.ResetMainChart();
  form.ResetLevelRuler();
  form.ResetTimeRuler();
  form.TraceActive = true;  // the trace is drawn, as while running
  form.show();
  form.MSComm1->setCommPort(1);
  form.MSComm1->setPortOpen(true);
  if (!form.MSComm1->PortOpen()) {
    std::printf("live_reply_to_label7: port did not open (%s)\n", qPrintable(form.MSComm1->ErrorText()));
    return 1;
  }
  // The window waits for live replies from here on; the peer drains the request.
  form.SendCommand(35);
  QCoreApplication::processEvents();
  char drain[16];
  pollfd p{master, POLLIN, 0};
  while (::poll(&p, 1, 100) > 0 && ::read(master, drain, sizeof drain) > 0) {
  }

  const double off = MeasureLive(form, master, "9600,N,8,1", "9600baud", 30.0 / 9600 * 1000);
  MeasureLive(form, master, "115200,N,8,1", "115200baud", 30.0 / 115200 * 1000);
  {
    // The same, with a run being recorded as the program does by default.
    QTemporaryDir archiveDir;
    const QString archivePath = archiveDir.filePath(QStringLiteral("archive.sqlite"));
    Recorder recorder(archivePath);
    form.AttachArchive(archivePath, &recorder);
    form.Command1_Click();  // a run: its readings go into a recording
    const double on = MeasureLive(form, master, "9600,N,8,1", "9600baud_recording", 30.0 / 9600 * 1000);
    Print("live_reply_to_label7_recording_minus_not_recording_median", on - off, "ms");
    form.EndRunRecording();
    recorder.flush();
    std::printf("live_readings_recorded: %lld\n", static_cast<long long>(recorder.stats().committedReadings));
    form.AttachArchive(QString(), nullptr);
  }

  MeasureLiveDecode(form);
  form.RichTextBox1->setVisible(true);
  MeasureHistory(form);

  form.MSComm1->setPortOpen(false);
  ::close(master);
  return 0;
}
