#include "archive/archive_types.h"

#include <QSysInfo>
#include <windows.h>

void FillOrigin(QString &hostName, QString &userName) {
  if (hostName.isEmpty()) hostName = QSysInfo::machineHostName();
  if (userName.isEmpty()) {
    // The account the program runs as; the environment only when Windows
    // does not say.
    wchar_t name[257];
    DWORD size = sizeof name / sizeof name[0];
    if (GetUserNameW(name, &size) && size > 1)
      userName = QString::fromWCharArray(name, static_cast<qsizetype>(size - 1));
    if (userName.isEmpty()) userName = qEnvironmentVariable("USERNAME");
  }
}
