// The simulator under Wine: the test is a Windows program, the simulator a
// Linux one started through Wine, which hands it neither pipes nor signals.
// So it logs to a file and takes "vanish" and "stop" from a control file, both
// in a folder of the test's own; Windows paths in its arguments become Linux
// paths on the way.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "sim_process.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace testsupport {
namespace {

// The Linux path of a Windows path, through Wine's own kernel32 export.
QString LinuxPath(const QString &windowsPath) {
  using ToUnix = char *(CDECL *)(LPCWSTR);
  static const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return windowsPath;  // not under Wine: the simulator cannot run anyway
  const QString native = QDir::toNativeSeparators(windowsPath);
  char *unix = toUnix(reinterpret_cast<LPCWSTR>(native.utf16()));
  if (!unix) return windowsPath;
  const QString path = QString::fromUtf8(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return path;
}

QString ControlFile(const QString &dir) { return dir + QStringLiteral("/control"); }

}  // namespace

void MeterSim::startProcess(const QStringList &args) {
  static const QRegularExpression windowsPath(QStringLiteral("^[A-Za-z]:[\\\\/]"));
  QTemporaryDir dir;
  dir.setAutoRemove(false);
  controlDir_ = dir.path();
  QStringList linuxArgs;
  for (const QString &arg : args) linuxArgs << (windowsPath.match(arg).hasMatch() ? LinuxPath(arg) : arg);
  linuxArgs << QStringLiteral("--log") << LinuxPath(controlDir_ + QStringLiteral("/log"))
            << QStringLiteral("--control") << LinuxPath(ControlFile(controlDir_));
  QFile(ControlFile(controlDir_)).open(QIODevice::WriteOnly);
  QProcess::startDetached(QString::fromUtf8(METER_SIM_PATH), linuxArgs);
}

QByteArray MeterSim::readNewOutput() {
  QFile log(controlDir_ + QStringLiteral("/log"));
  if (!log.open(QIODevice::ReadOnly) || !log.seek(logRead_)) return {};
  const QByteArray more = log.readAll();
  logRead_ += more.size();
  return more;
}

bool MeterSim::isRunning() const { return !controlDir_.isEmpty() && !stopped_; }

void MeterSim::sendVanish() {
  QFile control(ControlFile(controlDir_));
  if (control.open(QIODevice::Append)) control.write("vanish\n");
}

// The simulator looks at its control file every 20 ms; a while later it has
// stopped and removed its link, before the next test places its own.
void MeterSim::stopProcess() {
  QFile control(ControlFile(controlDir_));
  if (control.open(QIODevice::Append)) control.write("stop\n");
  control.close();
  Sleep(300);
  takeOutput();  // before its log goes with the folder
  QDir(controlDir_).removeRecursively();
}

}  // namespace testsupport
