// On Windows COMn is the device itself: there are no lock files (the system
// lets one program at a time open a port), and a port's access is not set
// per user, so a refused open means another program holds it.
#include "serial/port_opening.h"

bool DeviceAccessibleByUser(const QString &) { return true; }

QStringList DefaultLockFolders() { return {}; }

qint64 LockHolder(const QString &, const QStringList &) { return 0; }
