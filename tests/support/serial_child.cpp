#include "support/serial_child.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QSerialPort>
#include <cstdio>

#include "app/controls.h"
#include "app/form2.h"
#include "support/pty.h"

namespace {

int HoldDevice(int argc, char **argv, const QString &device) {
  QCoreApplication app(argc, argv);
  QSerialPort port(device);
  if (!port.open(QIODevice::ReadWrite)) {
    std::printf("failed %s\n", qPrintable(port.errorString()));
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  while (std::fgetc(stdin) != EOF) {
  }
  return 0;
}

int OpenWindowPort(int argc, char **argv) {
  QApplication app(argc, argv);
  Form2 w;
  w.SetDefaultSerialSettings();
  w.OpenSerialPort();
  std::printf("%s\n%s\n%d\n%d\n", w.Label1->text().toUtf8().constData(),
              w.Label6->text().toUtf8().constData(), int(w.Shape1->Lit()), int(w.Timer1->Enabled()));
  return 0;
}

}  // namespace

int RunSerialChildIfAsked(int argc, char **argv) {
  const QString mode = qEnvironmentVariable("SERIAL_TEST_CHILD");
  if (mode.startsWith(QLatin1String("hold:"))) return HoldDevice(argc, argv, mode.mid(5));
  if (mode == QLatin1String("open-window")) return OpenWindowPort(argc, argv);
  return -1;
}

DeviceHolder::DeviceHolder(const QString &device) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("SERIAL_TEST_CHILD"), QStringLiteral("hold:") + device);
  process_.setProcessEnvironment(env);
  process_.start(QCoreApplication::applicationFilePath(), {});
  if (!process_.waitForStarted(5000)) return;
  while (process_.waitForReadyRead(5000)) {
    if (process_.canReadLine()) {
      holding_ = process_.readLine().startsWith("held");
      return;
    }
  }
}

void DeviceHolder::release() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.closeWriteChannel();
  if (!process_.waitForFinished(5000)) process_.kill();
  process_.waitForFinished(1000);
  holding_ = false;
}

std::unique_ptr<DeviceHolder> PrepareOpenFailure(const QString &kind, const QString &portsDir,
                                                 const QString &device, bool *ok) {
  *ok = true;
  if (kind == QLatin1String("dangling"))
    *ok = testsupport::LinkPort(portsDir, 1, QStringLiteral("/nonexistent/ttyUSB9"));
  if (kind == QLatin1String("plainfile")) {
    // A file that is no serial device, unique so that parallel tests do not
    // meet at its lock file (as they would at /dev/null).
    QFile plain(portsDir + QStringLiteral("/not-a-tty"));
    *ok = plain.open(QIODevice::WriteOnly) && testsupport::LinkPort(portsDir, 1, plain.fileName());
  }
  if (kind != QLatin1String("held") && kind != QLatin1String("forbidden")) return nullptr;
  auto holder = std::make_unique<DeviceHolder>(device);
  *ok = holder->holding();
  return holder;
}
