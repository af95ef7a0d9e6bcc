// Lock files, access rights and live processes on POSIX systems.
#include "serial/port_opening.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <limits>
#include <signal.h>
#include <unistd.h>

namespace {

// The process id a lock file names: ASCII digits (serial terminals write
// "%10d\n", Qt's lock files "pid\nname\nhost"), or the old 4-byte binary form.
qint64 LockFilePid(const QByteArray &content) {
  const QByteArray text = content.trimmed();
  int digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits > 0) return text.left(digits).toLongLong();
  if (content.size() == int(sizeof(qint32))) {
    qint32 binary = 0;
    std::memcpy(&binary, content.constData(), sizeof binary);
    return binary;
  }
  return 0;
}

}  // namespace

bool DeviceAccessibleByUser(const QString &device) {
  return ::access(device.toLocal8Bit().constData(), R_OK | W_OK) == 0;
}

QStringList DefaultLockFolders() {
  return {QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/var/spool/locks"),
          QStringLiteral("/var/spool/uucp"), QStringLiteral("/etc/locks")};
}

// Lock files are named after the device without its /dev/ folder, slashes
// turned into underscores (LCK..ttyUSB0, LCK..pts_3); some programs use only
// the last part of the path (LCK..3).
qint64 LockHolder(const QString &device, const QStringList &folders) {
  QString underDev = device;
  if (underDev.startsWith(QLatin1String("/dev/"))) underDev = underDev.mid(5);
  underDev.replace(QLatin1Char('/'), QLatin1Char('_'));
  QStringList names{QStringLiteral("LCK..") + underDev};
  const QString base = QStringLiteral("LCK..") + device.section(QLatin1Char('/'), -1);
  if (!names.contains(base)) names << base;
  for (const QString &folder : folders) {
    for (const QString &name : names) {
      QFile lock(folder + QLatin1Char('/') + name);
      if (!lock.open(QIODevice::ReadOnly)) continue;
      const qint64 pid = LockFilePid(lock.read(64));
      if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) continue;
      if (::kill(pid_t(pid), 0) == 0 || errno == EPERM) return pid;
    }
  }
  return 0;
}
