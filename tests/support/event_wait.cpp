#include "event_wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>

namespace testsupport {

bool waitUntil(const std::function<bool()> &pred, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!pred()) {
    if (deadline.hasExpired()) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void pumpEvents(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

QString makeTemporaryPortsDir() {
  static QTemporaryDir *dir = nullptr;
  delete dir;
  dir = new QTemporaryDir;
  qputenv("ARRESTER_PORTS_DIR", dir->path().toLocal8Bit());
  return dir->path();
}

}  // namespace testsupport
